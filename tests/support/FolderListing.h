#pragma once
// What a test sees in a folder.
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

// The names of the entries in `folder` (files and folders), sorted; none
// when the folder is missing or cannot be read.
inline std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace testsupport

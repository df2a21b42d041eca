#include "download/DlFileWriting.h"

#include <filesystem>

#include "download/SiblingFile.h"

namespace dl {

void ForceFolders(const std::string& path) {
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
}

bool WriteTextFile(const std::string& path, std::string_view content, TDateTime date) {
    try {
        SiblingFile file(std::filesystem::path(path).parent_path().string());
        return file.TakeName(path, content, date);
    } catch (...) {
        return false;
    }
}

}  // namespace dl

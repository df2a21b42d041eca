#pragma once
// A fresh directory under the system temp folder, removed with its contents.
#include <filesystem>
#include <random>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        for (;;) {
            path_ = std::filesystem::temp_directory_path() / ("brelvo-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace testsupport

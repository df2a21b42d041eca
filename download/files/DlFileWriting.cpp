#include "download/files/DlFileWriting.h"

#include <cerrno>
#include <filesystem>

#include "download/files/PartFile.h"

namespace dl {

void ForceFolders(const std::string& path) { MakeFolders(path); }

int WriteFileWhole(const std::string& path, std::string_view content, TDateTime date) {
    try {
        int error = 0;
        auto file = PartFile::Create(std::filesystem::path(path).parent_path().string(), error);
        if (!file) return error;
        if ((error = file->Append(content.data(), content.size())) != 0) return error;
        return file->TakeName(path, date);
    } catch (...) {
        return ENOMEM;
    }
}

bool WriteTextFile(const std::string& path, std::string_view content, TDateTime date) {
    return WriteFileWhole(path, content, date) == 0;
}

}  // namespace dl

#include "download/files/FolderLock.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>

namespace dl {

namespace {

// The folder itself, however its path is written: its device and inode when
// it is there, else its path made absolute.
std::string keyOf(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) == 0)
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    std::error_code ignored;
    return std::filesystem::absolute(folder, ignored).lexically_normal().string();
}

std::shared_ptr<std::mutex> mutexOf(const std::string& folder) {
    static std::mutex registryMutex;
    static std::map<std::string, std::weak_ptr<std::mutex>> registry;
    const std::string key = keyOf(folder);
    std::lock_guard lock(registryMutex);
    // Folders nobody works in now are forgotten, so the map stays as small
    // as the folders in use.
    for (auto it = registry.begin(); it != registry.end();) it = it->second.expired() ? registry.erase(it) : ++it;
    std::weak_ptr<std::mutex>& entry = registry[key];
    std::shared_ptr<std::mutex> mutex = entry.lock();
    if (!mutex) {
        mutex = std::make_shared<std::mutex>();
        entry = mutex;
    }
    return mutex;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder) : mutex_(mutexOf(folder)), lock_(*mutex_) {}

}  // namespace dl

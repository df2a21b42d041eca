#include "download/PreparedFile.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "download/DlFileWriting.h"

namespace dl {

namespace {

constexpr std::size_t kFillPiece = 64 * 1024;
constexpr auto kWaitForData = std::chrono::milliseconds(2);

const std::string& madeFolder(const std::string& folder) {
    ForceFolders(folder);
    return folder;
}

}  // namespace

PreparedFile::PreparedFile(const std::string& folder, std::size_t size, const std::atomic<std::uint32_t>& received)
    : folder_(madeFolder(folder)), file_(folder_) {
    if (!file_.open()) return;
    helper_ = std::thread([this, size, &received] { fill(size, received); });
}

PreparedFile::~PreparedFile() { stopHelper(); }

void PreparedFile::stopHelper() {
    stop_ = true;
    if (helper_.joinable()) helper_.join();
}

void PreparedFile::fill(std::size_t size, const std::atomic<std::uint32_t>& received) {
    static const char zeros[kFillPiece] = {};
    const int fd = file_.fd();
    std::size_t filled = 0;
    while (!stop_ && filled < size) {
        const std::size_t allowed = std::min(size, static_cast<std::size_t>(received.load()) + kLead);
        if (filled >= allowed) {
            std::this_thread::sleep_for(kWaitForData);
            continue;
        }
        const std::size_t piece = std::min(kFillPiece, allowed - filled);
        const ssize_t n = ::pwrite(fd, zeros, piece, static_cast<off_t>(filled));
        if (n <= 0) return;  // no room: the final write will say so
        filled += static_cast<std::size_t>(n);
    }
}

bool PreparedFile::TakeName(const std::string& path, std::string_view content, TDateTime date) {
    stopHelper();
    return file_.TakeName(path, content, date);
}

}  // namespace dl

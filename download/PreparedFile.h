#pragma once
// The file a large download will become, made ready while the download is
// still arriving: a hidden file in the download folder whose pages a helper
// thread fills ahead, a little ahead of the bytes received. Writing the
// download at its end then only copies bytes into pages that are already
// there, instead of first having the system find 256 MiB of fresh memory
// for them. Dropped (helper stopped, file removed) unless it took a name.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "download/DlDateTime.h"
#include "download/SiblingFile.h"

namespace dl {

class PreparedFile {
public:
    // The helper never runs further than this ahead of what has arrived, so
    // a server announcing more than it sends costs little.
    static constexpr std::size_t kLead = std::size_t(64) << 20;

    // Prepares `size` bytes in `folder` (made when missing). `received`
    // counts the bytes arrived so far; it must outlive this object.
    PreparedFile(const std::string& folder, std::size_t size, const std::atomic<std::uint32_t>& received);
    ~PreparedFile();
    PreparedFile(const PreparedFile&) = delete;
    PreparedFile& operator=(const PreparedFile&) = delete;

    const std::string& folder() const { return folder_; }
    // Stops the helper, writes `content` and gives the file the name `path`
    // (in the prepared folder) and `date`. Returns whether the file has that
    // name now.
    bool TakeName(const std::string& path, std::string_view content, TDateTime date);

private:
    void fill(std::size_t size, const std::atomic<std::uint32_t>& received);
    void stopHelper();

    std::string folder_;
    SiblingFile file_;
    std::atomic<bool> stop_{false};
    std::thread helper_;  // reads the stop flag and `received`, writes the file
};

}  // namespace dl

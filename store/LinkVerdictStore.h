#pragma once
// The verdicts of probed song links, kept in the store file so that they
// survive a restart and cost nothing to show: table linkverdicts, one row
// per address, made by the first save; a store that never saved one keeps
// tab1 alone, and reading one creates nothing. Through a connection of its
// own; one operation at a time.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "store/StoreConnection.h"

namespace store {

// The numbers are what the table holds.
enum class LinkVerdictKind : int {
    Audio = 0,        // 可用
    NotAudio = 1,     // 不是歌曲
    Dead = 2,         // 失效
    Unavailable = 3,  // 暂时不可用
};

struct StoredVerdict {
    std::string url;
    std::int64_t checkedAt = 0;  // seconds since 1970, UTC
    LinkVerdictKind verdict = LinkVerdictKind::Dead;
    int code = 0;  // the HTTP status, or the download road's error number
    std::string reason;
    int status = 0;
    std::optional<std::int64_t> size;
    std::optional<int> kbps;
    std::optional<double> seconds;
    std::string etag;
    std::string lastModified;

    bool operator==(const StoredVerdict&) const = default;
};

class LinkVerdictStore {
public:
    // Opens a connection of its own to the store file at `path`. Throws StoreError.
    explicit LinkVerdictStore(const std::string& path);

    // Keeps each verdict in place of the address's earlier one, all in one
    // transaction (the table made first when missing). Throws StoreError.
    void save(const std::vector<StoredVerdict>& verdicts,
              std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // The kept verdicts of these addresses, in their order, those without one
    // left out. A row no save could have written (an unknown verdict, a
    // negative size) is no verdict. Throws StoreError.
    std::vector<StoredVerdict> find(const std::vector<std::string>& urls,
                                    std::chrono::milliseconds wait = std::chrono::milliseconds(5000));

    // The kept verdicts of the addresses of tab1's rows with ids above
    // `afterRowid`, up to the largest id when it is read, each address once
    // however many rows hold it; and that largest id, for the next call. A
    // largest id below `afterRowid` (the table cleared since) reads every
    // row. One look-up per row in the address index: about as long as a
    // scan of the rows. Throws StoreError.
    struct SongVerdicts {
        std::vector<StoredVerdict> verdicts;
        std::int64_t lastRowid = 0;
    };
    SongVerdicts findOfSongs(std::int64_t afterRowid,
                             std::chrono::milliseconds wait = std::chrono::milliseconds(5000));
    // Any thread: the statement under way ends soon, throwing StoreError.
    void interrupt();

private:
    bool tableExistsLocked();

    std::mutex mutex_;
    std::unique_ptr<StoreConnection> db_;
};

}  // namespace store

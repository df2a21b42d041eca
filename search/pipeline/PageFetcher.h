#pragma once
// Fetches one result page. Implementations serialize fetches: a fetch waits
// until the previous one (perhaps of a halted search) has unwound.
#include <functional>
#include <string>

namespace search {

class PageFetcher {
public:
    virtual ~PageFetcher() = default;
    // Returns the response body; throws on any failure. `owner` identifies the
    // caller for interrupt(). `cancelled` is checked once the fetch can be
    // interrupted (and before any I/O): a caller that turns it true before
    // calling interrupt() never has that interrupt missed, even when it comes
    // while the fetch still waits for the previous one.
    virtual std::string fetch(const std::string& url, const void* owner,
                              const std::function<bool()>& cancelled) = 0;
    // Thread-safe: makes a fetch of `owner` that is in flight fail promptly;
    // does nothing when `owner` has no fetch in flight.
    virtual void interrupt(const void* owner) = 0;
};

}  // namespace search

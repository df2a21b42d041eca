#pragma once
// The fetching stage's page source: the program's own HTTP client, one
// fetch at a time, with interrupts aimed at one caller's fetch only.
#include <cstdint>
#include <mutex>

#include "http/NetHTTP.h"
#include "search/pipeline/PageFetcher.h"

namespace search {

class NetHttpPageFetcher : public PageFetcher {
public:
    // A result page is held whole in memory: longer bodies fail the fetch
    // instead of exhausting memory on a server that streams without end.
    static constexpr std::int64_t kMaxPageBytes = std::int64_t{16} << 20;

    NetHttpPageFetcher();

    std::string fetch(const std::string& url, const void* owner,
                      const std::function<bool()>& cancelled) override;
    void interrupt(const void* owner) override;

    net::TNetHTTP& client() { return NetHTTP1; }
    void setMaxPageBytes(std::int64_t bytes) { maxPageBytes_ = bytes; }

private:
    net::TNetHTTP NetHTTP1;
    std::int64_t maxPageBytes_ = kMaxPageBytes;
    std::mutex fetchMutex_;  // one fetch at a time, even across searches
    std::mutex ownerMutex_;  // guards owner_ and the client's interrupt flag
    const void* owner_ = nullptr;
};

}  // namespace search

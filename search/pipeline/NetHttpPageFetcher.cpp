#include "search/pipeline/NetHttpPageFetcher.h"

namespace search {
namespace {

class EPageTooLarge : public net::ENetException {
public:
    explicit EPageTooLarge(std::int64_t limit)
        : net::ENetException("Page larger than " + std::to_string(limit) + " bytes") {}
    const char* ClassName() const override { return "EPageTooLarge"; }
};

// A body stream that refuses to grow beyond a limit.
class CappedMemoryStream : public net::TNetMemoryStream {
public:
    explicit CappedMemoryStream(std::int64_t limit) : limit_(limit) {}

    std::int64_t Write(const void* buffer, std::int64_t count) override {
        check(Position() + count);
        return TNetMemoryStream::Write(buffer, count);
    }
    using TNetMemoryStream::Write;
    void SetSize(std::int64_t size) override {
        check(size);
        TNetMemoryStream::SetSize(size);
    }
    void ReserveCapacity(std::int64_t size) override {
        check(size);
        TNetMemoryStream::ReserveCapacity(size);
    }
    char* BeginDirectWrite(std::int64_t count) override {
        // Near the limit fall back to Write, which checks the exact count.
        if (Position() + count > limit_) return nullptr;
        return TNetMemoryStream::BeginDirectWrite(count);
    }

private:
    void check(std::int64_t end) const {
        if (end > limit_) throw EPageTooLarge(limit_);
    }
    std::int64_t limit_;
};

}  // namespace

NetHttpPageFetcher::NetHttpPageFetcher() { net::ApplyProgramSettings(NetHTTP1); }

std::string NetHttpPageFetcher::fetch(const std::string& url, const void* owner,
                                      const std::function<bool()>& cancelled) {
    std::lock_guard serial(fetchMutex_);
    {
        // An interrupt meant for an earlier fetch must not fail this one.
        std::lock_guard lock(ownerMutex_);
        NetHTTP1.ClearInterrupt();
        // An interrupt that came before this point (say, while waiting for
        // the previous fetch) found no fetch of ours; the caller's flag,
        // turned true before it, is seen here instead.
        if (cancelled && cancelled()) throw net::ENetInterrupted();
        owner_ = owner;
    }
    struct OwnerReset {
        NetHttpPageFetcher& self;
        ~OwnerReset() {
            std::lock_guard lock(self.ownerMutex_);
            self.owner_ = nullptr;
            self.NetHTTP1.ClearInterrupt();
        }
    } reset{*this};
    CappedMemoryStream body(maxPageBytes_);
    NetHTTP1.Get(url, body);
    return body.TakeString();
}

void NetHttpPageFetcher::interrupt(const void* owner) {
    std::lock_guard lock(ownerMutex_);
    if (owner && owner_ == owner) NetHTTP1.Interrupt();
}

}  // namespace search

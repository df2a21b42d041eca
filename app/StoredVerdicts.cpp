#include "app/StoredVerdicts.h"

namespace app {
namespace {

store::LinkVerdictKind kindOf(probe::LinkState state) {
    switch (state) {
    case probe::LinkState::Audio: return store::LinkVerdictKind::Audio;
    case probe::LinkState::NotAudio: return store::LinkVerdictKind::NotAudio;
    case probe::LinkState::Dead: return store::LinkVerdictKind::Dead;
    case probe::LinkState::Unavailable: return store::LinkVerdictKind::Unavailable;
    }
    return store::LinkVerdictKind::Dead;
}

probe::LinkState stateOf(store::LinkVerdictKind kind) {
    switch (kind) {
    case store::LinkVerdictKind::Audio: return probe::LinkState::Audio;
    case store::LinkVerdictKind::NotAudio: return probe::LinkState::NotAudio;
    case store::LinkVerdictKind::Dead: return probe::LinkState::Dead;
    case store::LinkVerdictKind::Unavailable: return probe::LinkState::Unavailable;
    }
    return probe::LinkState::Dead;
}

}  // namespace

store::StoredVerdict toStored(const std::string& url, const probe::LinkVerdict& verdict, std::int64_t checkedAt) {
    store::StoredVerdict stored;
    stored.url = url;
    stored.checkedAt = checkedAt;
    stored.verdict = kindOf(verdict.state);
    stored.code = verdict.code;
    stored.reason = verdict.reason;
    stored.status = verdict.status;
    // The store keeps signed sizes; none past what it can hold.
    if (verdict.size && *verdict.size <= static_cast<std::uint64_t>(INT64_MAX))
        stored.size = static_cast<std::int64_t>(*verdict.size);
    stored.kbps = verdict.kbps;
    stored.seconds = verdict.seconds;
    stored.etag = verdict.etag;
    stored.lastModified = verdict.lastModified;
    return stored;
}

probe::LinkVerdict fromStored(const store::StoredVerdict& stored) {
    probe::LinkVerdict verdict;
    verdict.state = stateOf(stored.verdict);
    verdict.code = stored.code;
    verdict.reason = stored.reason;
    verdict.status = stored.status;
    if (stored.size && *stored.size >= 0) verdict.size = static_cast<std::uint64_t>(*stored.size);
    verdict.kbps = stored.kbps;
    verdict.seconds = stored.seconds;
    verdict.etag = stored.etag;
    verdict.lastModified = stored.lastModified;
    return verdict;
}

}  // namespace app

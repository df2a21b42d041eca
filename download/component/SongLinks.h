#pragma once
// One song, several links: which of a song's other links it takes when the
// one it is on fails for good, and whether a failure is one that another
// link may mend. The owner knows the links and what probes said of them;
// this only orders and decides.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/engine/TransferOutcome.h"
#include "download/probe/LinkVerdict.h"

namespace dl {

// Links a song takes after its first, at most.
constexpr std::size_t kMaxFurtherLinks = 4;
// A link found dead is not tried again for this long after it was found so.
constexpr std::int64_t kDeadLinkRestSeconds = 3600;

struct LinkCandidate {
    std::string url;
    std::optional<probe::LinkVerdict> verdict;  // none: never probed
    std::int64_t checkedAt = 0;                 // when it was, seconds since 1970
};

// The candidates a song may take next, best first: those probed 可用
// (higher kbps first, then larger), then those never probed, then 暂时不可用,
// then 失效 and 不是歌曲 checked longer than kDeadLinkRestSeconds before
// `now` (more recent ones not at all). Links in `tried`, repeated ones and
// addresses that are not http or https are left out; ties keep their order.
std::vector<std::string> OrderNextLinks(const std::vector<LinkCandidate>& candidates,
                                        const std::vector<std::string>& tried, std::int64_t now);

// Whether another link of the song may do better than the one that ended
// so: a dead link (404, 410, 403, an address that leads nowhere), a host
// that cannot be reached, a server still failing once its tries are spent,
// and an answer that is not the song's audio. Not a stop, a disk, or a
// limit of the user's.
bool MovesToNextLink(const TransferOutcome& outcome);

}  // namespace dl

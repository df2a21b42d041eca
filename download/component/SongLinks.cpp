#include "download/component/SongLinks.h"

#include <algorithm>
#include <set>

#include "download/values/AsciiCase.h"

namespace dl {
namespace {

// Lower ranks go first; kSkipped never goes.
constexpr int kSkipped = 99;

int rankOf(const LinkCandidate& link, std::int64_t now) {
    if (!link.verdict) return 1;
    switch (link.verdict->state) {
    case probe::LinkState::Audio: return 0;
    case probe::LinkState::Unavailable: return 2;
    case probe::LinkState::Dead:
    case probe::LinkState::NotAudio: return now - link.checkedAt >= kDeadLinkRestSeconds ? 3 : kSkipped;
    }
    return kSkipped;
}

bool isWebAddress(const std::string& url) {
    const std::string head = AsciiLowerCase(url.substr(0, 8));
    return (head.rfind("http://", 0) == 0 && url.size() > 7) || (head.rfind("https://", 0) == 0 && url.size() > 8);
}

}  // namespace

std::vector<std::string> OrderNextLinks(const std::vector<LinkCandidate>& candidates,
                                        const std::vector<std::string>& tried, std::int64_t now) {
    struct Ranked {
        const LinkCandidate* link;
        int rank;
    };
    std::set<std::string> seen(tried.begin(), tried.end());
    std::vector<Ranked> ranked;
    for (const LinkCandidate& link : candidates) {
        if (!isWebAddress(link.url) || !seen.insert(link.url).second) continue;
        const int rank = rankOf(link, now);
        if (rank != kSkipped) ranked.push_back({&link, rank});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        if (a.rank != 0) return false;
        const probe::LinkVerdict& x = *a.link->verdict;
        const probe::LinkVerdict& y = *b.link->verdict;
        if (x.kbps.value_or(0) != y.kbps.value_or(0)) return x.kbps.value_or(0) > y.kbps.value_or(0);
        return x.size.value_or(0) > y.size.value_or(0);
    });
    std::vector<std::string> order;
    for (const Ranked& r : ranked) order.push_back(r.link->url);
    return order;
}

bool MovesToNextLink(const TransferOutcome& outcome) {
    switch (outcome.failure) {
    case FailureClass::LinkDead:
    case FailureClass::HostUnreachable:
    case FailureClass::ServerFailing:
    case FailureClass::NotAudio: return true;
    // A refusal a probe counts as dead.
    case FailureClass::NotWhatWasAsked: return outcome.statusCode == 403;
    default: return false;
    }
}

}  // namespace dl

#include "search/PageCutter.h"

#include <algorithm>
#include <iterator>

#include "platform/GbkCodec.h"
#include "search/ForwardFinder.h"

namespace search {
namespace {

// A rest without an anchor marker loses this many bytes per pass: the
// position after a marker that was not found.
constexpr std::size_t kBytesDroppedWithoutAnchor = kAnchorMarker.size() - 1;

// Removes every occurrence of `what`, scanning left to right once; text
// that only forms `what` after a removal stays.
void removeAll(std::string& text, std::string_view what) {
    std::size_t hit = text.find(what);
    if (hit == std::string::npos) return;
    std::string kept;
    kept.reserve(text.size());
    std::size_t from = 0;
    while (hit != std::string::npos) {
        kept.append(text, from, hit - from);
        from = hit + what.size();
        hit = text.find(what, from);
    }
    kept.append(text, from);
    text = std::move(kept);
}

}  // namespace

std::string cleanTitle(std::string_view rawTitle) {
    std::string title(rawTitle);
    removeAll(title, "&nbsp;");
    removeAll(title, "<font color=#dd0000>");
    removeAll(title, "</font>");
    removeAll(title, " -");
    return title;
}

std::string cleanAddress(std::string_view rawAddress) {
    const std::size_t target = rawAddress.find(kTargetWord);
    if (target != std::string_view::npos) rawAddress = rawAddress.substr(0, target);
    std::string address;
    address.reserve(rawAddress.size());
    std::copy_if(rawAddress.begin(), rawAddress.end(), std::back_inserter(address),
                 [](char c) { return c != '"'; });
    return address;
}

CutOutcome cutLinks(std::string_view page, std::int32_t pageCounter, std::int32_t& linkCounter,
                    const LinkHandler& onLink) {
    constexpr std::size_t npos = ForwardFinder::npos;
    // `rest` is where the part not yet cut begins; it only moves forward,
    // which is what lets every marker search reuse its last answer.
    ForwardFinder anchors(page, kAnchorMarker);
    ForwardFinder tagEnds(page, kTagEnd);
    ForwardFinder mp3Markers(page, kMp3Marker);
    ForwardFinder anchorEnds(page, kAnchorEnd);
    std::size_t rest = 0;
    while (rest < page.size()) {
        const std::size_t anchor = anchors.findFrom(rest);
        rest = anchor == npos ? std::min(page.size(), rest + kBytesDroppedWithoutAnchor)
                              : anchor + kAnchorMarker.size();

        // The address runs up to the next ">", which stays at the head of
        // the rest. Without a ">" the address is empty and the rest stays.
        const std::size_t tagEnd = tagEnds.findFrom(rest);
        if (tagEnd == npos) continue;
        const std::size_t addressStart = rest;
        rest = tagEnd;

        const std::size_t mp3 = mp3Markers.findFrom(addressStart);
        if (mp3 == npos || mp3 + kMp3Marker.size() > tagEnd) continue;

        if (limitReached(pageCounter, linkCounter)) return CutOutcome::LimitReached;

        // The address decides whether the link is kept; the title, cut
        // from the ">" to the next "</a>", is only needed when it is.
        const std::string address = cleanAddress(page.substr(addressStart, tagEnd - addressStart));
        if (address.size() >= kMaxAddressLength) continue;
        const std::size_t anchorEnd = anchorEnds.findFrom(tagEnd);
        const std::string title =
            anchorEnd == npos ? std::string() : cleanTitle(page.substr(tagEnd + 1, anchorEnd - tagEnd - 1));

        // Counted before the insert, so failed inserts count too.
        ++linkCounter;
        onLink(title, address);
        // The rest is left at the ">": the next anchor is searched from there.
    }
    return CutOutcome::PageDone;
}

bool cutPage(SearchState& state, CutSink& sink) {
    const std::string page = std::move(state.pageText);
    state.pageText.clear();

    const CutOutcome outcome =
        cutLinks(page, state.pageCounter, state.linkCounter, [&sink](std::string_view title, std::string_view url) {
            const std::string titleUtf8 = platform::gbkToUtf8(title);
            sink.appendLog(std::string(kFoundLine) + titleUtf8);
            // Read outside the insert's failure handling: a keyword that
            // cannot be read is the stage's failure, not a bad row.
            const std::string keyword = sink.currentKeyword();
            try {
                sink.insertSong(titleUtf8, platform::gbkToUtf8(url), keyword);
            } catch (...) {
                sink.appendLog(std::string(kInvalidRowLine));
            }
        });
    if (outcome == CutOutcome::LimitReached) return true;

    sink.appendLog(std::string(kCountLine) + std::to_string(sink.requeryAndCount()));
    return false;
}

}  // namespace search

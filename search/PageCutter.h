#pragma once
// Cutting the song links out of one result page of the search service.
//
// The page is searched as plain text, byte by byte, for quoted `.mp3`
// anchors; it is no HTML parser, and the exact position rules below decide
// what is stored. `cutLinks` is the cutting core, free of store and log;
// `cutPage` is the cutting stage's step on the shared search state.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "search/SearchState.h"

namespace search {

enum class CutOutcome {
    PageDone,      // the whole page was cut
    LimitReached,  // the stop test fired at a candidate; the rest of the page is dropped
};

// Fixed texts the cutter searches for, on the lower-cased page.
inline constexpr std::string_view kAnchorMarker = "<a href=";
inline constexpr std::string_view kTagEnd = ">";
inline constexpr std::string_view kAnchorEnd = "</a>";
inline constexpr std::string_view kMp3Marker = ".mp3\"";
inline constexpr std::string_view kTargetWord = "target";

// A cleaned address this long or longer is dropped.
inline constexpr std::size_t kMaxAddressLength = 150;
// The stop test: a search ends at the first candidate found beyond these.
inline constexpr std::int32_t kLastPage = 8;
inline constexpr std::int32_t kLastLink = 300;

// Log lines of the cutting stage (UTF-8).
inline constexpr std::string_view kFoundLine = "找到相关歌曲名称：";
inline constexpr std::string_view kInvalidRowLine = "清除了一条无效数据！";
inline constexpr std::string_view kCountLine = "当前歌曲数量：\u3000";

// True when a search must end at the candidate just found.
inline bool limitReached(std::int32_t pageCounter, std::int32_t linkCounter) {
    return pageCounter > kLastPage || linkCounter > kLastLink;
}

// The title between ">" and "</a>" without "&nbsp;", then without
// "<font color=#dd0000>", then "</font>", then " -"; nothing else changes.
std::string cleanTitle(std::string_view rawTitle);

// The address text up to "target" (when present), without double quotes.
std::string cleanAddress(std::string_view rawAddress);

using LinkHandler = std::function<void(std::string_view title, std::string_view url)>;

// Cuts every accepted link out of `page` (lower-cased GBK bytes). For each
// one the link counter is raised first and then `onLink` gets the cleaned
// title and address as raw page bytes. Returns LimitReached when the stop
// test fired at a candidate (with `pageCounter` and the link counter as they
// stand then); nothing after that candidate is cut. Runs in time linear in
// the page size, plus the size of the titles handed out.
CutOutcome cutLinks(std::string_view page, std::int32_t pageCounter, std::int32_t& linkCounter,
                    const LinkHandler& onLink);

// What the cutting stage needs from the rest of the program: the message
// log, the keyword box and the song store. All texts are UTF-8.
class CutSink {
public:
    virtual ~CutSink() = default;
    virtual void appendLog(const std::string& utf8Line) = 0;
    virtual std::string currentKeyword() = 0;
    // Throws when the row cannot be stored.
    virtual void insertSong(const std::string& titleUtf8, const std::string& urlUtf8,
                            const std::string& keywordUtf8) = 0;
    // Re-opens the results query and returns its record count.
    virtual int requeryAndCount() = 0;
};

// The cutting stage's step: takes `state.pageText` (leaving it empty), cuts
// it, logs a "found" line and inserts a row for every accepted link, logging
// the invalid-row line when an insert throws (whatever it throws). When the
// whole page was cut it re-queries and logs the song count. Returns true
// when the limit was reached; the count line is then not written. Failures
// of the log, the keyword read and the re-query propagate to the caller.
bool cutPage(SearchState& state, CutSink& sink);

}  // namespace search

// The page cutter on arbitrary page bytes: the fast cutter must agree with
// the literal reference, and the whole step (with UTF-8 conversion and a
// store that sometimes fails) must not crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "tests/support/LiteralCutter.h"

namespace {

constexpr std::int32_t kPageCounters[] = {0, 1, 8, 9, -1, std::numeric_limits<std::int32_t>::max()};
constexpr std::int32_t kLinkCounters[] = {0,  299, 300, 301, std::numeric_limits<std::int32_t>::min(),
                                          -7, std::numeric_limits<std::int32_t>::max()};

void fail(const char* what) {
    std::fprintf(stderr, "fast and literal cutter differ: %s\n", what);
    std::abort();
}

class ThrowingSink : public search::CutSink {
public:
    void appendLog(const std::string& line) override { logged_ += line.size(); }
    std::string currentKeyword() override { return "keyword"; }
    void insertSong(const std::string& title, const std::string& url, const std::string&) override {
        if (++inserts_ % 2 == 0) throw std::runtime_error("insert failed");
        logged_ += title.size() + url.size();
    }
    int requeryAndCount() override { return inserts_; }

private:
    int inserts_ = 0;
    std::size_t logged_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::int32_t pageCounter = kPageCounters[data[0] % std::size(kPageCounters)];
    const std::int32_t linkCounter = kLinkCounters[(data[0] / 8) % std::size(kLinkCounters)];
    const bool lowerCase = (data[1] & 1) != 0;
    std::string page(reinterpret_cast<const char*>(data + 2), size - 2);
    if (lowerCase) search::lowerCasePage(page);

    const literal_cutter::Result expected = literal_cutter::cut(page, pageCounter, linkCounter);
    std::vector<literal_cutter::Link> links;
    std::int32_t counter = linkCounter;
    const search::CutOutcome outcome =
        search::cutLinks(page, pageCounter, counter, [&](std::string_view title, std::string_view url) {
            links.push_back({std::string(title), std::string(url)});
        });
    if ((outcome == search::CutOutcome::LimitReached) != expected.limitReached) fail("outcome");
    if (counter != expected.linkCounter) fail("link counter");
    if (links != expected.links) fail("links");

    search::SearchState state;
    state.pageText = page;
    state.pageCounter = pageCounter;
    state.linkCounter = linkCounter;
    ThrowingSink sink;
    if (search::cutPage(state, sink) != expected.limitReached) fail("step outcome");
    if (state.linkCounter != expected.linkCounter || !state.pageText.empty()) fail("step state");
    return 0;
}

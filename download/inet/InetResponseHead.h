#pragma once
// The header lines of one HTTP response as curl hands them over, one at a
// time: interim answers, the final head, and a chunked body's trailer. It
// keeps the final head and refuses a response whose head, or whose trailer,
// passes the bounds below, so that memory never follows what a server sends
// there. Trailer lines are counted and dropped (nothing reads them).
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inet {

// Bounds of a response head (its interim answers included) and, apart, of
// its trailer: lines, and bytes with their line ends.
constexpr std::size_t kMaxHeadLines = 1000;
constexpr std::size_t kMaxHeadBytes = 256 * 1024;

class ResponseHead {
public:
    // One line with its line end. False when the response is refused: the
    // head or the trailer has passed its bounds. Refused stays refused.
    bool takeLine(std::string_view line);
    // Body bytes have come: the head is over (they stand for it where the
    // response had none).
    void bodyBegins() { complete_ = true; }

    bool complete() const { return complete_; }
    // A status line has come, so the response had begun.
    bool begun() const { return !statusLine_.empty(); }
    bool refused() const { return refused_; }
    int status() const { return status_; }
    const std::string& statusLine() const { return statusLine_; }
    const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }

private:
    bool count(std::size_t bytes);

    bool complete_ = false;
    bool refused_ = false;
    int status_ = 0;
    std::string statusLine_;
    std::vector<std::pair<std::string, std::string>> headers_;
    // What the head, then the trailer, has used of its bounds.
    std::size_t lines_ = 0;
    std::size_t bytes_ = 0;
    bool inTrailer_ = false;
};

}  // namespace inet

#include "download/inet/InetResponseHead.h"

#include <algorithm>
#include <cstdlib>

namespace inet {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(std::string_view text) {
    auto begin = std::find_if_not(text.begin(), text.end(), isBlank);
    auto end = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return begin < end ? std::string(begin, end) : std::string();
}

// The three digits after the protocol word, or 0.
int statusOf(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return 0;
    int status = 0;
    std::size_t i = space + 1;
    for (int digits = 0; digits < 3; ++digits, ++i) {
        if (i >= line.size() || line[i] < '0' || line[i] > '9') return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

}  // namespace

bool ResponseHead::count(std::size_t bytes) {
    ++lines_;
    bytes_ += bytes;
    if (lines_ > kMaxHeadLines || bytes_ > kMaxHeadBytes) refused_ = true;
    return !refused_;
}

bool ResponseHead::takeLine(std::string_view line) {
    if (refused_) return false;
    if (complete_) {
        // The trailer, after a chunked body: bounded on its own, then dropped.
        if (!inTrailer_) {
            inTrailer_ = true;
            lines_ = bytes_ = 0;
        }
        return count(line.size());
    }
    if (!count(line.size())) return false;
    if (line.rfind("HTTP/", 0) == 0) {
        // A new head: an interim 1xx answer may have come first.
        statusLine_ = trimmed(line);
        headers_.clear();
        status_ = statusOf(statusLine_);
        return true;
    }
    const std::string text = trimmed(line);
    if (text.empty()) {
        // The end of a head: the final one unless it was an interim answer.
        if (status_ >= 200 || status_ == 0) complete_ = true;
        return true;
    }
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos)
        headers_.emplace_back(std::string(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    return true;
}

}  // namespace inet

#pragma once
// What one response head may cost the client: its status lines (interim
// answers included) and header lines, or a chunked body's trailer.
#include <cstdint>
#include <string>

#include "http/NetHTTP.h"

namespace net {

class TNetCustomHTTP::HeadBudget {
public:
    // Counts one line of the head; header lines also count against the line
    // bound. Throw ENetResponseHeadTooLarge past either bound.
    void take(const std::string& line, bool headerLine) {
        bytes_ += static_cast<std::int64_t>(line.size()) + 2;
        if (headerLine) ++lines_;
        if (lines_ > kMaxHeaderLines || bytes_ > kMaxHeadBytes) throw ENetResponseHeadTooLarge();
    }

private:
    int lines_ = 0;
    std::int64_t bytes_ = 0;
};

}  // namespace net

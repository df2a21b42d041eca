#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/inet/InetResponseHead.h"

namespace {

struct Fed {
    bool refusedAt = false;  // some line was refused
    inet::ResponseHead head;
};

Fed feed(const std::vector<std::string>& lines, int bodyAfter = -1) {
    Fed f;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        if (i == bodyAfter) f.head.bodyBegins();
        if (!f.head.takeLine(lines[static_cast<std::size_t>(i)])) f.refusedAt = true;
    }
    if (bodyAfter >= static_cast<int>(lines.size())) f.head.bodyBegins();
    return f;
}

std::vector<std::string> many(const std::string& first, std::size_t count, const std::string& line) {
    std::vector<std::string> lines{first};
    lines.insert(lines.end(), count, line);
    return lines;
}

}  // namespace

TEST(ResponseHead, KeepsTheFinalHeadAndHoldsItsBounds) {
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        int bodyAfter;
        bool complete;
        bool refused;
        int status;
        std::size_t headers;
    };
    const std::string line40 = "X-Pad: " + std::string(31, 'p') + "\r\n";  // 40 bytes
    const std::vector<Case> cases = {
        {"a plain head", {"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "\r\n"}, -1, true, false, 200, 1},
        {"an interim answer first",
         {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 404 Not Found\r\n", "A: 1\r\n", "\r\n"}, -1, true, false, 404,
         1},
        {"cut short", {"HTTP/1.1 200 OK\r\n", "A: 1\r\n"}, -1, false, false, 200, 1},
        {"body bytes stand for the head", {"HTTP/1.1 200 OK\r\n"}, 1, true, false, 200, 0},
        {"a status that is no number", {"HTTP/1.1 2x0 OK\r\n", "\r\n"}, -1, true, false, 0, 0},
        {"1,000 lines in all", many("HTTP/1.1 200 OK\r\n", 999, "A: 1\r\n"), -1, false, false, 200, 999},
        {"1,001 lines", many("HTTP/1.1 200 OK\r\n", 1000, "A: 1\r\n"), -1, false, true, 200, 999},
        {"interim answers count towards the bounds",
         [] {
             std::vector<std::string> lines;
             for (int i = 0; i < 600; ++i) {
                 lines.push_back("HTTP/1.1 102 Processing\r\n");
                 lines.push_back("\r\n");
             }
             return lines;
         }(),
         -1, false, true, 102, 0},
        {"256 KiB of head", many("HTTP/1.1 200 OK\r\n", 6600, line40), -1, false, true, 200, 0},
        {"a trailer within its own bounds",
         [&] {
             auto lines = many("HTTP/1.1 200 OK\r\n", 900, "A: 1\r\n");
             lines.push_back("\r\n");
             lines.insert(lines.end(), 999, "T: 1\r\n");
             return lines;
         }(),
         -1, true, false, 200, 900},
        {"a trailer past its bounds",
         [&] {
             auto lines = many("HTTP/1.1 200 OK\r\n", 1, "\r\n");
             lines.insert(lines.end(), 1001, "T: 1\r\n");
             return lines;
         }(),
         -1, true, true, 200, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Fed f = feed(c.lines, c.bodyAfter);
        EXPECT_EQ(f.head.complete(), c.complete);
        EXPECT_EQ(f.head.refused(), c.refused);
        EXPECT_EQ(f.refusedAt, c.refused);
        EXPECT_EQ(f.head.status(), c.status);
        if (!c.refused) {
            EXPECT_EQ(f.head.headers().size(), c.headers);
        }
    }
}

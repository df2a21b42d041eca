#pragma once
// Servers that misbehave, as scripts for ScriptedTcpServer: each reads the
// request head, then answers the way its name says. Shared by the tests and
// the benchmarks of the download road.
#include <cstddef>
#include <string>

#include "tests/support/ScriptedTcpServer.h"

namespace testsupport::hostile {

// The request head, then `bytes`, then nothing more until the client goes.
inline ServerScript sends(std::string bytes) {
    return ServerScript().expectUntil("\r\n\r\n").send(std::move(bytes)).hold();
}

// The request head, then `bytes`, then the connection closed.
inline ServerScript sendsAndCloses(std::string bytes) {
    return ServerScript().expectUntil("\r\n\r\n").send(std::move(bytes)).close();
}

// Reads the request and never answers.
inline ServerScript neverAnswers() { return ServerScript().expectUntil("\r\n\r\n").hold(); }

// `count` header lines of `width` bytes each after a status line, and no end.
inline std::string headerLines(std::size_t count, std::size_t width = 40) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    const std::string value(width, 'h');
    for (std::size_t i = 0; i < count; ++i) head += "X-Line-" + std::to_string(i) + ": " + value + "\r\n";
    return head;
}

// A chunked body "hello" and then a trailer of `count` lines.
inline std::string chunkedWithTrailer(std::size_t count, bool ended) {
    std::string answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n";
    for (std::size_t i = 0; i < count; ++i) answer += "X-Trailer-" + std::to_string(i) + ": tttttttttttttttt\r\n";
    if (ended) answer += "\r\n";
    return answer;
}

}  // namespace testsupport::hostile

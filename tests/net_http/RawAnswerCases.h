#pragma once
// Raw answers that test how the client frames a message on a connection it
// may keep: what is left after an answer, lengths against transfer codings,
// the codings themselves, the end of each chunk, the status line, error
// bodies that end at the close, and the request target. Played by a loopback
// server to the client itself and to netget.
#include <string>
#include <vector>

#include "ScriptedHttpServer.h"

namespace nettest {

struct RawAnswerCase {
    std::string name;
    std::string answer;     // sent as it stands for the first request
    bool kept = false;      // the server then holds the connection; else it closes it
    std::string body;       // the page the first request gets, when it does not fail
    std::string failure;    // how it fails, as netget reports it; empty: it does not
    std::string replyBody;  // an ENetHTTPProtocolException's ReplyBody
    bool reused = false;    // the next request goes out on the same connection
    std::string target = "/";
    std::string requestLine;  // the first request line, when not "GET <target> HTTP/1.1"
};

// The server's answer to the second request, whichever connection it comes on.
std::string nextAnswer();
inline constexpr const char* kNextBody = "next";

std::vector<RawAnswerCase> rawAnswerCases();

// What the server plays for a case: its answer, then nextAnswer().
std::vector<Reply> repliesFor(const RawAnswerCase& c);
// The request line the case's first request must go out with.
std::string expectedRequestLine(const RawAnswerCase& c);
// The first line of a recorded request head.
std::string requestLineOf(const std::string& head);

}  // namespace nettest

#include "RawAnswerCases.h"

namespace nettest {

namespace {

struct Outcome {
    std::string body;
    std::string failure;
    std::string replyBody;
};

Outcome page(std::string body) { return {std::move(body), {}, {}}; }

Outcome fails(std::string failure) { return {{}, std::move(failure), {}}; }

Outcome refused(int code, const std::string& statusLine, std::string replyBody) {
    return {{}, "ENetHTTPProtocolException: " + statusLine + " (ReplyCode " + std::to_string(code) + ")",
            std::move(replyBody)};
}

Outcome invalidStatus(const std::string& line) { return fails("ENetInvalidStatusLine: Invalid status line: " + line); }

const Outcome kCutShort = fails("ENetResponseHeadCutShort: Response head cut short.");

std::string ok(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kHelloChunks = "5\r\nhello\r\n0\r\n\r\n";

class Table {
public:
    // The case with the connection kept, then closed, after the answer.
    void both(const std::string& name, const std::string& answer, const Outcome& outcome,
              bool reusedWhenKept, const std::string& target = "/", const std::string& requestLine = "") {
        add(name + ", kept", answer, true, outcome, reusedWhenKept, target, requestLine);
        add(name + ", closed", answer, false, outcome, false, target, requestLine);
    }
    // Bodies that end at the close: kept, the call would wait for it.
    void closed(const std::string& name, const std::string& answer, const Outcome& outcome) {
        add(name + ", closed", answer, false, outcome, false, "/", "");
    }

    std::vector<RawAnswerCase> cases;

private:
    void add(std::string name, const std::string& answer, bool kept, const Outcome& outcome, bool reused,
             const std::string& target, const std::string& requestLine) {
        cases.push_back({std::move(name), answer, kept, outcome.body, outcome.failure, outcome.replyBody,
                         reused, target, requestLine});
    }
};

}  // namespace

std::string nextAnswer() { return ok(kNextBody); }

std::vector<Reply> repliesFor(const RawAnswerCase& c) {
    Reply first(c.answer);
    first.closeAfter = !c.kept;
    return {first, Reply(nextAnswer())};
}

std::string expectedRequestLine(const RawAnswerCase& c) {
    return c.requestLine.empty() ? "GET " + c.target + " HTTP/1.1" : c.requestLine;
}

std::string requestLineOf(const std::string& head) { return head.substr(0, head.find("\r\n")); }

std::vector<RawAnswerCase> rawAnswerCases() {
    Table t;
    const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

    // Answers framed as they should be keep the connection.
    t.both("a counted body", ok("hello"), page("hello"), true);
    t.both("a chunked body", chunkedHead + kHelloChunks, page("hello"), true);
    t.both("a status line without a reason", "HTTP/1.0 200\r\nContent-Length: 2\r\n\r\nok", page("ok"), true);

    // Bytes after a complete answer are never the next answer.
    t.both("204 with a body", "HTTP/1.1 204 No Content\r\n\r\nhello", page(""), false);
    t.both("304 with a body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\nhello",
           refused(304, "HTTP/1.1 304 Not Modified", ""), false);
    t.both("a length shorter than the body", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nhello", page("hel"),
           false);
    t.both("an answer nobody asked for", ok("hello") + ok("bogus"), page("hello"), false);
    t.both("an error, then an answer nobody asked for",
           "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone" + ok("bogus"),
           refused(404, "HTTP/1.1 404 Not Found", "gone"), false);

    // Transfer codings override a length, and such an answer ends the connection.
    t.both("a length of 3 and chunked",
           "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n" + kHelloChunks,
           page("hello"), false);
    t.both("chunked and a length of 100",
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 100\r\n\r\n" + kHelloChunks,
           page("hello"), false);

    // The codings: one comma list over every line, any case; chunked only last.
    t.both("Chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + kHelloChunks, page("hello"), true);
    t.both("CHUNKED", "HTTP/1.1 200 OK\r\ntransfer-encoding: CHUNKED\r\n\r\n" + kHelloChunks, page("hello"), true);
    t.both("chunked last of a list", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip , ,CHUNKED \r\n\r\n" + kHelloChunks,
           page("hello"), true);
    t.both("chunked on the second line",
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + kHelloChunks,
           page("hello"), true);
    t.both("identity is no coding", "HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 5\r\n\r\nhello",
           page("hello"), true);
    t.closed("chunkedchunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunkedchunked\r\n\r\n" + kHelloChunks,
             page(kHelloChunks));
    t.closed("chunked, then gzip", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked, gzip\r\n\r\n" + kHelloChunks,
             page(kHelloChunks));
    t.closed("chunked, then gzip on another line",
             "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\nContent-Length: 5\r\n\r\n" +
                 kHelloChunks,
             page(kHelloChunks));

    // Chunk data ends where its size says.
    const Outcome badChunkEnd = fails("ENetException: Chunk data not followed by CR LF.");
    t.both("chunk data longer than its size", chunkedHead + "5\r\nhelloXX\r\n0\r\n\r\n", badChunkEnd, false);
    t.both("chunk data shorter than its size", chunkedHead + "5\r\nhel\r\n0\r\n\r\n", badChunkEnd, false);
    t.both("chunk data followed by a bare LF", chunkedHead + "5\r\nhello\n0\r\n\r\n", page("hello"), true);

    // The status line: "HTTP/1." and a digit, a blank, three digits.
    for (const char* line : {"HTTPER/1.1 200 OK", "HTP/1.1 200 OK", "HTTP/01.1 200 OK", "HTTP/5.6 200 OK",
                             "RTSP/1.1 200 OK", "ICE/1.1 200 OK", "http/1.1 200 OK", "HTTP/1.1 2x0 OK",
                             "HTTP/1.1 20 OK", "HTTP/1.1 2000 OK", "HTTP/1.1  200 OK", "HTTP/1.1"})
        t.both(line, std::string(line) + "\r\nContent-Length: 5\r\n\r\nhello", invalidStatus(line), false);
    t.both("an empty status line", "\r\n" + ok("hello"), invalidStatus(""), false);
    t.closed("a status line cut short", "HTTP/1.1 200 O", kCutShort);
    t.closed("a head cut short", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", kCutShort);
    t.closed("an interim answer, then the close", "HTTP/1.1 100 Continue\r\n\r\n", kCutShort);

    // An error body that ends at the close keeps its status.
    t.both("an error body up to the close", "HTTP/1.1 404 Not Found\r\n\r\ngone",
           refused(404, "HTTP/1.1 404 Not Found", "gone"), false);

    // Blanks and control bytes in the target travel escaped, everything else
    // as given.
    t.both("blanks and control bytes in the target", ok("found"), page("found"), true,
           "/zsmp3?word=a b\tc\x7f\xc1\xf5%41&x=\x01", "GET /zsmp3?word=a%20b%09c%7F\xc1\xf5%41&x=%01 HTTP/1.1");
    return t.cases;
}

}  // namespace nettest

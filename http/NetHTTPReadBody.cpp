// Reading an answer's body: which framing its head gives it (none, a
// length, chunks, or up to the close), the chunks and what must follow each,
// and the bodies nobody uses: error bodies, kept for the exception, and
// those only read past so that the connection can carry the next answer.
#include <algorithm>
#include <charconv>
#include <climits>
#include <string>
#include <string_view>

#include "http/NetHTTP.h"
#include "http/NetHTTPHeadBudget.h"

namespace net {

namespace {

const std::string kLF = "\n";

enum class BodyFraming { none, length, chunked, untilClose };

BodyFraming framingOf(const TNetHTTPResponse& response, TNetHTTPMethod method) {
    // These answers end with their heads whatever they announce.
    const int code = response.StatusCode();
    if (method == hmHead || (code >= 100 && code < 200) || code == 204 || code == 304)
        return BodyFraming::none;
    // Transfer codings override a length: chunked last frames the body, any
    // other coding leaves its end to the close.
    if (response.TransferCoded()) return response.Chunked() ? BodyFraming::chunked : BodyFraming::untilClose;
    if (response.ContentLength() > 0) return BodyFraming::length;
    if (!response.HasContentLength()) return BodyFraming::untilClose;
    return BodyFraming::none;
}

// A chunk-size line: hexadecimal digits, any number of leading zeros,
// optionally followed by blanks or a ";" extension. -1 when the line holds no
// valid size or one beyond 63 bits.
std::int64_t chunkSizeOf(std::string_view line) {
    line = line.substr(0, std::min(line.find(' '), line.find(';')));
    while (!line.empty() && line.back() == '\t') line.remove_suffix(1);
    if (line.empty()) return -1;
    line.remove_prefix(std::min(line.find_first_not_of('0'), line.size() - 1));
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), value, 16);
    if (ec != std::errc() || end != line.data() + line.size() || value > INT64_MAX) return -1;
    return static_cast<std::int64_t>(value);
}

// Restores a connection's read timeout when a bounded read is over.
class ReadTimeoutOverride {
public:
    ReadTimeoutOverride(TNetTCPConnection& connection, int timeout)
        : connection_(connection), saved_(connection.ReadTimeout()) {
        connection_.SetReadTimeout(timeout);
    }
    ~ReadTimeoutOverride() { connection_.SetReadTimeout(saved_); }
    ReadTimeoutOverride(const ReadTimeoutOverride&) = delete;
    ReadTimeoutOverride& operator=(const ReadTimeoutOverride&) = delete;

private:
    TNetTCPConnection& connection_;
    int saved_;
};

// Points a response at a scratch stream of limited size for the life of the
// object.
class ScratchContent {
public:
    ScratchContent(TNetHTTPResponse& response, std::int64_t limit)
        : response_(response), saved_(response.ContentStream), scratch_(limit) {
        response_.ContentStream = &scratch_;
    }
    ~ScratchContent() { response_.ContentStream = saved_; }
    ScratchContent(const ScratchContent&) = delete;
    ScratchContent& operator=(const ScratchContent&) = delete;
    TNetMemoryStream& stream() { return scratch_; }

    // Runs read; false when what it read did not fit.
    template <class Read>
    bool fill(Read&& read) {
        try {
            read();
            return true;
        } catch (const ENetStreamLimitExceeded&) {
            return false;
        }
    }

    // Moves what the connection holds unread into the stream, as far as it
    // fits; the rest is dropped.
    void takeBuffered(TNetManagedBuffer& buffer) {
        const std::int64_t room = std::max<std::int64_t>(scratch_.Limit() - scratch_.Size(), 0);
        const std::int64_t count = std::min(room, buffer.Size());
        scratch_.SetPosition(scratch_.Size());
        scratch_.Write(buffer.Memory(), count);
        buffer.DiscardFront(buffer.Size());
    }

private:
    TNetHTTPResponse& response_;
    TNetStream* saved_;
    TNetLimitedMemoryStream scratch_;
};

}  // namespace

void TNetHTTPProtocol::ReadBody(TNetStream* content, bool strict) {
    if (!content) return;
    switch (framingOf(Response, Request.Method)) {
        case BodyFraming::none:
            return;
        case BodyFraming::length:
            try {
                client_.ReadIntoStream(*content, Response.ContentLength(), false);
            } catch (const ENetConnClosedGracefully&) {
                // A body cut short by the server is not the page it announced.
                if (strict) throw;
            }
            return;
        case BodyFraming::chunked:
            readChunkedBody(*content);
            return;
        case BodyFraming::untilClose:
            client_.ReadIntoStream(*content, -1, true);
            return;
    }
}

void TNetHTTPProtocol::readChunkedBody(TNetStream& content) {
    client_.SignalStatus(hsStatusText, {"Chunk Started"});
    const auto readSize = [&] {
        const std::string line = client_.ReadLine(kLF);
        const std::int64_t size = chunkSizeOf(line);
        if (size < 0) throw ENetException("Invalid chunk size: " + line.substr(0, 64));
        return size;
    };
    for (std::int64_t size = readSize(); size > 0; size = readSize()) {
        client_.ReadIntoStream(content, size, false);
        readChunkEnd();
    }
    // Trailer lines, up to the blank line that ends the message; they are
    // not kept, but a trailer without end must not hold the call.
    TNetCustomHTTP::HeadBudget trailer;
    for (std::string line = client_.ReadLine(kLF); !line.empty(); line = client_.ReadLine(kLF))
        trailer.take(line, true);
}

void TNetHTTPProtocol::readChunkEnd() {
    // The data ends where its size says, so its line end comes next: CR LF,
    // or a bare LF as every line of an answer may end. Anything else means
    // the size did not frame the data, and nothing after it can be trusted.
    char c = 0;
    client_.ReadExact(&c, 1);
    if (c == '\r') client_.ReadExact(&c, 1);
    if (c != '\n') throw ENetException("Chunk data not followed by CR LF.");
}

void TNetHTTPProtocol::FailWithResponse() {
    std::string body;
    bool whole = true;
    {
        ReadTimeoutOverride bounded(client_, client_.ErrorBodyReadTimeout);
        ScratchContent scratch(Response, client_.UnusedBodyLimit);
        try {
            whole = scratch.fill([&] { ReadBody(Response.ContentStream, false); });
        } catch (const ENetReadTimeout&) {
            // A body that ends at the close has no end to wait for while the
            // server holds the connection open: what came is the body, the
            // status stays the answer, and the connection is given up.
            if (framingOf(Response, Request.Method) != BodyFraming::untilClose) throw;
            scratch.takeBuffered(client_.InputBuffer());
            whole = false;
        }
        body = scratch.stream().TakeString();
    }
    // After a refused interim answer the final one is still on its way, and
    // after an error body not read whole the rest of it: the next request
    // must not read either as its own.
    const int code = Response.StatusCode();
    client_.exchangeComplete_ = whole && (code < 100 || code >= 200);
    throw ENetHTTPProtocolException(Response.StatusCode(), Response.StatusLine(), std::move(body));
}

bool TNetHTTPProtocol::DrainBody() {
    ScratchContent scratch(Response, client_.UnusedBodyLimit);
    return scratch.fill([&] { ReadBody(Response.ContentStream, false); });
}

void TNetHTTPProtocol::drainIgnoringErrors() {
    ReadTimeoutOverride bounded(client_, client_.DrainReadTimeout);
    try {
        if (DrainBody()) client_.exchangeComplete_ = true;
    } catch (const ENetInterrupted&) {
        throw;
    } catch (const std::exception&) {
        // The body is of no use; a connection left mid-body is closed later.
    }
}

}  // namespace net

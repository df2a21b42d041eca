// Feeds arbitrary bytes through ReadLine, ReadIntoStream, ReadExact and
// TakeAvailable over the in-memory transport, and checks that every byte the
// connection hands out is exactly the next byte of the input: nothing lost,
// duplicated or reordered, terminators where they belong.
//
// Input layout: [terminator] [max length] [flags] [4 chunk sizes] [8 ops] data...
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "http/NetSocketErrors.h"
#include "http/NetTCPClient.h"
#include "tests/support/MemoryIOHandler.h"

namespace {

constexpr std::size_t kHeader = 1 + 1 + 1 + 4 + 8;

void check(bool ok) {
    if (!ok) std::abort();
}

struct Harness {
    net::TNetTCPClient client;
    testsupport::MemoryIOHandler io;
    std::string input;
    std::size_t cursor = 0;  // input bytes handed out so far

    // Bytes received and not yet handed out + bytes not yet received.
    std::size_t pending() { return static_cast<std::size_t>(client.InputBuffer().Size()) + io.unreadInput(); }

    std::string_view consumedSince(std::size_t pendingBefore) {
        const std::size_t now = pending();
        check(now <= pendingBefore);
        const std::size_t n = pendingBefore - now;
        check(cursor + n <= input.size());
        std::string_view slice(input.data() + cursor, n);
        cursor += n;
        return slice;
    }
};

void readLine(Harness& h, std::string_view terminator, int maxLength, int timeout) {
    const std::size_t before = h.pending();
    std::string line;
    try {
        line = h.client.ReadLine(terminator, timeout, maxLength);
    } catch (const net::ENetException&) {
        // A failed ReadLine hands out nothing.
        check(h.consumedSince(before).empty());
        throw;
    }
    const std::string_view slice = h.consumedSince(before);
    const std::string_view term = terminator.empty() ? "\n" : terminator;
    if (h.client.LineTimedOut()) {
        check(line.empty() && slice.empty());
    } else if (h.client.LineSplit()) {
        check(slice == line && static_cast<int>(line.size()) == maxLength);
    } else {
        const bool crDropped = term == "\n" && slice.size() == line.size() + 2;
        check(slice.substr(0, line.size()) == line);
        check(slice.substr(line.size()) == (crDropped ? std::string("\r\n") : std::string(term)));
        // The terminator found is the first one.
        check(slice.find(term) == slice.size() - term.size());
        if (maxLength > 0) check(slice.size() - term.size() <= static_cast<std::size_t>(maxLength));
    }
}

void readIntoStream(Harness& h, std::int64_t count, bool untilClosed) {
    const std::size_t before = h.pending();
    net::TNetMemoryStream stream;
    try {
        h.client.ReadIntoStream(stream, count, untilClosed);
    } catch (const net::ENetException&) {
        check(h.consumedSince(before) == stream.View());
        throw;
    }
    check(h.consumedSince(before) == stream.View());
    if (!untilClosed) check(stream.Size() == count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader) return 0;
    static const std::string_view kTerminators[] = {"\n", "\r\n", "", "--"};
    static const int kMaxLengths[] = {0, 1, 5, 16, 100, 16384, 3, 40};
    const std::string_view terminator = kTerminators[data[0] % 4];
    const int maxLength = kMaxLengths[data[1] % 8];
    const std::uint8_t flags = data[2];
    std::vector<std::size_t> chunks;
    for (int i = 0; i < 4; ++i)
        if (data[3 + i]) chunks.push_back(data[3 + i]);
    const std::uint8_t* ops = data + 7;

    Harness h;
    h.input.assign(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
    h.io.setInput(h.input, chunks);
    switch (flags & 3) {
        case 0: h.io.endWithClose(); break;
        case 1: h.io.endWithSilence(); break;
        case 2: h.io.endWithError(10054); break;
        default: h.io.endWithError(10053); break;
    }
    h.client.SetMaxLineAction((flags & 4) ? net::maSplit : net::maException);
    h.client.SetRecvBufferSize((flags & 8) ? 7 : 32768);
    h.client.SetReadTimeout((flags & 16) ? 5 : 0);
    h.client.SetIOHandler(&h.io);
    h.client.OpenConnection();

    try {
        for (int step = 0; step < 4096; ++step) {
            const std::uint8_t op = ops[step % 8];
            switch (op % 6) {
                case 0:
                case 1: readLine(h, terminator, maxLength, -1); break;
                case 2: readLine(h, terminator, maxLength, 1); break;
                case 3: readIntoStream(h, op >> 3, false); break;
                case 4: {
                    const std::size_t before = h.pending();
                    char out[32];
                    const int n = (op >> 3) % 32;
                    h.client.ReadExact(out, n);
                    check(h.consumedSince(before) == std::string_view(out, static_cast<std::size_t>(n)));
                    break;
                }
                case 5: {
                    const std::size_t before = h.pending();
                    const std::string got = (op & 8) ? h.client.TakeAvailable() : std::string();
                    check(h.consumedSince(before) == got);
                    if (!(op & 8)) readIntoStream(h, -1, true);
                    break;
                }
            }
            if (h.pending() == 0 && !h.client.IsConnected()) break;
        }
    } catch (const net::ENetException&) {
        // Closes, time-outs, over-long lines and socket errors end the run.
    }
    check(h.cursor + h.pending() == h.input.size());
    return 0;
}

// Whole HTTP responses (status lines, headers, length / chunked / until-close
// bodies, interim responses, redirects, challenges, cookies) through the
// client over an in-memory transport. The first input byte picks the receive
// piece size and a few client settings; the rest is what the "server" sends.
// Two calls are made, so a kept connection is reused for the second.
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/NetHTTP.h"
#include "tests/support/MemoryIOHandler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    testsupport::MemoryIOHandler transport(std::move(input), {static_cast<std::size_t>(flags & 0x0F) * 7 + 1});
    net::TNetHTTP http;
    net::ApplyProgramSettings(http);
    http.SetIOHandler(&transport);
    if (flags & 0x10) http.HandleRedirects = true;
    if (flags & 0x20) {
        http.HTTPOptions |= net::hoInProcessAuth;
        http.Request().Username = "user";
    }
    if (flags & 0x40) http.ProtocolVersion = net::pv1_0;
    if (flags & 0x80) http.SetMaxLineAction(net::maSplit);

    // The second call reads into a page of limited size, as the program does.
    http.UnusedBodyLimit = 4096;
    const char* urls[] = {"http://fuzz.test/zsmp3?ty=1&word=a&bg=1", "http://fuzz.test/next"};
    for (int call = 0; call < 2; ++call) {
        net::TNetLimitedMemoryStream limited(4096);
        net::TNetMemoryStream unlimited;
        net::TNetMemoryStream& page = call == 0 ? unlimited : limited;
        try {
            http.Get(urls[call], page);
            // A head the client took stays within its bounds.
            if (http.Response().RawHeaders.count() > net::TNetHTTP::kMaxHeaderLines) __builtin_trap();
        } catch (const net::ENetException&) {
            // Every malformed response must end as one of the client's failures.
        }
        if (page.Size() > 4096 && call == 1) __builtin_trap();
    }
    http.SetIOHandler(nullptr);
    return 0;
}

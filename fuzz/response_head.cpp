// The header lines of a response as the download road takes them from
// libcurl: interim answers, the final head, a chunked body's trailer. A byte
// 0x01 in the input stands for the first body bytes. Whatever comes, the
// bounds hold and a refused response stays refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "download/inet/InetResponseHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    inet::ResponseHead head;
    bool refused = false;
    std::size_t headBytes = 0;
    std::size_t from = 0;
    while (from < input.size()) {
        if (input[from] == '\x01') {
            head.bodyBegins();
            ++from;
            continue;
        }
        std::size_t end = input.find('\n', from);
        end = end == std::string_view::npos ? input.size() : end + 1;
        const std::string_view line = input.substr(from, end - from);
        const bool wasComplete = head.complete();
        const bool taken = head.takeLine(line);
        if (refused && taken) std::abort();  // refused stays refused
        refused = refused || !taken;
        if (taken && !wasComplete) headBytes += line.size();
        from = end;
    }
    if (head.refused() != refused) std::abort();
    if (headBytes > inet::kMaxHeadBytes) std::abort();
    if (head.headers().size() > inet::kMaxHeadLines) std::abort();
    if (head.status() < 0 || head.status() > 999) std::abort();
    if (!head.statusLine().empty() && head.statusLine().rfind("HTTP/", 0) != 0) std::abort();
    return 0;
}

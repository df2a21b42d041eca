// Raw header blocks through lookup, unfolding, replacement and folding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "http/NetGlobal.h"
#include "http/NetHeaderList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // First byte: fold length; the rest: the header block.
    const std::int32_t foldLength = 1 + data[0] % 100;
    const std::string_view block(reinterpret_cast<const char*>(data + 1), size - 1);

    net::TNetHeaderList list(foldLength);
    list.setText(block);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < list.count(); ++i) {
        names.push_back(list.NameOfLine(i));
        (void)list.ValueOfLine(i);
    }
    std::vector<std::string> values;
    for (const std::string& name : names) {
        (void)list.IndexOfHeader(name);
        list.ExtractValues(name, &values);
    }

    // Replace each header with its own value and check it reads back.
    for (const std::string& name : names) {
        const std::string trimmedName = net::trim(name);
        // Only real header names: a blank in a name is a place to fold.
        if (trimmedName.empty() ||
            trimmedName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-") != std::string::npos)
            continue;
        const std::string value = list.GetHeaderValue(trimmedName);
        list.SetHeaderValue(trimmedName, value);
        if (!value.empty() && value.find_first_of("\r\n") == std::string::npos &&
            list.IndexOfHeader(trimmedName) >= 0 && list.GetHeaderValue(trimmedName).empty())
            __builtin_trap();
    }
    // An unfolded header is one line whatever its length.
    const std::string cookie(block.substr(0, block.find_first_of("\r\n")));
    list.SetHeaderValueUnfolded("Cookie", cookie);
    if (!cookie.empty() && list.GetHeaderValue("Cookie") != net::trim(cookie)) __builtin_trap();
    (void)list.FoldLine(block);
    (void)net::WrapText(block, "\r\n ", " \t,", foldLength);
    (void)list.text();
    return 0;
}

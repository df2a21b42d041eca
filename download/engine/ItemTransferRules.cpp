#include "download/engine/ItemTransferRules.h"

#include <algorithm>
#include <exception>

#include "download/engine/DlHeaderParsing.h"
#include "download/inet/InetErrors.h"
#include "download/texts/DlTexts.h"
#include "download/values/AsciiCase.h"

namespace dl {

std::string TrimBlanks(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

std::optional<TDateTime> LastModifiedDate(const std::string& text) {
    if (text.empty()) return std::nullopt;
    try {
        return ParseLastModified(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool IsHttpScheme(const std::string& scheme) { return SameText(scheme, "http") || SameText(scheme, "https"); }

bool IsBrokenLine(int error) {
    return error == kErrTimeout || error == kErrConnectionAborted || error == kErrConnectionReset;
}

bool IsRetriedStatus(std::int32_t status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool IsUnanswered(int error) {
    return IsBrokenLine(error) || error == kErrCannotConnect || error == kErrNameNotResolved ||
           error == kErrInvalidServerResponse;
}

bool FitsInHeader(const std::string& text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < ' ' || byte == 0x7F;
    });
}

}  // namespace dl

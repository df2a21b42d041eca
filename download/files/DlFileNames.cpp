#include "download/files/DlFileNames.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "download/inet/InetUrl.h"
#include "download/values/AsciiCase.h"

namespace dl {

namespace {

// The host as the URL splitter gives it, into room for 99 characters.
constexpr std::size_t kHostRoom = 99;

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string MakeSafeFileName(std::string_view text) {
    std::string name(text);
    for (char& c : name) {
        if (c != '.' && !isAsciiAlnum(c)) c = '_';
    }
    return name;
}

std::string DefaultFileName(const std::string& url) {
    const std::size_t slash = url.rfind('/');
    std::string part;
    if (slash != std::string::npos) {
        part = url.substr(slash + 1);
    } else if (!url.empty()) {
        part = url.substr(url.size() - 1);
    }
    std::string host;
    if (const auto parts = inet::crackUrl(url)) host = parts->host.substr(0, kHostRoom);
    return MakeSafeFileName(part.empty() ? host : host + "_" + part);
}

std::string SafeDestinationName(std::string_view name) {
    std::string safe;
    safe.reserve(name.size() + 1);
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        // U+0080 to U+009F: two bytes, one character, one "_".
        if (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
            safe += '_';
            ++i;
        } else if (byte < 0x20 || byte == 0x7F || byte == '/' || byte == '\\') {
            safe += '_';
        } else {
            safe += static_cast<char>(byte);
        }
    }
    if (safe.empty() || safe.front() != '.' || safe == "." || safe == "..") return safe;
    // The dot that starts the extension stays, so the name keeps it.
    if (safe.find('.', 1) == std::string::npos)
        safe.insert(safe.begin(), '_');
    else
        safe.front() = '_';
    return safe;
}

std::string PageFileName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.find(".htm", dot) != std::string::npos) return name;
    return name + ".htm";
}

bool IsHtmlContentType(std::string_view contentType) {
    return ContainsText(contentType, "text/html");
}

std::string ExpandFolder(const std::string& folder) {
    if (folder.empty()) return folder;
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(folder, ignored).lexically_normal();
    return full.string();
}

}  // namespace dl

#include "http/NetURI.h"

#include "http/NetGlobal.h"

namespace net {

TNetURI::TNetURI(std::string_view uriText) {
    if (!uriText.empty()) ParseURI(uriText);
}

void TNetURI::clearFields() {
    Protocol.clear();
    Username.clear();
    Password.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    Document.clear();
    Params.clear();
    Bookmark.clear();
}

std::int32_t TNetURI::splitPathAndQuery(const std::string& rest) {
    std::int32_t query = textPos("?", rest);
    if (query == 0) query = textPos("=", rest);
    // A "/" inside the query must not move the directory split.
    const std::int32_t lastSlash = query > 0 ? LastPos("/", rest, query) : LastPos("/", rest, -1);
    if (query > 0) {
        Document = rest.substr(0, static_cast<std::size_t>(query - 1));
        Params = rest.substr(static_cast<std::size_t>(query - 1));
    } else {
        Document = rest;
    }
    Document.erase(0, static_cast<std::size_t>(lastSlash));
    return lastSlash;
}

void TNetURI::ParseURI(std::string_view uriText) {
    text_ = std::string(uriText);
    NormalizeSlashes(text_);
    std::string rest = text_;
    clearFields();

    const std::int32_t protocolEnd = textPos("://", rest);
    if (protocolEnd > 0) {
        Protocol = rest.substr(0, static_cast<std::size_t>(protocolEnd - 1));
        rest.erase(0, static_cast<std::size_t>(protocolEnd - 1) + 3);

        std::string authority = CutToken(rest, "/");
        const std::int32_t at = textPos("@", authority);
        if (at > 0) {
            Password = authority.substr(0, static_cast<std::size_t>(at - 1));
            authority.erase(0, static_cast<std::size_t>(at));
        }
        Username = CutToken(Password, ":");
        if (Username.empty()) Password.clear();
        Host = CutToken(authority, ":");
        Port = authority;

        const std::int32_t lastSlash = splitPathAndQuery(rest);
        Path = "/" + rest.substr(0, static_cast<std::size_t>(lastSlash));
        Bookmark = Document;
        Document = CutToken(Bookmark, "#");
    } else {
        const std::int32_t lastSlash = splitPathAndQuery(rest);
        Path = rest.substr(0, static_cast<std::size_t>(lastSlash));
    }

    if (Bookmark.empty()) {
        Bookmark = Params;
        Params = CutToken(Bookmark, "#");
    }
}

std::string TNetURI::FullURI(bool withUserInfo, bool withBookmark) const {
    if (Protocol.empty()) throw ENetURIException("Protocol field is empty");
    std::string result = Protocol + "://";
    if (!Username.empty() && withUserInfo) {
        result += Username;
        if (!Password.empty()) result += ":" + Password;
        result += "@";
    }
    if (Host.empty()) throw ENetURIException("Host field is empty");
    result += Host;
    if (!Port.empty()) result += ":" + Port;
    result += Path + Document + Params;
    if (!Bookmark.empty() && withBookmark) result += "#" + Bookmark;
    return result;
}

std::string TNetURI::URIText() {
    text_ = FullURI(true, true);
    return FullURI(false, false);
}

namespace {

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string TNetURI::MergePath(std::string_view basePath, std::string_view path, std::string_view delimiter) {
    if (delimiter.empty()) return std::string(basePath) + std::string(path);
    if (path.substr(0, delimiter.size()) == delimiter) return std::string(path);

    const bool keepTrailing = path.empty() || endsWith(path, delimiter);
    std::string work(basePath);
    if (!work.empty() && !endsWith(work, delimiter)) work += delimiter;
    work += path;

    std::string result;
    std::size_t i = 0;
    while (i < work.size()) {
        if (work.compare(i, delimiter.size(), delimiter) == 0) {
            if (i == 0) {
                result = std::string(delimiter);
            } else if (!endsWith(result, delimiter)) {
                result += delimiter;
            }
            i += delimiter.size();
        } else if (work[i] == '.' && endsWith(result, delimiter) && i + 1 < work.size() && work[i + 1] == '.') {
            // ".." climbs one directory.
            result.pop_back();
            while (!result.empty() && !endsWith(result, delimiter)) result.pop_back();
            i += 2;
        } else {
            result += work[i];
            ++i;
        }
    }

    const bool absolute = work.compare(0, delimiter.size(), delimiter) == 0;
    if (!keepTrailing && endsWith(result, delimiter) && result.size() > delimiter.size()) {
        result.erase(result.size() - delimiter.size());
    }
    // Climbing above the root stays at the root.
    if (result.empty() && absolute) result = std::string(delimiter);
    return result;
}

}  // namespace net

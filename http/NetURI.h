#pragma once
// A URL split into its fields and joined back. No byte is escaped or
// decoded: a GBK keyword with blanks, "&", "=" or "%" stays as typed (the
// client escapes only blanks and control bytes, in the request line).
#include <cstdint>
#include <string>
#include <string_view>

#include "http/NetException.h"

namespace net {

class ENetURIException : public ENetException {
public:
    using ENetException::ENetException;
    const char* ClassName() const override { return "ENetURIException"; }
};

class TNetURI {
public:
    TNetURI() = default;
    // A non-empty text is parsed at once.
    explicit TNetURI(std::string_view uriText);

    // Replaces every field from the text.
    void ParseURI(std::string_view uriText);

    // Throw ENetURIException when Protocol or Host is empty.
    std::string FullURI(bool withUserInfo = true, bool withBookmark = true) const;

    // Keeps the full text (with user info and bookmark) as the URI text and
    // returns the text without them.
    std::string URIText();

    // The text last parsed (after backslash normalization) or last built.
    const std::string& text() const { return text_; }

    // Resolves path against basePath: "../c" onto "/a/b/" gives "/a/c".
    static std::string MergePath(std::string_view basePath, std::string_view path,
                                 std::string_view delimiter = "/");

    std::string Protocol;
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;      // not validated as digits
    std::string Path;      // "/" plus the directories, ending in "/"
    std::string Document;  // the last path segment
    std::string Params;    // from "?" (or "=") on, without the bookmark
    std::string Bookmark;  // after "#"

private:
    void clearFields();
    // Query, path and document split shared by the absolute and relative forms;
    // returns the length of the directory part.
    std::int32_t splitPathAndQuery(const std::string& rest);

    std::string text_;
};

}  // namespace net

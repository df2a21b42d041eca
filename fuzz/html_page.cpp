// The HTML page object on arbitrary page bytes: load, regeneration under
// each conversion and finding links must not crash, and without a quote or a
// byte 1 or 4 in a link value the page must come back byte for byte.
//
// The first byte picks the base URL, the page file and which links are local;
// the rest is the page.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "download/html/TDlHTMLObject.h"
#include "download/html/TDlWebHTMLLex.h"

namespace {

constexpr const char* kBases[] = {"http://srv1/a/b/page.htm?x=1#f", "ftp://u:p@f:21/p/", "", "not a url",
                                  "http://h"};

void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "html page: %s %s\n", what, detail.c_str());
    std::abort();
}

bool holdsStrippedByte(std::string_view value) { return value.find_first_of("\"'\x01\x04") != std::string_view::npos; }

// Read apart from the page object: does a value that becomes a link hold a
// byte the link setters drop?
bool linkValuesHoldStrippedBytes(std::string_view text) {
    struct LinkAttribute {
        std::string_view tag;
        std::string_view attribute;
    };
    static constexpr LinkAttribute kLinkAttributes[] = {{"a", "href"},        {"img", "src"},
                                                        {"frame", "src"},     {"body", "background"},
                                                        {"applet", "code"},   {"applet", "codebase"}};
    dl::TDlWebHTMLLex lex(text);
    for (;;) {
        const dl::TDlWebToken& token = lex.nextToken();
        if (token.kind() == dl::TDlWebToken::Kind::EndOfText) return false;
        if (token.kind() != dl::TDlWebToken::Kind::Tag) continue;
        const auto& tag = static_cast<const dl::TDlWebTagToken&>(token);
        for (const LinkAttribute& link : kLinkAttributes) {
            std::string name(tag.Text());
            for (char& c : name) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            if (name != link.tag) continue;
            const auto* value = tag.attribute(link.attribute);
            if (value != nullptr && holdsStrippedByte(value->value)) return true;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned choice = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    dl::TDlHTMLObject page;
    page.loadPage(text);
    page.setBaseUrl(kBases[choice % std::size(kBases)]);
    if (choice & 0x08) page.setPageFile("/d/down/song.mp3.htm");

    for (const dl::TDlHTMLLink& link : page.Links()) {
        if (link.SourcePos() < 1 || static_cast<std::size_t>(link.SourcePos()) > page.HTMLPrototype().size() + 1)
            fail("link out of the prototype", std::to_string(link.SourcePos()));
    }

    page.setLinkConversion(dl::lcNone);
    const std::string asWritten = page.pageText();
    if (!linkValuesHoldStrippedBytes(text) && asWritten != text) fail("lcNone changed the page");
    for (std::int32_t i = 1; i < page.Links().count(); ++i) {
        if (page.Links()[i - 1].SourcePos() >= page.Links()[i].SourcePos()) fail("links not in page order");
    }

    std::int32_t index = 0;
    for (dl::TDlHTMLLink& link : page.Links()) {
        if ((choice & 0x10) && index % 2 == 1) {
            link.setLocal(true);
            link.setLocalFile(index % 4 == 1 ? "/d/down/img/srv1_x.gif" : "rel/x.gif");
        }
        ++index;
    }
    page.setLinkConversion(dl::lcOnline);
    page.pageText();
    page.setLinkConversion(dl::lcOffline);
    page.pageText();

    for (std::int32_t i = 0; i < page.Links().count(); ++i) {
        const dl::TDlHTMLLink& link = page.Links()[i];
        const std::string absolute = page.absoluteUrl(link);
        try {
            const bool selfNormal = page.normalizedUrl(link) == absolute;
            const std::int32_t found = page.findLink(absolute);
            if (selfNormal && (found < 0 || found > i)) fail("find missed a link", absolute);
        } catch (const dl::UrlDecodeError&) {
        }
    }
    return 0;
}

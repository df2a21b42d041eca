// Regeneration over generated pages: every link value, however it is quoted,
// repeated or left open, is written back in its place and every other byte
// stays as it was. The generator knows which values become links.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "download/html/LinkText.h"
#include "download/html/TDlHTMLObject.h"
#include "download/html/UrlResolve.h"

namespace {

constexpr std::string_view kBase = "http://srv1/a/b/page.htm?x=1";

class PageGenerator {
public:
    enum class Kind { Plain, Url, ClassCode, CodeBase };
    struct Piece {
        Kind kind;
        std::string text;
    };

    explicit PageGenerator(unsigned seed) : rng_(seed) {}

    std::vector<Piece> page() {
        pieces_.clear();
        const int parts = pick(0, 40);
        for (int i = 0; i < parts; ++i) {
            switch (pick(0, 6)) {
                case 0: plain(word("<\t\n\r ")); break;
                case 1: plain(blanks()); break;
                case 2: comment(); break;
                case 3: otherTag(); break;
                case 4: appletTag(); break;
                default: linkTag(); break;
            }
        }
        if (pick(0, 3) == 0) openEnd();
        return pieces_;
    }

private:
    struct Assignment {
        std::string name;
        int style;  // 0 "..", 1 '..', 2 unquoted, 3 "" closed by a line end, 4 empty, 5 no "="
        std::string value;
    };

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(int inN) { return pick(1, inN) == 1; }

    void plain(std::string text) { pieces_.push_back({Kind::Plain, std::move(text)}); }

    // 1 to 8 bytes of a mix that URLs and pages hold, without the bytes in `not`.
    std::string word(std::string_view excluded, int minLength = 1) {
        static constexpr std::string_view kBytes =
            "abcXYZ019./?&=#%-_:!\"'<>\x01\x04\xB8\xE8 \t\r\n";
        std::string out;
        const int length = pick(minLength, 8);
        while (static_cast<int>(out.size()) < length) {
            const char c = kBytes[static_cast<std::size_t>(pick(0, static_cast<int>(kBytes.size()) - 1))];
            if (excluded.find(c) == std::string_view::npos) out += c;
        }
        return out;
    }
    std::string blanks() {
        static constexpr std::string_view kBlanks = " \t\r\n";
        std::string out;
        for (int i = pick(1, 3); i > 0; --i) out += kBlanks[static_cast<std::size_t>(pick(0, 3))];
        return out;
    }
    std::string withRandomCase(std::string_view name) {
        std::string out(name);
        for (char& c : out) {
            if (chance(2) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return out;
    }

    // Never holds "-", so neither "--" nor "-->" before its end.
    void comment() {
        std::string text = "<!--" + blanks();
        for (int i = pick(0, 4); i > 0; --i)
            text += chance(2) ? "<a href=\"in.htm\">" : word("-") + blanks();
        plain(text + "-->");
    }

    void otherTag() {
        static const std::vector<std::string> kTags = {"<p>", "</a>", "<br/>", "<title>",
                                                       "</TITLE>", "<td width=1 nowrap>",
                                                       "<input name=\"q\" value='v'>", "<img alt=x>"};
        plain(kTags[static_cast<std::size_t>(pick(0, static_cast<int>(kTags.size()) - 1))]);
    }

    std::vector<Assignment> assignments(const std::vector<std::string>& names) {
        std::vector<Assignment> list;
        for (int i = pick(0, 4); i > 0; --i) {
            Assignment a;
            a.name = withRandomCase(names[static_cast<std::size_t>(pick(0, static_cast<int>(names.size()) - 1))]);
            a.style = pick(0, 5);
            if (a.style == 0) a.value = word("\"\r\n");
            if (a.style == 1) a.value = word("'\r\n");
            if (a.style == 2) a.value = word("\"'") + word(" \t\r\n>", 0);
            if (a.style == 2) a.value = a.value.substr(0, a.value.find_first_of(" \t\r\n>"));
            if (a.style == 2 && a.value.empty()) a.value = "v";
            if (a.style == 3) a.value = word("\"\r\n");
            list.push_back(a);
        }
        return list;
    }

    // The last assignment to `name` when its value is not empty.
    static const Assignment* effective(const std::vector<Assignment>& list, std::string_view name) {
        const Assignment* last = nullptr;
        for (const Assignment& a : list) {
            if (a.style == 5 || a.name.size() != name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; i < name.size(); ++i) same = same && (a.name[i] | 0x20) == (name[i] | 0x20);
            if (same) last = &a;
        }
        return last != nullptr && !last->value.empty() ? last : nullptr;
    }

    // Writes "<name attrs>", the effective values as link pieces.
    void writeTag(std::string_view name, const std::vector<Assignment>& list,
                  const std::vector<std::pair<const Assignment*, Kind>>& links) {
        std::string text = "<" + withRandomCase(name);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Assignment& a = list[i];
            const bool last = i + 1 == list.size();
            text += blanks() + a.name;
            if (a.style == 5) continue;
            if (a.style == 4 && !last) {
                text += chance(2) ? "=\"\"" : "=''";
                continue;
            }
            text += chance(3) ? blanks() + "=" + blanks() : "=";
            static constexpr std::string_view kOpen[] = {"\"", "'", "", "\"", ""};
            text += kOpen[a.style];
            Kind kind = Kind::Plain;
            for (const auto& [link, linkKind] : links) {
                if (link == &a) kind = linkKind;
            }
            if (kind == Kind::Plain) {
                text += a.value;
            } else {
                plain(text);
                pieces_.push_back({kind, a.value});
                text.clear();
            }
            static constexpr std::string_view kClose[] = {"\"", "'", "", "\n", ""};
            text += kClose[a.style];
        }
        plain(text + (chance(4) ? blanks() + ">" : ">"));
    }

    void linkTag() {
        static const std::vector<std::pair<std::string, std::string>> kLinkTags = {
            {"a", "href"}, {"img", "src"}, {"frame", "src"}, {"body", "background"}};
        const auto& [tag, attribute] = kLinkTags[static_cast<std::size_t>(pick(0, 3))];
        const auto list = assignments({attribute, attribute, "alt", "name"});
        writeTag(tag, list, {{effective(list, attribute), Kind::Url}});
    }

    void appletTag() {
        const auto list = assignments({"code", "codebase", "width"});
        writeTag("applet", list,
                 {{effective(list, "code"), Kind::ClassCode}, {effective(list, "codebase"), Kind::CodeBase}});
    }

    // Something left open by the end of the text.
    void openEnd() {
        switch (pick(0, 3)) {
            case 0: plain("<!--" + blanks() + word("-")); break;
            case 1: plain("<"); break;
            case 2:
                plain("<img src=\"");
                pieces_.push_back({Kind::Url, word("\"\r\n")});
                break;
            default:
                plain("<frame alt=x src=");
                pieces_.push_back({Kind::Url, word(" \t\r\n>\"'")});
                break;
        }
    }

    std::mt19937 rng_;
    std::vector<Piece> pieces_;
};

std::string written(const PageGenerator::Piece& piece, dl::TDlLinkConversion conversion) {
    using Kind = PageGenerator::Kind;
    const std::string stripped = dl::stripLinkText(piece.text);
    const std::string absolute = dl::resolveUrl(std::string(kBase), stripped).value_or(stripped);
    switch (piece.kind) {
        case Kind::Plain: return piece.text;
        case Kind::ClassCode: return stripped;
        case Kind::Url: return conversion == dl::lcNone ? stripped : absolute;
        case Kind::CodeBase: return conversion == dl::lcOnline ? absolute : stripped;
    }
    return {};
}

TEST(GeneratedPages, EveryOtherByteStaysAndEachLinkIsWrittenInItsPlace) {
    int pagesWithLinks = 0;
    int unchangedWithLinks = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        PageGenerator generator(seed);
        const auto pieces = generator.page();
        std::string text;
        for (const auto& piece : pieces) text += piece.text;
        dl::TDlHTMLObject page;
        page.loadPage(text);
        page.setBaseUrl(std::string(kBase));
        for (const dl::TDlLinkConversion conversion : {dl::lcNone, dl::lcOnline, dl::lcOffline}) {
            std::string expected;
            for (const auto& piece : pieces) expected += written(piece, conversion);
            page.setLinkConversion(conversion);
            ASSERT_EQ(page.pageText(), expected) << "seed " << seed << ", conversion " << int(conversion)
                                                 << ", page:\n" << text;
        }
        if (!page.Links().empty()) ++pagesWithLinks;
        page.setLinkConversion(dl::lcNone);
        if (!page.Links().empty() && page.pageText() == text) ++unchangedWithLinks;
    }
    // The generator reaches both kinds of pages often.
    EXPECT_GT(pagesWithLinks, 2000);
    EXPECT_GT(unchangedWithLinks, 500);
}

}  // namespace

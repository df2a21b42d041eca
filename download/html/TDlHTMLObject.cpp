#include "download/html/TDlHTMLObject.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <optional>

#include "download/html/LinkText.h"
#include "download/html/TDlWebHTMLLex.h"
#include "download/html/UrlResolve.h"
#include "download/values/AsciiCase.h"

namespace dl {

namespace {

using Attribute = TDlWebTagToken::Attribute;

// Builds the prototype while the page is read: every cut value leaves its
// place in the prototype behind, which becomes the link's SourcePos.
class PrototypeCutter {
public:
    PrototypeCutter(std::string_view page, std::string& prototype) : page_(page), prototype_(prototype) {
        prototype_.clear();
        prototype_.reserve(page.size());
    }

    // Cuts the value out when it lies after what is cut already and its place
    // fits a SourcePos; otherwise it stays in the prototype as text.
    void cut(const Attribute& value, TDlHTMLLink& link) {
        // valuePos is 1-based and names the byte before the value: as a 0-based
        // offset it is the end of the text kept before the value.
        const std::size_t keepEnd = value.valuePos;
        if (keepEnd < copyFrom_ || keepEnd >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
            leftUnplaced_ = true;
            return;
        }
        prototype_.append(page_, copyFrom_, keepEnd - copyFrom_);
        copyFrom_ = keepEnd + value.value.size();
        link.setSourcePos(static_cast<std::int32_t>(prototype_.size() + 1));
    }

    void finish() { prototype_.append(page_, std::min(copyFrom_, page_.size())); }
    bool leftUnplaced() const { return leftUnplaced_; }

private:
    std::string_view page_;
    std::string& prototype_;
    std::size_t copyFrom_ = 0;  // 0-based offset of the first byte not yet in the prototype
    bool leftUnplaced_ = false;
};

// The tags that hold one link in one attribute.
struct LinkTag {
    std::string_view tag;
    std::string_view attribute;
    TDlHTMLLinkType type;
};
constexpr std::array<LinkTag, 4> kLinkTags{{
    {"A", "HREF", LT_HREF},
    {"IMG", "SRC", LT_IMAGE},
    {"FRAME", "SRC", LT_FRAME},
    {"BODY", "BACKGROUND", LT_BODY},
}};

// A class link when there is a code and a code base link when there is a
// code base (a link without its value would be dropped anyway), cut in the
// order their values stand in the page.
void addAppletLinks(const TDlWebTagToken& tag, TDlHTMLLinks& links, PrototypeCutter& cutter) {
    const Attribute* code = tag.attribute("CODE");
    const Attribute* codeBase = tag.attribute("CODEBASE");
    const std::string codeBaseText = stripLinkText(codeBase != nullptr ? codeBase->value : std::string_view());
    TDlHTMLLink* classLink = nullptr;
    if (code != nullptr) {
        classLink = &links.add();
        classLink->setLinkType(LT_CLASS);
        classLink->setCodeBase(codeBaseText);
        classLink->setClassCode(code->value);
        classLink->setURL(classLink->CodeBase() + classLink->ClassCode());
    }
    TDlHTMLLink* codeBaseLink = nullptr;
    if (codeBase != nullptr) {
        codeBaseLink = &links.add();
        codeBaseLink->setLinkType(LT_NONE);
        codeBaseLink->setURL(codeBaseText);
        codeBaseLink->setLocal(true);
        codeBaseLink->setLocalFile(codeBaseText);
    }
    if (classLink != nullptr && codeBaseLink != nullptr && codeBase->valuePos < code->valuePos) {
        cutter.cut(*codeBase, *codeBaseLink);
        cutter.cut(*code, *classLink);
        return;
    }
    if (classLink != nullptr) cutter.cut(*code, *classLink);
    if (codeBaseLink != nullptr) cutter.cut(*codeBase, *codeBaseLink);
}

std::string_view attributeValue(const TDlWebTagToken& tag, std::string_view name) {
    const Attribute* attribute = tag.attribute(name);
    return attribute != nullptr ? attribute->value : std::string_view();
}

}  // namespace

TDlHTMLObject::TDlHTMLObject() : links_(this) {}

void TDlHTMLObject::clear() {
    loadedSize_ = 0;
    title_.clear();
    prototype_.clear();
    links_.clear();
    items_.clear();
}

void TDlHTMLObject::loadPage(std::string_view text) {
    clear();
    loadedSize_ = text.size();
    TDlWebHTMLLex lex(text);
    PrototypeCutter cutter(text, prototype_);
    std::optional<std::size_t> titleStart;
    for (;;) {
        const TDlWebToken& token = lex.nextToken();
        if (token.kind() == TDlWebToken::Kind::EndOfText) break;
        if (token.kind() != TDlWebToken::Kind::Tag) continue;
        const auto& tag = static_cast<const TDlWebTagToken&>(token);
        const std::string_view name = tag.Text();
        if (SameText(name, "TITLE")) {
            titleStart = tag.endOffset();
        } else if (SameText(name, "/TITLE")) {
            if (titleStart) title_.assign(text.substr(*titleStart, tag.offset() - *titleStart));
        } else if (SameText(name, "APPLET")) {
            addAppletLinks(tag, links_, cutter);
        } else if (SameText(name, "INPUT")) {
            TDlHTMLItem& item = items_.add();
            item.Name = stripLinkText(attributeValue(tag, "NAME"));
            item.Value = stripLinkText(attributeValue(tag, "VALUE"));
        } else {
            for (const LinkTag& linkTag : kLinkTags) {
                if (!SameText(name, linkTag.tag)) continue;
                if (const Attribute* value = tag.attribute(linkTag.attribute)) {
                    TDlHTMLLink& link = links_.add();
                    link.setLinkType(linkTag.type);
                    link.setURL(value->value);
                    cutter.cut(*value, link);
                }
                break;
            }
        }
    }
    cutter.finish();
    // Only a value beyond the reach of a SourcePos leaves its link unplaced.
    if (cutter.leftUnplaced()) links_.removeUnplaced();
}

std::string TDlHTMLObject::pageText() {
    links_.sortBySourcePos();
    std::string page;
    // Links as written give the loaded size again; absolute ones need more.
    page.reserve(linkConversion_ == lcNone ? loadedSize_ : loadedSize_ + loadedSize_ / 4);
    std::size_t from = 0;
    for (const TDlHTMLLink& link : links_) {
        // A place set from outside cannot send the text backwards or past its end.
        const std::size_t place = link.SourcePos() < 1 ? 0 : static_cast<std::size_t>(link.SourcePos()) - 1;
        const std::size_t to = std::clamp(place, from, prototype_.size());
        page.append(prototype_, from, to - from);
        if (link.LinkType() == LT_CLASS) {
            page += link.ClassCode();
        } else if (linkConversion_ == lcNone) {
            page += link.URL();
        } else {
            page += linkUrl(link);
        }
        from = to;
    }
    page.append(prototype_, from);
    return page;
}

std::string TDlHTMLObject::linkUrl(const TDlHTMLLink& link) const {
    if (linkConversion_ == lcNone) return link.URL();
    if (linkConversion_ == lcOffline && link.Local()) return offlinePath(link);
    return absoluteUrl(link);
}

// There are no drives here: whenever both names are absolute, the page
// reaches its copy by a relative path.
std::string TDlHTMLObject::offlinePath(const TDlHTMLLink& link) const {
    namespace fs = std::filesystem;
    const fs::path local(link.LocalFile());
    const fs::path page(pageFile_);
    if (!local.is_absolute() || !page.is_absolute()) return link.LocalFile();
    const fs::path relative = local.lexically_normal().lexically_relative(page.lexically_normal().parent_path());
    if (relative.empty()) return link.LocalFile();
    std::string path = relative.generic_string();
    const std::size_t hash = link.URL().find('#');
    if (hash != std::string::npos) path.append(link.URL(), hash);
    return path;
}

std::string TDlHTMLObject::absoluteUrl(const TDlHTMLLink& link) const {
    return resolveUrl(baseUrl_, link.URL()).value_or(link.URL());
}

std::string TDlHTMLObject::normalizedUrl(const TDlHTMLLink& link) const { return normalizeUrl(absoluteUrl(link)); }

std::int32_t TDlHTMLObject::findLink(std::string_view url) const {
    const FindIndex& index = findIndex();
    const auto found = index.firstLink.find(std::string(url));
    const std::int32_t link = found != index.firstLink.end() ? found->second : -1;
    if (index.firstFailure >= 0 && (link < 0 || index.firstFailure < link)) throw UrlDecodeError(index.failure);
    return link;
}

const TDlHTMLObject::FindIndex& TDlHTMLObject::findIndex() const {
    FindIndex& index = findIndex_;
    if (index.built && index.linksChange == links_.changeCount() && index.baseUrl == baseUrl_) return index;
    index.firstLink.clear();
    index.firstFailure = -1;
    index.failure.clear();
    for (std::int32_t i = 0; i < links_.count(); ++i) {
        try {
            index.firstLink.try_emplace(normalizedUrl(links_[i]), i);
        } catch (const UrlDecodeError& error) {
            if (index.firstFailure < 0) {
                index.firstFailure = i;
                index.failure = error.what();
            }
        }
    }
    index.built = true;
    index.linksChange = links_.changeCount();
    index.baseUrl = baseUrl_;
    return index;
}

}  // namespace dl

#pragma once
// A downloaded HTML page as the download needs it: its title, form inputs
// and resource links, and the page text again with each link written as
// written, as an absolute URL or as the relative path of a local copy.
//
// The page text with the link values cut out is kept as the prototype; each
// link knows the place in the prototype where its value belongs.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "download/html/TDlHTMLItems.h"
#include "download/html/TDlHTMLLink.h"
#include "download/html/TDlHTMLLinks.h"
#include "download/html/TDlLinkConversion.h"
#include "download/html/UrlNormalForm.h"

namespace dl {

class TDlHTMLObject {
public:
    TDlHTMLObject();
    TDlHTMLObject(const TDlHTMLObject&) = delete;
    TDlHTMLObject& operator=(const TDlHTMLObject&) = delete;

    // Clears the object and reads the page's title, links and form inputs.
    // Links whose attribute is missing or empty are dropped. Never fails.
    void loadPage(std::string_view text);
    // Empties the title, the prototype, the links and the form inputs.
    void clear();

    // The page text again, each link written by linkUrl (an applet's class
    // link by its ClassCode). Sorts Links by SourcePos first.
    std::string pageText();

    // The text to write for the link, by LinkConversion.
    std::string linkUrl(const TDlHTMLLink& link) const;
    // The link's URL made absolute against the base URL; as written when the
    // two do not make a URL.
    std::string absoluteUrl(const TDlHTMLLink& link) const;
    // The absolute URL in normalized form; throws UrlDecodeError.
    std::string normalizedUrl(const TDlHTMLLink& link) const;
    // The index of the first link whose normalized URL is exactly `url`, or
    // -1. Throws UrlDecodeError when a link before that one (or any, when none
    // matches) cannot be normalized. Not for use from two threads at once.
    std::int32_t findLink(std::string_view url) const;

    const std::string& HTMLPrototype() const { return prototype_; }
    TDlHTMLLinks& Links() { return links_; }
    const TDlHTMLLinks& Links() const { return links_; }
    const std::string& Title() const { return title_; }
    TDlHTMLItems& Items() { return items_; }
    const TDlHTMLItems& Items() const { return items_; }

    // The URL of the page, against which links are made absolute.
    const std::string& baseUrl() const { return baseUrl_; }
    void setBaseUrl(std::string url) { baseUrl_ = std::move(url); }
    // The local file of the page, from which local copies are reached.
    const std::string& pageFile() const { return pageFile_; }
    void setPageFile(std::string file) { pageFile_ = std::move(file); }

    TDlLinkConversion LinkConversion() const { return linkConversion_; }
    void setLinkConversion(TDlLinkConversion conversion) { linkConversion_ = conversion; }

private:
    // Normalized URLs by first link, worked out once for all finds until the
    // links or the base URL change: the download asks once per link.
    struct FindIndex {
        bool built = false;
        std::uint64_t linksChange = 0;
        std::string baseUrl;
        std::unordered_map<std::string, std::int32_t> firstLink;
        std::int32_t firstFailure = -1;  // the first link that does not normalize
        std::string failure;
    };

    std::string offlinePath(const TDlHTMLLink& link) const;
    const FindIndex& findIndex() const;

    std::string prototype_;
    TDlHTMLLinks links_;
    std::string baseUrl_;
    std::string pageFile_;
    std::string title_;
    TDlLinkConversion linkConversion_ = lcOffline;
    TDlHTMLItems items_;
    mutable FindIndex findIndex_;
    std::size_t loadedSize_ = 0;  // bytes of the page last loaded
};

}  // namespace dl

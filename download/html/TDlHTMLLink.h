#pragma once
// One link of a page: where its URL stands in the page text, what it points
// at, and the local copy the page may point at instead.
#include <cstdint>
#include <string>
#include <string_view>

#include "download/html/TDlHTMLLinkType.h"

namespace dl {

class TDlHTMLLinks;

class TDlHTMLLink {
public:
    // A link made by a collection tells it when its URL changes.
    explicit TDlHTMLLink(TDlHTMLLinks* collection = nullptr) : collection_(collection) {}
    // Others keep pointers to a link: it never moves.
    TDlHTMLLink(const TDlHTMLLink&) = delete;
    TDlHTMLLink& operator=(const TDlHTMLLink&) = delete;

    TDlHTMLLinks* collection() const { return collection_; }

    // The three texts drop every quote and the bytes 1 and 4 when set.
    const std::string& ClassCode() const { return classCode_; }
    void setClassCode(std::string_view text);
    const std::string& CodeBase() const { return codeBase_; }
    void setCodeBase(std::string_view text);
    // As written in the page.
    const std::string& URL() const { return url_; }
    void setURL(std::string_view text);

    // 1-based position in the page's prototype where the URL belongs; -1 none.
    std::int32_t SourcePos() const { return sourcePos_; }
    void setSourcePos(std::int32_t pos) { sourcePos_ = pos; }

    TDlHTMLLinkType LinkType() const { return linkType_; }
    void setLinkType(TDlHTMLLinkType type) { linkType_ = type; }

    // Set once the resource has a local copy, named by LocalFile.
    bool Local() const { return local_; }
    void setLocal(bool local) { local_ = local; }
    const std::string& LocalFile() const { return localFile_; }
    void setLocalFile(std::string file) { localFile_ = std::move(file); }

private:
    friend class TDlHTMLLinks;  // sets the collection of the links it makes in blocks

    TDlHTMLLinks* collection_;
    std::string classCode_;
    std::string codeBase_;
    std::string url_;
    std::int32_t sourcePos_ = -1;
    TDlHTMLLinkType linkType_ = LT_NONE;
    bool local_ = false;
    std::string localFile_;
};

}  // namespace dl

#include "download/html/TDlHTMLLink.h"

#include "download/html/LinkText.h"
#include "download/html/TDlHTMLLinks.h"

namespace dl {

void TDlHTMLLink::setClassCode(std::string_view text) { classCode_ = stripLinkText(text); }

void TDlHTMLLink::setCodeBase(std::string_view text) { codeBase_ = stripLinkText(text); }

void TDlHTMLLink::setURL(std::string_view text) {
    url_ = stripLinkText(text);
    if (collection_ != nullptr) collection_->noteChange();
}

}  // namespace dl

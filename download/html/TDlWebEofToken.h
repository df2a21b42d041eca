#pragma once
// Marks the end of the page text.
#include "download/html/TDlWebToken.h"

namespace dl {

class TDlWebEofToken : public TDlWebToken {
public:
    TDlWebEofToken() : TDlWebToken(Kind::EndOfText) {}
};

}  // namespace dl

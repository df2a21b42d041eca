#pragma once
// Which titles name the same song: the song key of a title. Full-width
// forms fold to their ASCII (and other compatibility) forms as NFKC folds
// them, ASCII letters to lower case, and blanks and the separators the
// service puts between artist and song ("-", "_", "·") go. Brackets and what
// they hold stay: "歌（Live）" and "歌【伴奏】" are other songs than "歌".
#include <string>
#include <string_view>

namespace store {

// The key of a UTF-8 title; bytes that are no UTF-8 are kept as they are.
std::string songKey(std::string_view title);

}  // namespace store

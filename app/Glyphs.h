#pragma once
// The toolbar and button glyphs, drawn rather than shipped as image files.
#include <QIcon>

namespace app {

enum class Glyph { Search, Stop, Clear, Refresh, Instructions, Exit };

QIcon glyphIcon(Glyph glyph, int size = 24);

}  // namespace app

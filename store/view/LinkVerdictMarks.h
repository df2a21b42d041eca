#pragma once
// The small marks a probed row carries before its title, drawn rather than
// taken from a font, so that every face shows them alike: a green tick for
// 可用, a red cross for 失效, an orange "!" for 不是歌曲, a grey wave for
// 暂时不可用. UI thread only (they are pixmaps, made once).
#include <QColor>
#include <QIcon>

#include "store/LinkVerdictStore.h"

namespace store {

QIcon verdictMark(LinkVerdictKind kind);

// The text colour of a row whose link is of no use (失效, 不是歌曲); the
// others keep the grid's own.
bool greysOut(LinkVerdictKind kind);
QColor greyedText();

}  // namespace store

#include "app/FontSubstitutions.h"

#include <QFont>

namespace app {
namespace {

// Song (Ming) style serif for 宋体; for the clerical 隶书 brush faces:
// Latin letters from a brush script whose l is an l (the Kai brush face
// draws it like a 1, so "BrelvoMP3" read "Bre1voMP3"), Chinese from the Kai
// brush face, which is the next in the list and so takes every character
// the first face lacks;
// Tahoma is a narrow humanist sans like DejaVu Sans Condensed, and MS Sans
// Serif a plain sans of about the same width. The CJK faces close each list
// for characters the first faces lack.
const QString kSongSerif = QStringLiteral("Noto Serif CJK SC");
const QString kMingSerif = QStringLiteral("AR PL UMing CN");
const QString kBrushLatin = QStringLiteral("Kaushan Script");
const QString kBrush = QStringLiteral("AR PL UKai CN");
const QString kCjkSans = QStringLiteral("Noto Sans CJK SC");
const QString kCjkFallback = QStringLiteral("WenQuanYi Zen Hei");
const QString kNarrowSans = QStringLiteral("DejaVu Sans Condensed");
const QString kSans = QStringLiteral("DejaVu Sans");

}  // namespace

const std::vector<FontSubstitution>& fontSubstitutions() {
    static const std::vector<FontSubstitution> table = {
        {QStringLiteral("宋体"), {kSongSerif, kMingSerif, kCjkFallback}},
        {QStringLiteral("SimSun"), {kSongSerif, kMingSerif, kCjkFallback}},
        {QStringLiteral("隶书"), {kBrushLatin, kBrush, kSongSerif, kCjkFallback}},
        {QStringLiteral("LiSu"), {kBrushLatin, kBrush, kSongSerif, kCjkFallback}},
        {QStringLiteral("Tahoma"), {kNarrowSans, kSans, kCjkSans, kCjkFallback}},
        {QStringLiteral("MS Sans Serif"), {kNarrowSans, kSans, kCjkSans, kCjkFallback}},
    };
    return table;
}

void installFontSubstitutions() {
    for (const FontSubstitution& entry : fontSubstitutions()) {
        QFont::removeSubstitutions(entry.family);
        QFont::insertSubstitutions(entry.family, entry.substitutes);
    }
}

}  // namespace app

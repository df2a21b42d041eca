#include "app/FontSubstitutions.h"

#include <QFont>

namespace app {
namespace {

// Song (Ming) style serif for 宋体; a brush face for the clerical 隶书;
// Tahoma is a narrow humanist sans like DejaVu Sans Condensed, and MS Sans
// Serif a plain sans of about the same width. The CJK faces close each list
// for characters the first faces lack.
const QString kSongSerif = QStringLiteral("Noto Serif CJK SC");
const QString kMingSerif = QStringLiteral("AR PL UMing CN");
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
        {QStringLiteral("隶书"), {kBrush, kSongSerif, kCjkFallback}},
        {QStringLiteral("LiSu"), {kBrush, kSongSerif, kCjkFallback}},
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

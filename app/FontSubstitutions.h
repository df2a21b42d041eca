#pragma once
// The windows ask for the Windows faces their layouts were made with. This
// maps each of them to the closest face of its kind installed here.
#include <QString>
#include <QStringList>
#include <vector>

namespace app {

struct FontSubstitution {
    QString family;          // the face a window asks for
    QStringList substitutes; // tried in this order; faces not installed are skipped
};

const std::vector<FontSubstitution>& fontSubstitutions();

// Enters the table into Qt's font substitutions for the whole program.
void installFontSubstitutions();

}  // namespace app

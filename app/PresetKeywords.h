#pragma once
#include <QStringList>

namespace app {

// The 27 entries of the keyword box's list.
QStringList presetKeywords();

}  // namespace app

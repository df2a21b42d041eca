#include "app/ProgramSettings.h"

namespace app {

std::unique_ptr<QSettings> programSettings() {
    // Named here rather than through the application's names: the tests'
    // application has none, and its settings must land in the same file.
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("BrelvoMP3"),
                                       QStringLiteral("BrelvoMP3"));
}

}  // namespace app

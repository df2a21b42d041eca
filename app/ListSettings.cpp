#include "app/ListSettings.h"

#include "app/ProgramSettings.h"

namespace app {
namespace {

const QString kAtATime = QStringLiteral("downloadList/atATime");
const QString kLimitSpeed = QStringLiteral("downloadList/limitSpeed");
const QString kLimitKBps = QStringLiteral("downloadList/limitKBps");

// The number kept under `key` when it is one within [low, high]; `fallback` otherwise.
int keptNumber(const QSettings& settings, const QString& key, int low, int high, int fallback) {
    bool ok = false;
    const int value = settings.value(key).toInt(&ok);
    return ok && value >= low && value <= high ? value : fallback;
}

}  // namespace

ListSettings loadListSettings() {
    const std::unique_ptr<QSettings> settings = programSettings();
    ListSettings kept;
    kept.atATime = keptNumber(*settings, kAtATime, ListSettings::kMinAtATime, ListSettings::kMaxAtATime,
                              ListSettings::kDefaultAtATime);
    const QVariant limit = settings->value(kLimitSpeed);
    kept.limitSpeed = limit.isValid() && limit.toString() == QStringLiteral("true");
    kept.limitKBps = keptNumber(*settings, kLimitKBps, ListSettings::kMinLimitKBps, ListSettings::kMaxLimitKBps,
                                ListSettings::kDefaultLimitKBps);
    return kept;
}

void saveListSettings(const ListSettings& kept) {
    const std::unique_ptr<QSettings> settings = programSettings();
    settings->setValue(kAtATime, kept.atATime);
    settings->setValue(kLimitSpeed, kept.limitSpeed);
    settings->setValue(kLimitKBps, kept.limitKBps);
    settings->sync();
}

}  // namespace app

#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

namespace app {

QtTranslations::QtTranslations() {
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    loaded_ = translator_.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                               QStringLiteral("_"), folder) &&
              QCoreApplication::installTranslator(&translator_);
}

QtTranslations::~QtTranslations() {
    if (loaded_) QCoreApplication::removeTranslator(&translator_);
}

}  // namespace app

#pragma once
// Qt's own dialog texts (message box buttons and the like) in the program's
// language, Simplified Chinese, whatever the system's locale.
#include <QTranslator>

namespace app {

class QtTranslations {
public:
    // Loads Qt's Chinese translations and installs them in the application;
    // without them installed, Qt's English texts stay.
    QtTranslations();
    ~QtTranslations();
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

private:
    QTranslator translator_;
    bool loaded_ = false;
};

}  // namespace app

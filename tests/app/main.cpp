// The window tests need one QApplication for the whole run, created before
// and destroyed after every test, on the main thread. Fonts, Qt's own texts
// and the dialogs' frames are set up as the program sets them up. The
// settings the windows keep go to a folder of the run's own (the programs
// the tests start inherit it), never to the user's, and the notifications
// to no desktop's.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "app/DialogFrames.h"
#include "app/FontSubstitutions.h"
#include "app/QtTranslations.h"
#include "platform/ui/UiHandoff.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Also when run by hand or listed by the build: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", settingsFolder.path().toLocal8Bit());
    // Nor the user's desktop: the list's notifications go to no session bus
    // but the one a test makes for them.
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + settingsFolder.path() + "/no-bus").toLocal8Bit());
    QApplication application(argc, argv);
    app::installFontSubstitutions();
    app::QtTranslations qtTranslations;
    app::DialogFrames dialogFrames;
    application.installEventFilter(&dialogFrames);
    platform::UiHandoff handoff;
    return RUN_ALL_TESTS();
}

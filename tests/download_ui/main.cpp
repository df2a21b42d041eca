// The component's reports reach the UI thread through the process's UI
// hand-off, and its window is a Qt dialog: one QApplication and one hand-off
// for the whole run, on the main thread, without a display.
#include <QApplication>
#include <gtest/gtest.h>

#include "app/FontSubstitutions.h"
#include "platform/ui/UiHandoff.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    app::installFontSubstitutions();
    platform::UiHandoff handoff;
    const int status = RUN_ALL_TESTS();
    handoff.shutdown();
    return status;
}

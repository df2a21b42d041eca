// The engine's reports go to the UI thread through the process's UI hand-off:
// one QCoreApplication and one hand-off for the whole run, on the main thread.
#include <QCoreApplication>
#include <gtest/gtest.h>

#include "platform/ui/UiHandoff.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication application(argc, argv);
    platform::UiHandoff handoff;
    const int status = RUN_ALL_TESTS();
    handoff.shutdown();
    return status;
}

// The program as a process that cannot start: without its store it shows an
// error box, and the signals that ask a program to end still end it there.
#include <signal.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

TEST(StartUpSignals, TermIntAndHupEndTheProgramWhileItsErrorBoxIsShown) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        testsupport::TempDir dir;  // no mysong.mdb in it
        testsupport::ToolProcess program(testsupport::toolNextToTests("brelvomp3"), {}, {"QT_QPA_PLATFORM=offscreen"},
                                         dir.path());
        ASSERT_TRUE(program.started());
        // The reason goes to standard error just before the box is shown.
        ASSERT_TRUE(testsupport::waitFor([&] { return program.err().find("brelvomp3: ") != std::string::npos; },
                                         std::chrono::seconds(20)))
            << "the program did not fail to start";
        program.signal(signal);
        ASSERT_TRUE(program.waitForExit(std::chrono::seconds(20))) << "the error box ignored the signal";
        EXPECT_TRUE(program.exited()) << "ended by signal " << program.termSignal();
        EXPECT_EQ(program.exitCode(), 1);
    }
}

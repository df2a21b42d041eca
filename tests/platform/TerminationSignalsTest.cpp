#include <signal.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "platform/ui/TerminationSignals.h"
#include "tests/platform/PlatformTestApp.h"

namespace {

using platformtest::app;

bool sameHandler(int signal, void (*handler)(int)) {
    struct sigaction now {};
    ::sigaction(signal, nullptr, &now);
    return now.sa_handler == handler;
}

}  // namespace

TEST(TerminationSignals, EachSignalReachesTheUiThreadOnceAndTheOldHandlingComesBack) {
    app();
    std::vector<int> received;
    {
        platform::TerminationSignals taken([&](int signal) { received.push_back(signal); });
        // Only one instance holds the signals.
        EXPECT_THROW(platform::TerminationSignals([](int) {}), std::runtime_error);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::raise(SIGHUP);
        EXPECT_TRUE(received.empty());  // not inside the signal handler
        QElapsedTimer timer;
        timer.start();
        while (received.size() < 3 && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT, SIGHUP}));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) EXPECT_TRUE(sameHandler(signal, SIG_DFL)) << signal;
    // Free again for the next owner.
    EXPECT_NO_THROW(platform::TerminationSignals([](int) {}));
}

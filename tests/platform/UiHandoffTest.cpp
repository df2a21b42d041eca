#include <atomic>
#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include "platform/ui/UiHandoff.h"
#include "tests/platform/PlatformTestApp.h"
#include "tests/support/PumpEvents.h"

using namespace std::chrono_literals;
using platform::UiHandoff;
using platform::UiHandoffAbandoned;

namespace {

using platformtest::app;

using testsupport::pumpUntil;

}  // namespace

TEST(UiHandoff, RunsOnUiThreadAndCarriesExceptionsBack) {
    app();
    UiHandoff handoff;
    std::atomic<bool> finished{false};
    Qt::HANDLE uiThread = QThread::currentThreadId();
    Qt::HANDLE ranOn = nullptr;
    std::string caught;
    std::thread worker([&] {
        handoff.run([&] { ranOn = QThread::currentThreadId(); });
        try {
            handoff.run([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        finished = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, uiThread);
    EXPECT_EQ(caught, "boom");
}

TEST(UiHandoff, DirectCallOnUiThread) {
    app();
    UiHandoff handoff;
    bool ran = false;
    handoff.run([&] { ran = true; });  // no event loop needed
    EXPECT_TRUE(ran);
}

TEST(UiHandoff, AbandonReleasesWaiterAndCallNeverRuns) {
    app();
    UiHandoff handoff;
    std::atomic<bool> halted{false};
    std::atomic<bool> abandoned{false};
    bool ran = false;
    std::thread worker([&] {
        try {
            handoff.run([&] { ran = true; }, [&] { return halted.load(); });
        } catch (const UiHandoffAbandoned&) {
            abandoned = true;
        }
    });
    std::this_thread::sleep_for(30ms);  // the call is queued, the UI loop is not running
    halted = true;
    worker.join();  // bounded by the 20 ms poll
    EXPECT_TRUE(abandoned);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST(UiHandoff, ShutdownReleasesWaitersAndRefusesLaterCalls) {
    app();
    UiHandoff handoff;
    std::atomic<int> abandoned{0};
    std::thread worker([&] {
        try {
            handoff.run([] {});
        } catch (const UiHandoffAbandoned&) {
            ++abandoned;
        }
        try {
            handoff.run([] {});
        } catch (const UiHandoffAbandoned&) {
            ++abandoned;
        }
    });
    std::this_thread::sleep_for(30ms);
    handoff.shutdown();
    worker.join();
    EXPECT_EQ(abandoned, 2);
}

TEST(UiHandoff, ServeQueuedRunsOnlyTheHandOffs) {
    app();
    UiHandoff handoff;
    EXPECT_TRUE(handoff.onUiThread());
    std::atomic<bool> ran{false};
    std::thread worker([&] { handoff.run([&] { ran = true; }); });
    QObject other;
    bool otherRan = false;
    QMetaObject::invokeMethod(&other, [&] { otherRan = true; }, Qt::QueuedConnection);
    // The worker's call is queued once the worker is blocked; serve until it ran.
    for (int i = 0; i < 5000 && !ran; ++i) {
        handoff.serveQueued();
        std::this_thread::sleep_for(1ms);
    }
    worker.join();
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(otherRan);  // the rest of the event queue waits for the event loop
    QCoreApplication::processEvents();
    EXPECT_TRUE(otherRan);
}

// The plain event loop and the hand-off on it, which the tools run the
// download road on instead of Qt's.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/EventLoop.h"
#include "platform/LoopHandoff.h"
#include "platform/TerminationSignalPipe.h"

using namespace std::chrono_literals;
using platform::EventLoop;
using platform::LoopHandoff;

namespace {

// Ends a loop that a broken test would leave running: every exec() here is
// bounded by it.
class Deadline {
public:
    explicit Deadline(EventLoop& loop) {
        loop.postAfter(30s, [&loop] {
            ADD_FAILURE() << "the loop ran into the test's deadline";
            loop.quit();
        });
    }
};

}  // namespace

TEST(EventLoop, PostedCallsRunOnTheLoopThreadInOrderFromAnyThread) {
    EventLoop loop;
    Deadline deadline(loop);
    std::vector<int> order;
    const auto loopThread = std::this_thread::get_id();
    bool allOnLoop = true;
    std::thread poster([&] {
        EXPECT_FALSE(loop.onLoopThread());
        for (int i = 0; i < 100; ++i)
            loop.post([&, i] {
                allOnLoop = allOnLoop && std::this_thread::get_id() == loopThread;
                order.push_back(i);
                if (i == 99) loop.quit();
            });
    });
    loop.exec();
    poster.join();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allOnLoop);
}

TEST(EventLoop, TimersRunWhenDueNeverEarlyAndInOrder) {
    EventLoop loop;
    Deadline deadline(loop);
    using Clock = std::chrono::steady_clock;
    std::vector<std::string> order;
    bool early = false;
    const auto start = Clock::now();
    auto at = [&](std::chrono::milliseconds delay, std::string name) {
        loop.postAfter(delay, [&, delay, name] {
            early = early || Clock::now() - start < delay;
            order.push_back(name);
            if (order.size() == 5) loop.quit();
        });
    };
    at(40ms, "c");
    at(0ms, "a");
    at(40ms, "d");  // due with c: after it, as posted
    at(-5ms, "b");  // overdue counts as now
    at(80ms, "e");
    loop.exec();
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_FALSE(early);
}

TEST(EventLoop, QuitLeavesWhatIsLeftForTheNextExec) {
    EventLoop loop;
    Deadline deadline(loop);
    // Asked before it runs: exec returns at once, nothing run.
    std::vector<int> ran;
    loop.quit();
    loop.post([&] { ran.push_back(1); });
    loop.exec();
    EXPECT_TRUE(ran.empty());
    // Asked by a call: the calls after it wait, in order, for the next exec.
    loop.post([&] { loop.quit(); });
    loop.post([&] { ran.push_back(2); });
    loop.exec();
    EXPECT_EQ(ran, (std::vector<int>{1}));
    loop.post([&] { loop.quit(); });
    loop.exec();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(EventLoop, AWatchedDescriptorIsReadOnTheLoopAndAThrownErrorEndsExec) {
    EventLoop loop;
    Deadline deadline(loop);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    std::string got;
    loop.watch(fds[1], [&] {
        char buffer[8];
        const ssize_t n = ::read(fds[1], buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        if (got == "xy") throw std::runtime_error("seen");
    });
    std::thread writer([&] {
        EXPECT_EQ(::write(fds[0], "x", 1), 1);
        EXPECT_EQ(::write(fds[0], "y", 1), 1);
    });
    EXPECT_THROW(loop.exec(), std::runtime_error);
    writer.join();
    EXPECT_EQ(got, "xy");
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(LoopHandoff, RunsOnTheLoopCarriesErrorsBackAndServesOnlyHandOffs) {
    EventLoop loop;
    Deadline deadline(loop);
    {
        LoopHandoff handoff(loop);
        EXPECT_EQ(platform::Handoff::instance(), &handoff);
        EXPECT_TRUE(handoff.onUiThread());
        std::atomic<bool> ranOnLoop{false};
        std::string caught;
        std::atomic<bool> caughtSet{false};
        std::atomic<bool> serving{false};
        bool postRan = false;
        std::atomic<bool> handedOff{false};
        std::thread worker([&] {
            handoff.run([&] { ranOnLoop = loop.onLoopThread(); });
            try {
                handoff.run([] { throw std::runtime_error("boom"); });
            } catch (const std::runtime_error& e) {
                caught = e.what();
            }
            caughtSet = true;
            for (int i = 0; i < 30000 && !serving; ++i) std::this_thread::sleep_for(1ms);
            // Queued behind a post: serveQueued takes the hand-off alone.
            loop.post([&] { postRan = true; });
            handoff.run([&] { handedOff = true; });
        });
        // The first two through the loop.
        while (!caughtSet) {
            loop.post([&] { loop.quit(); });
            loop.exec();
        }
        serving = true;
        for (int i = 0; i < 30000 && !handedOff; ++i) {
            handoff.serveQueued();
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(handedOff.load());
        EXPECT_FALSE(postRan);
        worker.join();
        loop.post([&] { loop.quit(); });
        loop.exec();
        EXPECT_TRUE(postRan);
        EXPECT_TRUE(ranOnLoop.load());
        EXPECT_EQ(caught, "boom");
        // Called on the loop's thread it runs at once.
        bool direct = false;
        handoff.run([&] { direct = true; });
        EXPECT_TRUE(direct);
    }
    EXPECT_EQ(platform::Handoff::instance(), nullptr);
}

TEST(LoopHandoff, ShutdownReleasesAWaiterTheLoopNeverServes) {
    EventLoop loop;
    LoopHandoff handoff(loop);
    std::atomic<int> abandoned{0};
    std::thread worker([&] {
        for (int i = 0; i < 2; ++i) {
            try {
                handoff.run([] { ADD_FAILURE() << "ran after shutdown"; });
            } catch (const platform::UiHandoffAbandoned&) {
                ++abandoned;
            }
        }
    });
    std::this_thread::sleep_for(30ms);  // either order ends the same way
    handoff.shutdown();
    worker.join();
    EXPECT_EQ(abandoned.load(), 2);
    // The queued call, delivered now, does nothing.
    loop.post([&] { loop.quit(); });
    loop.exec();
}

TEST(TerminationSignalPipe, SignalsReachTheLoopOutsideTheHandlerAndTheOldHandlingComesBack) {
    EventLoop loop;
    Deadline deadline(loop);
    std::vector<int> received;
    {
        platform::TerminationSignalPipe pipe([&](int signal) {
            received.push_back(signal);
            if (received.size() == 3) loop.quit();
        });
        EXPECT_THROW(platform::TerminationSignalPipe([](int) {}), std::runtime_error);
        loop.watch(pipe.fd(), [&pipe] { pipe.readSignals(); });
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        EXPECT_TRUE(received.empty());
        loop.exec();
    }
    EXPECT_EQ(received, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
    struct sigaction now {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

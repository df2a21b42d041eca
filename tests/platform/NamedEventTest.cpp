#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/NamedEvent.h"

using namespace std::chrono_literals;
using platform::ManualResetEvent;
using platform::WaitResult;

TEST(NamedEvent, SameNameGivesSameObjectCreatedUnset) {
    auto a = platform::openNamedEvent("test event one");
    auto b = platform::openNamedEvent("test event one");
    auto c = platform::openNamedEvent("test event two");
    EXPECT_EQ(a.get(), b.get());
    EXPECT_NE(a.get(), c.get());
    EXPECT_FALSE(a->isSet());
    a->set();
    EXPECT_TRUE(b->isSet());
    a->reset();
}

TEST(NamedEvent, ManualResetStaysSetForEveryWaiter) {
    ManualResetEvent e;
    e.set();
    EXPECT_EQ(e.wait(0ms), WaitResult::Signaled);
    EXPECT_EQ(e.wait(0ms), WaitResult::Signaled);
    e.reset();
    EXPECT_EQ(e.wait(10ms), WaitResult::Timeout);
}

TEST(NamedEvent, SetFromAnotherThreadWakesWaiter) {
    ManualResetEvent e;
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        e.set();
    });
    EXPECT_EQ(e.wait(5000ms), WaitResult::Signaled);
    t.join();
}

TEST(NamedEvent, AbandonPredicateEndsWaitWhenWoken) {
    ManualResetEvent e;
    std::atomic<bool> halted{false};
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        halted = true;
        e.wake();
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.wait(5000ms, [&] { return halted.load(); }), WaitResult::Abandoned);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2000ms);
    t.join();
    // An abandoned waiter wins over a set event: a halted stage must not act.
    e.set();
    EXPECT_EQ(e.wait(0ms, [] { return true; }), WaitResult::Abandoned);
}

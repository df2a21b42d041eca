// The notifier: methods run on the UI thread while their callers wait,
// exceptions travel back, requests run one at a time in arrival order.
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "download/engine/TDlSyncObject.h"
#include "platform/ui/UiHandoff.h"
#include "tests/download/DownloadTestSupport.h"

using namespace std::chrono_literals;
using dl::TDlSyncObject;
using dltest::pumpUntil;

namespace {

class SongError : public std::runtime_error {
public:
    explicit SongError(int code) : std::runtime_error("song error"), code(code) {}
    int code;
};

}  // namespace

TEST(SyncObject, FirstRequestOfTheProcessIsNumberTwo) {
    if (TDlSyncObject::LastRequestId() != 1) GTEST_SKIP() << "requests were made earlier in this process";
    TDlSyncObject notifier;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        notifier.Synchronize([] {});
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(TDlSyncObject::LastRequestId(), 2);
}

TEST(SyncObject, CarriesTheExceptionBackAndTheUiThreadGoesOn) {
    TDlSyncObject notifier;
    std::atomic<bool> done{false};
    int caughtCode = 0;
    bool ranOnUi = false;
    std::thread worker([&] {
        try {
            notifier.Synchronize([&] {
                ranOnUi = TDlSyncObject::OnUiThread();
                throw SongError(42);
            });
        } catch (const SongError& e) {
            caughtCode = e.code;
        }
        done = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(ranOnUi);
    EXPECT_EQ(caughtCode, 42);
    EXPECT_FALSE(notifier.HasPendingRequest());
    bool after = false;
    std::thread second([&] { notifier.Synchronize([&] { after = true; }); });
    ASSERT_TRUE(pumpUntil([&] { return after; }));
    second.join();
}

TEST(SyncObject, TwoCallingThreadsRunOneAtATimeEachInOrder) {
    TDlSyncObject notifier;
    constexpr int kEach = 50;
    std::mutex mutex;
    std::vector<std::pair<int, int>> ran;  // caller, sequence
    int running = 0, mostAtOnce = 0;
    bool allOnUi = true;
    std::atomic<int> finished{0};
    auto caller = [&](int who) {
        for (int i = 0; i < kEach; ++i) {
            bool mine = false;
            notifier.Synchronize([&] {
                {
                    std::lock_guard lock(mutex);
                    mostAtOnce = std::max(mostAtOnce, ++running);
                    allOnUi = allOnUi && TDlSyncObject::OnUiThread();
                    ran.emplace_back(who, i);
                }
                std::this_thread::sleep_for(100us);
                std::lock_guard lock(mutex);
                --running;
                mine = true;
            });
            // The caller returns only after its own method has run.
            if (!mine) ADD_FAILURE() << "returned before its method ran";
        }
        ++finished;
    };
    std::thread a(caller, 0), b(caller, 1);
    ASSERT_TRUE(pumpUntil([&] { return finished.load() == 2; }));
    a.join();
    b.join();
    EXPECT_EQ(mostAtOnce, 1);
    EXPECT_TRUE(allOnUi);
    ASSERT_EQ(ran.size(), 2u * kEach);
    int next[2] = {0, 0};
    for (const auto& [who, i] : ran) EXPECT_EQ(i, next[who]++);
}

TEST(SyncObject, OnTheUiThreadTheMethodRunsWithinTheCall) {
    TDlSyncObject notifier;
    bool ran = false;
    notifier.Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_THROW(notifier.Synchronize([] { throw SongError(1); }), SongError);
}

TEST(SyncObject, PendingIsTrueOnlyWhileARequestWaits) {
    TDlSyncObject notifier;
    EXPECT_FALSE(notifier.HasPendingRequest());
    std::atomic<bool> released{false};
    std::thread worker([&] {
        notifier.Synchronize([] {});
        released = true;
    });
    const auto start = std::chrono::steady_clock::now();
    while (!notifier.HasPendingRequest() && std::chrono::steady_clock::now() - start < 2s)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(notifier.HasPendingRequest());
    TDlSyncObject other;
    EXPECT_FALSE(other.HasPendingRequest());  // per notifier
    ASSERT_TRUE(pumpUntil([&] { return released.load(); }));
    worker.join();
    EXPECT_FALSE(notifier.HasPendingRequest());
}

TEST(SyncObject, AbandonDropsWaitingRequestsAndRefusesLaterOnes) {
    TDlSyncObject notifier;
    std::atomic<int> abandoned{0};
    bool ran = false;
    std::thread worker([&] {
        for (int i = 0; i < 2; ++i) {
            try {
                notifier.Synchronize([&] { ran = true; });
            } catch (const platform::UiHandoffAbandoned&) {
                ++abandoned;
            }
        }
    });
    const auto start = std::chrono::steady_clock::now();
    while (!notifier.HasPendingRequest() && std::chrono::steady_clock::now() - start < 2s)
        std::this_thread::sleep_for(1ms);
    notifier.Abandon();
    worker.join();  // bounded by the hand-off's abandon poll
    pumpUntil([] { return false; }, 50);
    EXPECT_EQ(abandoned.load(), 2);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(notifier.HasPendingRequest());
}

TEST(SyncObject, DirectCallRunsOnTheCallingThread) {
    TDlSyncObject::SetDirectCallDefault(true);
    TDlSyncObject notifier;
    TDlSyncObject::SetDirectCallDefault(false);
    ASSERT_TRUE(notifier.DirectCall);
    std::thread::id ranOn;
    std::thread worker([&] { notifier.Synchronize([&] { ranOn = std::this_thread::get_id(); }); });
    const std::thread::id workerId = worker.get_id();
    worker.join();  // no pumping needed
    EXPECT_EQ(ranOn, workerId);
    EXPECT_FALSE(TDlSyncObject().DirectCall);
}

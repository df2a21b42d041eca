// A store that another connection holds locked, or that is damaged while it
// is open: the operations fail as each must (a worker's insert after its wait,
// the UI thread's at once, Clear silently), none throws where it must not, and
// the snapshot stays the last good one.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"

using store::SongStore;
using store::StoreError;
using Clock = std::chrono::steady_clock;

namespace {

class StoreTrouble : public storetest::StoreWithThreeRows {};

bool failsLocked(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const StoreError& e) {
        return e.locked();
    }
    return false;
}

}  // namespace

TEST_F(StoreTrouble, ALockedFileFailsWritesAndKeepsTheSnapshotReadable) {
    SongStore songs(path_);
    songs.SetBusyWait(std::chrono::milliseconds(200));
    storetest::OtherConnection other(path_);
    other.holdWriteLock();

    EXPECT_TRUE(failsLocked([&] { songs.Insert("t", "http://t.mp3", "k"); }));
    EXPECT_TRUE(failsLocked([&] { songs.DeleteRow(0); }));
    EXPECT_NO_THROW(songs.RequeryBriefly());
    EXPECT_NO_THROW(songs.Requery());
    EXPECT_EQ(songs.Count(), 3);
    ASSERT_TRUE(songs.Row(2).has_value());
    EXPECT_EQ(*songs.Row(2)->title, "title 2");

    // Clear cannot delete now: it tries again in the background, with the
    // query closed meanwhile, and gives up after the busy wait.
    EXPECT_NO_THROW(songs.Clear());
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(songs.Count(), 3);
    other.release();
    EXPECT_EQ(storetest::rowsOnDisk(path_), 3);
}

TEST_F(StoreTrouble, AClearWaitingForALockIsDoneWhenTheLockGoes) {
    SongStore songs(path_);
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    songs.Clear();
    EXPECT_FALSE(songs.IsOpen());
    EXPECT_EQ(songs.Count(), 0);
    other.release();
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(storetest::rowsOnDisk(path_), 0);
    EXPECT_EQ(songs.QueryText(), "select * from tab1");
}

// The cutting stage's insert may wait long for a locked file; a halt must not
// wait with it.
TEST_F(StoreTrouble, ACancelledWaitEndsAnInsertWaitingForALockedFile) {
    SongStore songs(path_);
    songs.SetBusyWait(std::chrono::seconds(120));
    storetest::OtherConnection other(path_);
    other.holdWriteLock();
    std::atomic<bool> halt{false};
    std::atomic<bool> failed{false};
    const auto start = Clock::now();
    std::thread stage([&] {
        failed = failsLocked([&] { songs.Insert("t", "http://t.mp3", "k", [&] { return halt.load(); }); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    halt = true;
    stage.join();
    EXPECT_TRUE(failed.load());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)) << "the insert waited out its busy wait";
    other.release();
    EXPECT_EQ(storetest::rowsOnDisk(path_), 3);
}

TEST_F(StoreTrouble, ADamagedFileFailsOperationsButNoneThatMustStaySilent) {
    storetest::execSql(path_, storetest::insertRows(3000, 3));
    SongStore songs(path_);
    ASSERT_EQ(*songs.Row(0)->title, "title 0");
    storetest::damage(path_);

    EXPECT_THROW(songs.Insert("t", "http://t.mp3", "k"), StoreError);
    EXPECT_THROW(songs.Requery(), StoreError);
    EXPECT_NO_THROW(songs.RequeryBriefly());
    EXPECT_NO_THROW(songs.Clear());
    ASSERT_TRUE(songs.WaitUntilIdle(std::chrono::seconds(60)));
    EXPECT_THROW(songs.DeleteRow(5), StoreError);
    EXPECT_NO_THROW(songs.Row(2500));
    // The grid goes on showing the last good snapshot.
    EXPECT_TRUE(songs.IsOpen());
    EXPECT_EQ(songs.Count(), 3003);
}

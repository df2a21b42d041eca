// The program as a process: asked to end from outside, it ends the way
// closing its window ends it, promptly and with status 0.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "store/DownloadListStore.h"
#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/app/ProgramProcess.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The exit status, or -1 when the process did not end within the limit.
int waitBounded(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    const auto deadline = Clock::now() + limit;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Starts the program (offscreen) in `dir`, which holds its store file:
// posix_spawn's result, with `pid` set.
int startProgramIn(const fs::path& dir, pid_t& pid) {
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string program = testsupport::toolNextToTests("brelvomp3").string();
    char* argv[] = {program.data(), nullptr};
    const int spawned = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    fs::current_path(old);
    return spawned;
}

// Waits, bounded, until the process has opened and read its store file
// (holding it open is not enough: the file is opened before it is read,
// and a store damaged in between is the start-up error, another test).
bool windowBuilt(pid_t pid) { return apptest::storeOpened(pid); }

}  // namespace

TEST(ProgramEnd, TermIntAndHupEndTheProgramCleanly) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        testsupport::TempDir dir;
        store::CreateEmptyStore(dir.file("mysong.mdb"));
        pid_t pid = -1;
        ASSERT_EQ(startProgramIn(dir.path(), pid), 0);
        // The signals are taken before the store is opened.
        ASSERT_TRUE(windowBuilt(pid)) << "the program did not start";
        ::kill(pid, signal);
        EXPECT_EQ(waitBounded(pid, std::chrono::seconds(5)), 0) << signal;
    }
}

// Whatever the store is doing, a signal ends the program at once: here with
// another program holding its write lock, and with the file damaged under it.
TEST(ProgramEnd, TermEndsTheProgramWithItsStoreLockedOrDamaged) {
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "locked");
        testsupport::TempDir dir;
        const std::string store = dir.file("mysong.mdb");
        store::CreateEmptyStore(store);
        storetest::execSql(store, storetest::insertRows(2000));
        storetest::OtherConnection other(store);
        if (!damaged) other.holdWriteLock();
        pid_t pid = -1;
        ASSERT_EQ(startProgramIn(dir.path(), pid), 0);
        ASSERT_TRUE(windowBuilt(pid)) << "the program did not start";
        if (damaged) storetest::damage(store);
        ::kill(pid, SIGTERM);
        EXPECT_EQ(waitBounded(pid, std::chrono::seconds(5)), 0);
    }
}

// A signal never asks the question a user's close asks while the list's
// songs download: the program ends at once, the song waiting for the next start.
TEST(ProgramEnd, TermEndsTheProgramWhileTheListDownloads) {
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::songBody(64 * 1024, 9), "\"song\"", ""};
    setup.holdAt = 4096;
    testsupport::RangeServer server(setup);
    testsupport::TempDir dir;
    const std::string store = dir.file("mysong.mdb");
    store::CreateEmptyStore(store);
    // A song the list was downloading when the program last ended.
    const std::string folder = fs::absolute(dir.path() / "downmp3").lexically_normal().string() + "/";
    storetest::execSql(store, store::DownloadListStore::kCreate);
    storetest::execSql(store, "insert into downloadlist values (1, 'held', '" + server.url("/held.mp3") + "', '" +
                                  folder + "', 'held.mp3', 1, 0, 0, '', '" + folder + "held.mp3', '')");
    pid_t pid = -1;
    ASSERT_EQ(startProgramIn(dir.path(), pid), 0);
    if (!server.waitForRequests(1, std::chrono::seconds(30))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        FAIL() << "the list did not download its song";
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitBounded(pid, std::chrono::seconds(5)), 0);
    server.stop();
}

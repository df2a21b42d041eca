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

#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/FolderListing.h"
#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// True once the process holds the store file open: its window is built.
bool holdsFile(pid_t pid, const std::string& name) {
    const fs::path descriptors = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ignored;
    for (const std::string& fd : testsupport::namesIn(descriptors)) {
        if (fs::read_symlink(descriptors / fd, ignored).filename() == name) return true;
    }
    return false;
}

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

}  // namespace

TEST(ProgramEnd, TermIntAndHupEndTheProgramCleanly) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        testsupport::TempDir dir;
        store::CreateEmptyStore(dir.file("mysong.mdb"));
        const fs::path old = fs::current_path();
        fs::current_path(dir.path());
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string program = testsupport::toolNextToTests("brelvomp3").string();
        char* argv[] = {program.data(), nullptr};
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
        fs::current_path(old);
        ASSERT_EQ(spawned, 0);
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (!holdsFile(pid, "mysong.mdb") && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // The signals are taken before the store is opened.
        ASSERT_TRUE(holdsFile(pid, "mysong.mdb")) << "the program did not start";
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
        const fs::path old = fs::current_path();
        fs::current_path(dir.path());
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string program = testsupport::toolNextToTests("brelvomp3").string();
        char* argv[] = {program.data(), nullptr};
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
        fs::current_path(old);
        ASSERT_EQ(spawned, 0);
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (!holdsFile(pid, "mysong.mdb") && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(holdsFile(pid, "mysong.mdb")) << "the program did not start";
        if (damaged) storetest::damage(store);
        ::kill(pid, SIGTERM);
        EXPECT_EQ(waitBounded(pid, std::chrono::seconds(5)), 0);
    }
}

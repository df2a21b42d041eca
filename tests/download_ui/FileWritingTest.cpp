// Writing a download to disk: whole or not at all, with the resource's time,
// folders made as needed.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/files/DlFileWriting.h"
#include "download/values/DlDateTime.h"
#include "tests/download_ui/UiTestSupport.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using uitest::filesIn;
using uitest::readFile;
using uitest::writeFile;

namespace {

// Local time in a zone of the test's choosing for one scope.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (old_.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", old_.c_str(), 1);
        }
        ::tzset();
    }

private:
    std::string old_;
};

std::time_t modified(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

}  // namespace

TEST(LocalDateTimes, InstantOfLocalDateTimeUndoesLocalDateTimeOf) {
    // Asia/Shanghai: eight hours ahead of GMT, no clock changes since 1991.
    ScopedTimeZone zone("Asia/Shanghai");
    const std::vector<std::time_t> instants = {0, 86399, 1700000000, 2000000000, -2208988800LL, -2500000000LL};
    for (std::time_t instant : instants)
        EXPECT_EQ(dl::InstantOfLocalDateTime(dl::LocalDateTimeOf(instant)), instant) << instant;
    // 1 January 2001, 08:00 local is midnight GMT.
    EXPECT_EQ(dl::InstantOfLocalDateTime(dl::EncodeDateTime(2001, 1, 1, 8, 0, 0)), 978307200);
    // A time of day just short of midnight rounds to the next day.
    EXPECT_EQ(dl::InstantOfLocalDateTime(dl::EncodeDateTime(2001, 1, 1, 0, 0, 0) - 1e-9), 978278400);
    EXPECT_THROW(dl::InstantOfLocalDateTime(1e300), dl::EConvertError);
    EXPECT_THROW(dl::InstantOfLocalDateTime(-1e7), dl::EConvertError);
}

TEST(FileWriting, WritesReplacesAndDatesTheFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("song.mp3");
    writeFile(path, "an older, longer file of the same name");
    ASSERT_TRUE(dl::WriteTextFile(path, "new bytes", 0));
    EXPECT_EQ(readFile(path), "new bytes");
    EXPECT_LT(std::abs(modified(path) - std::time(nullptr)), 60);

    const dl::TDateTime lastModified = dl::EncodeDateTime(2004, 2, 29, 13, 45, 31);
    ASSERT_TRUE(dl::WriteTextFile(path, std::string("\0binary\xff", 8), lastModified));
    EXPECT_EQ(readFile(path), std::string("\0binary\xff", 8));
    EXPECT_EQ(modified(path), dl::InstantOfLocalDateTime(lastModified));
    // A date no file can carry leaves the time of writing.
    ASSERT_TRUE(dl::WriteTextFile(path, "x", 1e300));
    EXPECT_LT(std::abs(modified(path) - std::time(nullptr)), 60);
    // Nothing is left beside it.
    EXPECT_EQ(filesIn(dir.path()), std::vector<std::string>{"song.mp3"});
}

TEST(FileWriting, ARefusedWriteLeavesTheOldFileAndNothingBesideIt) {
    testsupport::TempDir dir;
    const std::string old = dir.file("kept.mp3");
    writeFile(old, "old");
    fs::create_directory(dir.path() / "a folder");
    const std::vector<std::string> refused = {
        dir.file(std::string(300, 'n')),        // longer than a name may be
        dir.file("a folder"),                    // a folder of that name
        dir.file("no such folder/x.mp3"),        // a folder that is not there
        dir.file("kept.mp3/inside"),             // a file where a folder should be
    };
    for (const std::string& path : refused) EXPECT_FALSE(dl::WriteTextFile(path, "bytes", 0)) << path;
    EXPECT_EQ(readFile(old), "old");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"a folder", "kept.mp3"}));
    EXPECT_TRUE(filesIn(dir.path() / "a folder").empty());
}

TEST(FileWriting, ForceFoldersMakesEveryMissingFolderAndIgnoresFailures) {
    testsupport::TempDir dir;
    dl::ForceFolders(dir.file("a/b/c/"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    dl::ForceFolders(dir.file("a/b/c/"));  // already there
    dl::ForceFolders(dir.file("d"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "d"));
    writeFile(dir.path() / "file", "x");
    dl::ForceFolders(dir.file("file/sub/"));  // cannot be made: no throw
    dl::ForceFolders("");
    EXPECT_FALSE(fs::exists(dir.path() / "file/sub"));
}

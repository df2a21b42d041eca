#include "store/FinishedSongStore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "store/FinishedFileCheck.h"
#include "tests/store/StoreTestSupport.h"

namespace {

namespace fs = std::filesystem;
using store::FinishedFileState;
using store::FinishedSong;

int tables(const std::string& path) {
    return static_cast<int>(
        storetest::OtherConnection(path).ids("select count(*) from sqlite_master where type = 'table'").front());
}

FinishedSong song(std::string url, std::string path, std::int64_t size) {
    FinishedSong s;
    s.url = std::move(url);
    s.title = "月亮代表我的心";
    s.path = std::move(path);
    s.size = size;
    s.device = 2049;
    // Past what a signed column holds: the bits come back as they went.
    s.inode = 0xF000000000000123ull;
    s.finishedAt = 1796800000;
    return s;
}

TEST(FinishedSongStore, MadeByTheFirstRecordOnlyAndOneRowPerAddress) {
    storetest::StoreFile file(2);
    const FinishedSong first = song("http://a/1.mp3", "/home/u/downmp3/1.mp3", 4128768);
    {
        store::FinishedSongStore finished(file.path);
        EXPECT_TRUE(finished.all().empty());
        finished.record({});
        EXPECT_FALSE(finished.hasTable());
        EXPECT_EQ(tables(file.path), 1);  // reading and an empty record made nothing
        finished.record({first});
        EXPECT_EQ(tables(file.path), 2);
    }
    store::FinishedSongStore again(file.path);
    EXPECT_EQ(again.all(), std::vector<FinishedSong>{first});
    // The address's next download takes its place.
    const FinishedSong later = song(first.url, "/home/u/elsewhere/1.mp3", 100);
    const FinishedSong other = song("http://b/2.mp3", "/home/u/downmp3/2.mp3", 0);
    again.record({later, other});
    std::vector<FinishedSong> all = again.all();
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.url < b.url; });
    EXPECT_EQ(all, (std::vector<FinishedSong>{later, other}));
    EXPECT_EQ(storetest::rowsOnDisk(file.path), 2);  // tab1 untouched
}

TEST(FinishedSongStore, RowsNoRecordWroteAreLeftOut) {
    storetest::StoreFile file(0);
    store::FinishedSongStore finished(file.path);
    const FinishedSong sound = song("http://a/ok.mp3", "/d/ok.mp3", 10);
    finished.record({sound});
    const std::string longPath = "/d/" + std::string(store::FinishedSongStore::kTextLimit, 'x');
    storetest::execSql(file.path,
                       "insert into finishedsongs values ('http://a/rel.mp3', 't', 'downmp3/rel.mp3', 1, 1, 1, 1);"
                       "insert into finishedsongs values ('http://a/neg.mp3', 't', '/d/neg.mp3', -1, 1, 1, 1);"
                       "insert into finishedsongs values ('http://a/null.mp3', 't', null, 1, 1, 1, 1);"
                       "insert into finishedsongs values ('', 't', '/d/nourl.mp3', 1, 1, 1, 1);"
                       "insert into finishedsongs values ('http://a/nul.mp3', 't', cast(x'2f642f00782e6d7033' as text), 1, 1, 1, 1);"
                       "insert into finishedsongs values ('http://a/long.mp3', 't', '" + longPath + "', 1, 1, 1, 1)");
    EXPECT_EQ(finished.all(), std::vector<FinishedSong>{sound});
}

// The file as the program saved it, and what may become of it.
TEST(FinishedFileCheck, KeptGoneOrReplaced) {
    testsupport::TempDir dir;
    const fs::path file = dir.path() / "x.mp3";
    const auto write = [](const fs::path& at, const std::string& bytes) {
        std::ofstream(at, std::ios::binary | std::ios::trunc) << bytes;
    };
    struct Case {
        const char* what;
        std::function<void()> change;
        FinishedFileState state;
    };
    const std::vector<Case> cases = {
        {"kept", [] {}, FinishedFileState::Kept},
        {"written over in place, same size", [&] { write(file, "ABCDEFGH"); }, FinishedFileState::Kept},
        {"deleted", [&] { fs::remove(file); }, FinishedFileState::Gone},
        {"its folder deleted", [&] { fs::remove_all(dir.path() / "sub"); }, FinishedFileState::Gone},
        {"grown", [&] { write(file, "abcdefgh and more"); }, FinishedFileState::Replaced},
        {"emptied", [&] { write(file, ""); }, FinishedFileState::Replaced},
        {"another file of the same size moved in",
         [&] {
             write(dir.path() / "new", "12345678");
             fs::rename(dir.path() / "new", file);
         },
         FinishedFileState::Replaced},
        {"a link to it in its place",
         [&] {
             fs::rename(file, dir.path() / "kept");
             fs::create_symlink(dir.path() / "kept", file);
         },
         FinishedFileState::Replaced},
        {"a folder in its place",
         [&] {
             fs::remove(file);
             fs::create_directory(file);
         },
         FinishedFileState::Replaced},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(file);
        fs::remove_all(dir.path() / "kept");
        fs::create_directories(dir.path() / "sub");
        write(file, "abcdefgh");
        write(dir.path() / "sub" / "y.mp3", "abcdefgh");
        FinishedSong saved;
        const fs::path at = std::string(c.what) == "its folder deleted" ? dir.path() / "sub" / "y.mp3" : file;
        ASSERT_TRUE(store::finishedFileAt(at.string(), saved));
        EXPECT_EQ(saved.size, 8);
        EXPECT_EQ(saved.path, at.string());
        c.change();
        EXPECT_EQ(store::checkFinishedFile(saved), c.state);
    }
    // Nothing, a folder and a link are no finished file.
    FinishedSong none;
    EXPECT_FALSE(store::finishedFileAt((dir.path() / "none.mp3").string(), none));
    EXPECT_FALSE(store::finishedFileAt(dir.path().string(), none));
    EXPECT_FALSE(store::finishedFileAt(file.string(), none));  // the folder of the last case
    fs::remove_all(file);
    fs::create_symlink(dir.path() / "sub" / "y.mp3", file);
    EXPECT_FALSE(store::finishedFileAt(file.string(), none));
}

}  // namespace

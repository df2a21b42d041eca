#include "store/SongKey.h"

#include <gtest/gtest.h>

#include "store/SongKeyIndex.h"
#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"

namespace {

using store::songKey;

TEST(SongKey, SameSongs) {
    const std::vector<std::pair<const char*, const char*>> same = {
        {"周杰伦 - 晴天", "周杰伦-晴天"},
        {"周杰伦 - 晴天", "周杰伦晴天"},
        {"周杰伦_晴天", "周杰伦 晴天"},
        {"周杰伦·晴天", "周杰伦晴天"},
        {"Jay Chou - Sunny Day", "jay chou sunny day"},
        {"ＪＡＹ　ＣＨＯＵ－晴天", "jay chou-晴天"},  // full-width letters, blank and hyphen
        {"晴天（Live）", "晴天 (live)"},             // a variant is the same variant in either width
        {"晴天【伴奏】", "晴天 【伴奏】"},
        {"Ｒｅｍｉｘ＿晴天", "remix 晴天"},
        {"晴天\t", "晴天"},
    };
    for (const auto& [a, b] : same) EXPECT_EQ(songKey(a), songKey(b)) << a << " / " << b;
}

TEST(SongKey, OtherSongs) {
    const std::vector<std::pair<const char*, const char*>> other = {
        {"晴天", "晴天（Live）"},
        {"晴天", "晴天【伴奏】"},
        {"晴天", "晴天(DJ版)"},
        {"晴天", "晴天 remix"},
        {"晴天（Live）", "晴天【Live】"},
        {"晴天", "睛天"},
        {"Sunny", "Sunny2"},
        {"ÉTÉ", "été"},  // case folding is ASCII only
    };
    for (const auto& [a, b] : other) EXPECT_NE(songKey(a), songKey(b)) << a << " / " << b;
}

TEST(SongKey, KeyText) {
    EXPECT_EQ(songKey("ＡＢＣ　－　Ｄ（1）"), "abcd(1)");
    EXPECT_EQ(songKey(" - _ · "), "");
    EXPECT_EQ(songKey("￥100"), "¥100");
    // Bytes that are no UTF-8 stay as they are, and so tell titles apart.
    EXPECT_EQ(songKey(std::string("A\xB2\xBB-B", 5)), std::string("a\xB2\xBB" "b", 4));
    EXPECT_EQ(songKey(std::string("\xE6\x99", 2)), std::string("\xE6\x99", 2));
    EXPECT_EQ(songKey(std::string("\xC0\xAF", 2)), std::string("\xC0\xAF", 2));  // overlong "/"
}

class SongKeyIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        store::CreateEmptyStore(path_);
        storetest::execSql(path_,
                           "insert into tab1 values ('周杰伦 - 晴天','http://a/1.mp3','晴天');"
                           "insert into tab1 values ('晴天（Live）','http://a/2.mp3','晴天');"
                           "insert into tab1 values ('周杰伦晴天','http://b/3.mp3','晴天');"
                           "insert into tab1 values ('别的歌','http://b/4.mp3','晴天');");
    }
    std::vector<std::int64_t> tables() {
        return storetest::OtherConnection(path_).ids("select count(*) from sqlite_master where type = 'table'");
    }
    testsupport::TempDir dir_;
    const std::string path_ = dir_.file("mysong.mdb");
};

TEST_F(SongKeyIndexTest, MadeOnFirstUseAndKeptInStep) {
    // A store that never asked keeps tab1 alone, inserts included.
    store::SongStore songs(path_);
    songs.Insert("周杰伦 · 晴天", "http://c/5.mp3", "晴天");
    EXPECT_EQ(tables(), std::vector<std::int64_t>{1});
    // Made through a connection of its own: the song store, open before, keeps it in step too.
    store::SongKeyIndex index(path_);
    EXPECT_EQ(index.linksOf("ＪＡＹ"), std::vector<std::int64_t>{});
    EXPECT_EQ(tables(), std::vector<std::int64_t>{2});
    EXPECT_EQ(index.linksOf("周杰伦-晴天"), (std::vector<std::int64_t>{1, 3, 5}));
    EXPECT_EQ(index.linksOf("晴天 (LIVE)"), (std::vector<std::int64_t>{2}));

    // A row reusing the id of a deleted one takes its place with its own key.
    songs.DeleteRecord(5);
    EXPECT_EQ(index.linksOf("周杰伦晴天"), (std::vector<std::int64_t>{1, 3}));
    songs.Insert("别的歌", "http://c/6.mp3", "x");
    EXPECT_EQ(index.linksOf("周杰伦晴天"), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(index.linksOf("别的 歌"), (std::vector<std::int64_t>{4, 5}));
    EXPECT_EQ(storetest::OtherConnection(path_).ids("select count(*) from songkeys where id = 5"),
              std::vector<std::int64_t>{1});
}

TEST_F(SongKeyIndexTest, RowsOfAnotherProgram) {
    store::SongKeyIndex index(path_);
    ASSERT_EQ(index.linksOf("周杰伦晴天").size(), 2u);
    storetest::OtherConnection other(path_);
    // Appended past the last row indexed: found.
    other.exec("insert into tab1 values ('周杰伦_晴天','http://d/7.mp3','k')");
    EXPECT_EQ(index.linksOf("周杰伦晴天"), (std::vector<std::int64_t>{1, 3, 5}));
    // Written over: no longer one of the song's links.
    other.exec("update tab1 set title = '雨天' where rowid = 3");
    EXPECT_EQ(index.linksOf("周杰伦晴天"), (std::vector<std::int64_t>{1, 5}));
    other.exec("delete from tab1");
    EXPECT_EQ(index.linksOf("周杰伦晴天"), std::vector<std::int64_t>{});
}

}  // namespace

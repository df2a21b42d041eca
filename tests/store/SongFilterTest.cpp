#include "store/SongFilter.h"

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "store/SongFilterIndex.h"
#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"

namespace {

using namespace std::chrono_literals;

// A song store and a filter over its file; the filter's final answers are
// collected as lists of titles.
class FilterFixture : public ::testing::Test {
protected:
    void SetUp() override {
        store::CreateEmptyStore(path_);
        store_ = std::make_unique<store::SongStore>(path_);
        filter_ = std::make_unique<store::SongFilter>(path_, [this](store::FilterAnswer answer) {
            std::lock_guard lock(mutex_);
            if (answer.kind == store::FilterAnswer::Kind::Done || answer.kind == store::FilterAnswer::Kind::Failed)
                answers_.push_back(std::move(answer));
            arrived_.notify_all();
        });
    }

    void add(const std::string& title, const std::string& keyword) {
        store_->Insert(title, "http://h/" + std::to_string(++inserted_) + ".mp3", keyword);
    }

    // The titles of the rows `typed` finds in the store's snapshot now.
    std::vector<std::string> find(const std::string& typed) {
        store_->Requery();
        const std::uint64_t number = filter_->request(typed, store_->Snapshot());
        // A rebuild after the first answer answers again: the last one counts.
        EXPECT_TRUE(filter_->waitUntilIdle(20s)) << typed;
        std::unique_lock lock(mutex_);
        const bool answered = !answers_.empty() && answers_.back().request == number;
        EXPECT_TRUE(answered) << typed;
        if (!answered) return {};
        EXPECT_EQ(answers_.back().kind, store::FilterAnswer::Kind::Done) << typed;
        std::vector<std::string> titles;
        answers_.back().ids.forEach([&](std::int64_t id) {
            titles.push_back(store_->Record(id).value_or(store::SongRow{}).title.value_or("?"));
            return true;
        });
        return titles;
    }

    testsupport::TempDir dir_;
    const std::string path_ = dir_.file("mysong.mdb");
    std::unique_ptr<store::SongStore> store_;
    std::unique_ptr<store::SongFilter> filter_;
    int inserted_ = 0;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<store::FilterAnswer> answers_;
};

using Titles = std::vector<std::string>;

TEST_F(FilterFixture, FoldsWidthCaseAndSeparatorsOnEitherPath) {
    add("周杰伦 - 晴天", "周杰伦");
    add("晴天（Live）", "稻香");
    add("稻香", "Jay");
    add("ＪＡＹ　ＣＨＯＵ－Sunny Day", "晴");
    add("Jay Chou_Rain", "雨");
    add("天晴了", "A");
    struct Case {
        const char* typed;
        Titles found;
    };
    const std::vector<Case> cases = {
        // one and two characters: the folded column's scan
        {"晴", {"周杰伦 - 晴天", "晴天（Live）", "ＪＡＹ　ＣＨＯＵ－Sunny Day", "天晴了"}},
        {"晴天", {"周杰伦 - 晴天", "晴天（Live）"}},
        {"稻香", {"晴天（Live）", "稻香"}},  // the keyword counts too
        {"ａ", {"稻香", "ＪＡＹ　ＣＨＯＵ－Sunny Day", "Jay Chou_Rain", "天晴了"}},
        {"JA", {"稻香", "ＪＡＹ　ＣＨＯＵ－Sunny Day", "Jay Chou_Rain"}},
        {"（", {"晴天（Live）"}},
        {"(l", {"晴天（Live）"}},
        {"雨", {"Jay Chou_Rain"}},
        {"天稻", {}},  // never from the title into the keyword
        // three and more: the trigram index
        {"伦晴天", {"周杰伦 - 晴天"}},  // the separator is dropped on both sides
        {"周杰伦 晴天", {"周杰伦 - 晴天"}},
        {"jaychou", {"ＪＡＹ　ＣＨＯＵ－Sunny Day", "Jay Chou_Rain"}},
        {"ＳＵＮＮＹ", {"ＪＡＹ　ＣＨＯＵ－Sunny Day"}},
        {"(live)", {"晴天（Live）"}},
        {"live\"", {}},  // a quote is a character, not the query language's
        {"rain OR sunny", {}},
        {"晴天了", {}},
        {"天晴了", {"天晴了"}},
        {"杰伦周", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(find(c.typed), c.found) << c.typed;
}

TEST_F(FilterFixture, FollowsTheStoresInsertsDeletesAndClear) {
    add("晴天", "a");
    EXPECT_EQ(find("晴天"), Titles({"晴天"}));
    // The index exists now: the store's own writes keep it in step.
    add("晴天 Live", "b");
    add("稻香", "c");
    EXPECT_EQ(find("晴天"), Titles({"晴天", "晴天 Live"}));
    EXPECT_EQ(find("天live"), Titles({"晴天 Live"}));
    store_->DeleteRow(0);
    EXPECT_EQ(find("晴天"), Titles({"晴天 Live"}));
    storetest::OtherConnection other(path_);
    EXPECT_EQ(other.ids("select count(*) from songfilter"), std::vector<std::int64_t>({2}));
    store_->Clear();
    ASSERT_TRUE(store_->WaitUntilIdle(10s));
    EXPECT_EQ(other.ids("select count(*) from songfilter"), std::vector<std::int64_t>({0}));
    EXPECT_EQ(find("晴天"), Titles());
    add("晴天", "d");
    EXPECT_EQ(find("晴天"), Titles({"晴天"}));
    EXPECT_EQ(find("天晴"), Titles());
    // Every write kept the state row's count with tab1's.
    EXPECT_EQ(other.ids("select rows from songfilter_state"), other.ids("select count(*) from tab1"));
}

TEST_F(FilterFixture, CatchesUpWithAnotherProgramsWrites) {
    add("晴天", "a");
    add("稻香", "b");
    EXPECT_EQ(find("晴天"), Titles({"晴天"}));
    storetest::OtherConnection other(path_);
    // Appended: indexed from the last row on.
    other.exec("insert into tab1 values ('晴天 demo', 'http://h/x.mp3', 'x')");
    EXPECT_EQ(find("晴天"), Titles({"晴天", "晴天 demo"}));
    // Deleted and written over: the count differs, the index is made again.
    other.exec("delete from tab1 where title = '晴天'; update tab1 set title = '稻香 remix' where title = '稻香'");
    EXPECT_EQ(find("remix"), Titles({"稻香 remix"}));
    EXPECT_EQ(find("晴天"), Titles({"晴天 demo"}));
    // Cleared by another program, then written again.
    other.exec("delete from tab1; insert into tab1 values ('新歌', 'http://h/y.mp3', '晴天')");
    EXPECT_EQ(find("晴天"), Titles({"新歌"}));
}

TEST_F(FilterFixture, TheTablesComeWithTheFirstFilterOnly) {
    storetest::OtherConnection other(path_);
    const auto tables = [&] {
        return other.ids("select count(*) from sqlite_master where name like 'songfilter%' and type = 'table'");
    };
    add("晴天", "a");
    add("稻香", "b");
    store_->Requery();
    store_->DeleteRow(0);
    store_->Clear();
    ASSERT_TRUE(store_->WaitUntilIdle(10s));
    EXPECT_EQ(tables(), std::vector<std::int64_t>({0}));
    add("晴天", "a");
    EXPECT_EQ(find("晴天"), Titles({"晴天"}));
    // The rows, their trigram index (with its own shadow tables) and the state.
    EXPECT_GE(tables().front(), 3);
    EXPECT_EQ(other.ids("select ready from songfilter_state"), std::vector<std::int64_t>({1}));
}

TEST_F(FilterFixture, ShowsTheSnapshotsRowsInItsOrder) {
    for (int i = 0; i < 600; ++i) add("song " + std::to_string(i), i % 2 ? "odd" : "even");
    const auto found = find("odd");
    ASSERT_EQ(found.size(), 300u);
    EXPECT_EQ(found.front(), "song 1");
    EXPECT_EQ(found.back(), "song 599");
    // Rows the snapshot no longer shows are not shown.
    store_->DeleteRow(1);
    EXPECT_EQ(find("odd").front(), "song 3");
}

TEST_F(FilterFixture, TheNewestRequestWins) {
    for (int i = 0; i < 2000; ++i) add("歌 " + std::to_string(i), "k");
    find("歌");  // the index is made
    std::uint64_t last = 0;
    for (const char* typed : {"歌", "歌 1", "歌 12", "歌 123"}) last = filter_->request(typed, store_->Snapshot());
    ASSERT_TRUE(filter_->waitUntilIdle(20s));
    std::lock_guard lock(mutex_);
    ASSERT_FALSE(answers_.empty());
    EXPECT_EQ(answers_.back().request, last);
    EXPECT_EQ(answers_.back().ids.size(), 11u);  // 歌 123 and 歌 1230 to 歌 1239
}

TEST(SongFilterRows, MatchedRowsKeepTheSnapshotsOrder) {
    store::RowIdList::Builder builder;
    for (const std::int64_t id : std::vector<std::int64_t>{9, 3, 7, 1, std::int64_t{1} << 40}) builder.add(id);
    const store::RowIdList snapshot = builder.finish();
    const auto ids = [](const store::RowIdList& list) {
        std::vector<std::int64_t> out;
        list.forEach([&](std::int64_t id) {
            out.push_back(id);
            return true;
        });
        return out;
    };
    EXPECT_EQ(ids(store::rowsMatched(snapshot, {1, 7, 9})), std::vector<std::int64_t>({9, 7, 1}));
    EXPECT_EQ(ids(store::rowsMatched(snapshot, {3, std::int64_t{1} << 40})),
              std::vector<std::int64_t>({3, std::int64_t{1} << 40}));
    EXPECT_EQ(ids(store::rowsMatched(snapshot, {2, 4})), std::vector<std::int64_t>());
}

TEST(SongFilterText, CountsCharactersNotBytes) {
    EXPECT_EQ(store::characterCount(store::filterQuery("晴天")), 2u);
    EXPECT_EQ(store::characterCount(store::filterQuery("Ａ Ｂ")), 2u);
    EXPECT_EQ(store::characterCount(store::filterQuery(" - ")), 0u);
    EXPECT_EQ(store::characterCount(store::filterQuery("abc")), 3u);
}

}  // namespace

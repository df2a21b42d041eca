#include "store/SongOrder.h"

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "store/LinkVerdictStore.h"
#include "store/SongOrderIndex.h"
#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"

namespace {

using namespace std::chrono_literals;
using Ids = std::vector<std::int64_t>;
using store::Arrangement;
using store::SortKey;
using store::SortOrder;

// A song store and the grid's ordering thread over its file; the final
// answers are kept.
class OrderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        store::CreateEmptyStore(path_);
        store_ = std::make_unique<store::SongStore>(path_);
    }

    void startOrder() {
        order_ = std::make_unique<store::SongOrder>(path_, [this](store::OrderAnswer answer) {
            std::lock_guard lock(mutex_);
            if (answer.kind == store::OrderAnswer::Kind::Done || answer.kind == store::OrderAnswer::Kind::Failed)
                answers_.push_back(std::move(answer));
        });
    }

    void add(const std::string& title, const std::string& keyword, const std::string& url) {
        store_->Insert(title, url, keyword);
    }

    // The rows of `rows` (the store's snapshot when none) arranged; the
    // folded rows' link counts in `links`.
    Ids arranged(Arrangement how, std::vector<std::uint32_t>* links = nullptr,
                 std::shared_ptr<const store::ResultsSnapshot> rows = {}) {
        if (!order_) startOrder();
        store_->Requery();
        const std::uint64_t number = order_->request(how, rows ? rows : store_->Snapshot());
        EXPECT_TRUE(order_->waitUntilIdle(20s));
        std::lock_guard lock(mutex_);
        const bool answered = !answers_.empty() && answers_.back().request == number;
        EXPECT_TRUE(answered);
        if (!answered) return {};
        EXPECT_EQ(answers_.back().kind, store::OrderAnswer::Kind::Done);
        Ids ids;
        answers_.back().ids.forEach([&](std::int64_t id) {
            ids.push_back(id);
            return true;
        });
        if (links) *links = answers_.back().links ? *answers_.back().links : std::vector<std::uint32_t>{};
        return ids;
    }

    static store::StoredVerdict verdict(const std::string& url, store::LinkVerdictKind kind,
                                        std::optional<int> kbps = {}, std::optional<std::int64_t> size = {},
                                        std::optional<double> seconds = {}) {
        store::StoredVerdict v;
        v.url = url;
        v.checkedAt = 1000;
        v.verdict = kind;
        v.kbps = kbps;
        v.size = size;
        v.seconds = seconds;
        return v;
    }

    testsupport::TempDir dir_;
    const std::string path_ = dir_.file("mysong.mdb");
    std::unique_ptr<store::SongStore> store_;
    std::unique_ptr<store::SongOrder> order_;
    std::mutex mutex_;
    std::vector<store::OrderAnswer> answers_;
};

// Five rows: titles that tie when folded, hanzi in pinyin order, keywords
// that differ in case only, and verdicts of every kind but one unprobed.
class SortFixture : public OrderFixture {
protected:
    void SetUp() override {
        OrderFixture::SetUp();
        add("Banana", "周杰伦", "http://b.example/1.mp3");
        add("apple", "陈奕迅", "http://c.example/2.mp3");
        add("晴天", "abc", "http://a.example/3.mp3");
        add("Ａｐｐｌｅ", "周杰伦", "http://a.example/4.mp3");
        add("稻香", "Abc", "http://d.example/5.mp3");
        store::LinkVerdictStore verdicts(path_);
        verdicts.save({verdict("http://b.example/1.mp3", store::LinkVerdictKind::Audio, 128, 3000000, 260),
                       verdict("http://c.example/2.mp3", store::LinkVerdictKind::Audio, 320, 8000000, 240),
                       verdict("http://a.example/3.mp3", store::LinkVerdictKind::Dead),
                       verdict("http://d.example/5.mp3", store::LinkVerdictKind::Unavailable)});
    }
};

struct SortCase {
    SortOrder order;
    Ids expected;
};

TEST_F(SortFixture, EveryOrderBothWaysAndBackToTheStoresOrder) {
    const SortCase cases[] = {
        {{SortKey::None, false}, {1, 2, 3, 4, 5}},
        // apple and Ａｐｐｌｅ fold alike and keep the store's order; 稻香 (dao)
        // before 晴天 (qing) as in pinyin.
        {{SortKey::Title, false}, {2, 4, 1, 5, 3}},
        {{SortKey::Title, true}, {3, 5, 1, 4, 2}},
        {{SortKey::Keys, false}, {3, 5, 2, 1, 4}},
        {{SortKey::Keys, true}, {4, 1, 2, 5, 3}},
        {{SortKey::Url, false}, {3, 4, 1, 2, 5}},
        {{SortKey::Url, true}, {5, 2, 1, 4, 3}},
        // 可用 by bit rate, the unprobed, 暂时不可用, 失效; reversed whole.
        {{SortKey::Verdict, false}, {2, 1, 4, 5, 3}},
        {{SortKey::Verdict, true}, {3, 5, 4, 1, 2}},
        // Rows without the value stay last, in the store's order, both ways.
        {{SortKey::Kbps, false}, {1, 2, 3, 4, 5}},
        {{SortKey::Kbps, true}, {2, 1, 3, 4, 5}},
        {{SortKey::Seconds, false}, {2, 1, 3, 4, 5}},
        {{SortKey::Seconds, true}, {1, 2, 3, 4, 5}},
        {{SortKey::Size, false}, {1, 2, 3, 4, 5}},
        {{SortKey::Size, true}, {2, 1, 3, 4, 5}},
        {{SortKey::None, false}, {1, 2, 3, 4, 5}},
    };
    for (const SortCase& c : cases)
        EXPECT_EQ(arranged({c.order, false}), c.expected)
            << static_cast<int>(c.order.key) << (c.order.descending ? " descending" : "");
}

TEST_F(SortFixture, SortsOnlyTheRowsGivenAsAFilterLeftThem) {
    store::RowIdList::Builder filtered;
    for (const std::int64_t id : {1, 3, 4}) filtered.add(id);
    const auto rows = std::make_shared<const store::ResultsSnapshot>(store::ResultsSnapshot{filtered.finish(), true});
    EXPECT_EQ(arranged({{SortKey::Title, false}, false}, nullptr, rows), Ids({4, 1, 3}));
    EXPECT_EQ(arranged({{SortKey::Verdict, false}, false}, nullptr, rows), Ids({1, 4, 3}));
}

TEST_F(SortFixture, FollowsInsertsDeletesAndAnotherProgramsRows) {
    EXPECT_EQ(arranged({{SortKey::Title, false}, false}), Ids({2, 4, 1, 5, 3}));
    // The store's own insert is kept in the table as it is written.
    add("aardvark", "x", "http://e.example/6.mp3");
    storetest::OtherConnection other(path_);
    EXPECT_EQ(other.ids("select count(*) from songorder"), Ids({6}));
    store_->DeleteRecord(2);
    EXPECT_EQ(other.ids("select count(*) from songorder"), Ids({5}));
    // Another program's row is added before the next sort.
    other.exec("insert into tab1 (title, url2, keys) values ('000', 'http://f/7.mp3', 'x')");
    EXPECT_EQ(arranged({{SortKey::Title, false}, false}), Ids({7, 6, 4, 1, 5, 3}));
    // A row the table lost is found missing and put in its place.
    other.exec("delete from songorder where id = 6");
    EXPECT_EQ(arranged({{SortKey::Title, false}, false}), Ids({7, 6, 4, 1, 5, 3}));
    store_->Clear();
    ASSERT_TRUE(store_->WaitUntilIdle(10s));
    EXPECT_EQ(other.ids("select count(*) from songorder"), Ids({0}));
    add("b", "x", "http://g/1.mp3");
    add("a", "x", "http://g/2.mp3");
    const Ids after = arranged({{SortKey::Title, false}, false});
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(store_->Record(after[0])->title, "a");
}

TEST_F(OrderFixture, TheTablesComeWithTheFirstSortAndTab1KeepsItsPlan) {
    add("晴天", "a", "http://h/1.mp3");
    add("稻香", "b", "http://h/2.mp3");
    store_->Requery();
    store_->DeleteRow(0);
    add("夜曲", "c", "http://h/3.mp3");
    storetest::OtherConnection other(path_);
    const auto ours = [&] {
        return other.ids("select count(*) from sqlite_master where name like 'songorder%'");
    };
    const auto onTab1 = [&] { return other.ids("select count(*) from sqlite_master where tbl_name = 'tab1' and type = 'index'"); };
    // Neither a sort of nothing nor the store's own writes make them.
    startOrder();
    EXPECT_EQ(arranged({{SortKey::None, false}, false}), Ids({2, 3}));
    EXPECT_EQ(ours(), Ids({0}));
    EXPECT_EQ(arranged({{SortKey::Title, false}, false}), Ids({2, 3}));
    // The table, its three indexes and the state; none of them on tab1.
    EXPECT_EQ(ours(), Ids({5}));
    EXPECT_EQ(onTab1(), Ids({0}));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* plan = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "explain query plan select rowid from tab1", -1, &plan, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(plan), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(plan, 3)), "SCAN tab1");
    sqlite3_finalize(plan);
    sqlite3_close(db);
    // Once the sort's own commits are read, the store's re-openings still
    // add rows without reading everything again.
    store_->Requery();
    const std::uint64_t reads = store_->FullReads();
    add("七里香", "d", "http://h/4.mp3");
    store_->Requery();
    EXPECT_EQ(store_->FullReads(), reads);
    EXPECT_EQ(store_->Count(), 3);
}

// A song's links: the same title folded, versions in brackets apart.
class FoldFixture : public OrderFixture {
protected:
    void SetUp() override {
        OrderFixture::SetUp();
        add("晴天", "a", "http://h/1.mp3");
        add("晴天（Live）", "a", "http://h/2.mp3");
        add("晴 天", "a", "http://h/3.mp3");
        add("稻香", "b", "http://h/4.mp3");
        add("晴天", "a", "http://h/5.mp3");
        add("稻香", "b", "http://h/6.mp3");
        add("晴天", "a", "http://h/7.mp3");
        add("晴天【伴奏】", "a", "http://h/8.mp3");
        store::LinkVerdictStore verdicts(path_);
        verdicts.save({verdict("http://h/3.mp3", store::LinkVerdictKind::Audio, 128, 9000000),
                       verdict("http://h/4.mp3", store::LinkVerdictKind::Dead),
                       verdict("http://h/5.mp3", store::LinkVerdictKind::Audio, 320, 4000000),
                       verdict("http://h/7.mp3", store::LinkVerdictKind::Audio, 320, 5000000)});
    }
};

TEST_F(FoldFixture, OneRowPerSongShowingItsBestLink) {
    std::vector<std::uint32_t> links;
    // 晴天: 320 kbps and larger wins over 320 smaller, 128 and the unprobed;
    // 稻香: an unprobed link before a dead one.
    EXPECT_EQ(arranged({{}, true}, &links), Ids({7, 2, 6, 8}));
    EXPECT_EQ(links, std::vector<std::uint32_t>({4, 1, 2, 1}));
    // Sorted first, then folded: each song where its first row stands.
    EXPECT_EQ(arranged({{SortKey::Title, false}, true}, &links), Ids({6, 7, 2, 8}));
    EXPECT_EQ(links, std::vector<std::uint32_t>({2, 4, 1, 1}));
    EXPECT_EQ(arranged({{SortKey::Title, true}, true}, &links), Ids({8, 2, 7, 6}));
    // A song's links within the rows given only.
    store::RowIdList::Builder filtered;
    for (const std::int64_t id : {1, 3, 4}) filtered.add(id);
    const auto rows = std::make_shared<const store::ResultsSnapshot>(store::ResultsSnapshot{filtered.finish(), true});
    EXPECT_EQ(arranged({{}, true}, &links, rows), Ids({3, 4}));
    EXPECT_EQ(links, std::vector<std::uint32_t>({2, 1}));
    // A link the order's table lost is found missing and counted again.
    storetest::OtherConnection(path_).exec("delete from songorder where id = 5");
    EXPECT_EQ(arranged({{}, true}, &links), Ids({7, 2, 6, 8}));
    EXPECT_EQ(links, std::vector<std::uint32_t>({4, 1, 2, 1}));
    // The store's own insert is one more link of its song.
    add("晴天", "a", "http://h/9.mp3");
    EXPECT_EQ(arranged({{}, true}, &links), Ids({7, 2, 6, 8}));
    EXPECT_EQ(links, std::vector<std::uint32_t>({5, 1, 2, 1}));
}

TEST_F(FoldFixture, AnUnprobedLinkGoesBeforeFailingOnes) {
    store::LinkVerdictStore(path_).save({verdict("http://h/7.mp3", store::LinkVerdictKind::NotAudio)});
    store::LinkVerdictStore(path_).save({verdict("http://h/5.mp3", store::LinkVerdictKind::Unavailable)});
    store::LinkVerdictStore(path_).save({verdict("http://h/3.mp3", store::LinkVerdictKind::Dead)});
    std::vector<std::uint32_t> links;
    // The unprobed first row, before 暂时不可用 and 不是歌曲 or 失效.
    EXPECT_EQ(arranged({{}, true}, &links), Ids({1, 2, 6, 8}));
}

struct LinkCase {
    store::SongOrderIndex::LinkRank a;
    store::SongOrderIndex::LinkRank b;
    bool aFirst;
};

TEST(SongOrderLinks, TheDownloadsListsOrder) {
    const LinkCase cases[] = {
        {{1, 0, 128, 1}, {2, 1, 0, 0}, true},      // 可用 before unprobed
        {{1, 1, 0, 0}, {2, 2, 0, 0}, true},        // unprobed before 暂时不可用
        {{1, 2, 0, 0}, {2, 3, 0, 0}, true},        // before 失效
        {{1, 0, 320, 1}, {2, 0, 128, 9}, true},    // higher bit rate
        {{1, 0, 128, 9}, {2, 0, 128, 8}, true},    // then larger
        {{1, 0, 128, 8}, {2, 0, 128, 8}, false},   // a tie keeps the first
        {{1, 3, 0, 9}, {2, 3, 0, 1}, false},       // sizes count for 可用 only
    };
    for (const LinkCase& c : cases) {
        EXPECT_EQ(store::betterLink(c.a, c.b), c.aFirst) << c.a.rank << " " << c.b.rank;
        if (c.aFirst) {
            EXPECT_FALSE(store::betterLink(c.b, c.a));
        }
    }
}

TEST(SongOrderKey, PinyinOrderForCommonHanziAndFoldedLatin) {
    EXPECT_LT(store::orderKey("稻香"), store::orderKey("晴天"));
    EXPECT_LT(store::orderKey("爱"), store::orderKey("周"));
    EXPECT_EQ(store::orderKey("ＡＢＣ"), store::orderKey("abc"));
    EXPECT_LT(store::orderKey("zebra"), store::orderKey("啊"));
    // Equal keys are the same song only: GBK's "?" for what it cannot hold
    // does not make two songs one.
    EXPECT_NE(store::orderKey("\xF0\x9F\x8E\xB5"), store::orderKey("\xF0\x9F\x8E\xB6"));
}

}  // namespace

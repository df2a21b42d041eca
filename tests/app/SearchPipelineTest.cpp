#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <QComboBox>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/TForm1.h"
#include "platform/GbkCodec.h"
#include "search/pipeline/SearchPipeline.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

using apptest::pumpFor;
using apptest::pumpUntil;
using apptest::ScriptedFetcher;
using apptest::StoreFile;

namespace {

const QString kAllFound = QStringLiteral("所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。");
const QString kFetchFailed = QStringLiteral("读取网页时出错!");
const QString kUnreachable = QString::fromStdString(search::texts::kServiceUnreachable);

// A result page with `links` quoted .mp3 anchors, numbered from `first`.
std::string resultPage(int links, int first = 0) {
    std::string page = "<HTML><BODY><TABLE>";
    for (int i = first; i < first + links; ++i) {
        page += "<TR><TD><A HREF=\"http://songs.example/" + std::to_string(i) +
                ".MP3\" target=_blank>Song&nbsp;" + std::to_string(i) + "</A></TD></TR>\n";
    }
    return page + "</TABLE></BODY></HTML>";
}

// The bg value of a result-page address.
int pageOf(const std::string& url) {
    auto at = url.find("&bg=");
    return at == std::string::npos ? -1 : std::stoi(url.substr(at + 4));
}

class SearchPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        apptest::app();
        ::setenv("BRELVOMP3_SEARCH_HOST", "search.test:8080", 1);
        auto fetcher = std::make_unique<ScriptedFetcher>();
        fetcher_ = fetcher.get();
        fetcher_->respond = [](const std::string&) { return resultPage(2); };
        form_ = std::make_unique<app::TForm1>(file_.path, std::move(fetcher));
        form_->pipeline().setStageWait(std::chrono::milliseconds(10000));
        // Failed fetches pause the search; here a moment is enough.
        form_->pipeline().setFetchBackOff({std::chrono::milliseconds(1), std::chrono::milliseconds(4)});
    }
    void TearDown() override { ::unsetenv("BRELVOMP3_SEARCH_HOST"); }

    int countLines(const QString& line) { return form_->logLines().count(line); }
    bool searchEnabled() { return form_->Button1->isEnabled(); }
    bool stopEnabled() { return form_->Button2->isEnabled(); }

    StoreFile file_;
    ScriptedFetcher* fetcher_ = nullptr;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(SearchPipelineTest, SearchRunsPagesZeroToEightAndEndsByItself) {
    form_->ComboBox1->setEditText(QStringLiteral("月亮"));
    form_->Button1->click();
    EXPECT_FALSE(searchEnabled());
    EXPECT_TRUE(stopEnabled());
    ASSERT_TRUE(pumpUntil([&] { return countLines(kAllFound) == 1; }));
    EXPECT_TRUE(searchEnabled());
    EXPECT_FALSE(stopEnabled());

    const auto urls = fetcher_->urls();
    ASSERT_EQ(urls.size(), 9u);
    const std::string gbkKeyword = platform::utf8ToGbk("月亮");
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(urls[static_cast<size_t>(i)], "http://search.test:8080/zsmp3?ty=1&word=" + gbkKeyword +
                                                    "&class=mp3&bg=" + std::to_string(i) + "&webid=");
    }
    // Pages bg=0..7 are cut whole; page bg=8 ends the search at its first link.
    EXPECT_EQ(form_->songStore().Count(), 16);
    EXPECT_EQ(form_->searchState().pageCounter, 9);
    EXPECT_EQ(form_->searchState().linkCounter, 16);

    const QStringList log = form_->logLines();
    ASSERT_GE(log.size(), 10);
    EXPECT_EQ(log[3], QStringLiteral("初始化网络连接，受网络速度影响，可能需要较长时间。"));
    EXPECT_EQ(log[4], QStringLiteral("准备读取数据:1"));
    EXPECT_EQ(log[5], QStringLiteral("正在连接服务器并读取数据，这个过程耗时稍长，请耐心稍候..."));
    EXPECT_EQ(log[6], QStringLiteral("找到相关歌曲名称：song0"));
    EXPECT_EQ(log[7], QStringLiteral("找到相关歌曲名称：song1"));
    EXPECT_EQ(log[8], QStringLiteral("当前歌曲数量：\u30002"));
    EXPECT_EQ(log.count(QStringLiteral("准备读取数据:9")), 1);
    EXPECT_EQ(log.filter(QStringLiteral("当前歌曲数量")).size(), 1 + 8);  // start-up + 8 whole pages
    EXPECT_EQ(log.last(), kAllFound);
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), 16);

    // Rows carry the keyword as typed.
    EXPECT_EQ(*form_->songStore().Row(0)->keys, "月亮");
    EXPECT_EQ(*form_->songStore().Row(0)->url2, "http://songs.example/0.mp3 ");
}

TEST_F(SearchPipelineTest, LinkLimitEndsTheSearchAfterThe301stLink) {
    fetcher_->respond = [](const std::string& url) { return resultPage(50, pageOf(url) * 50); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return countLines(kAllFound) == 1; }));
    EXPECT_EQ(form_->searchState().linkCounter, 301);
    EXPECT_EQ(fetcher_->urls().size(), 7u);  // bg=0..6
    store::SongStore check(file_.path);
    EXPECT_EQ(check.Count(), 301);
    // The last page ended part-way; its rows are shown all the same.
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), 301);
    EXPECT_EQ(form_->songStore().Count(), 301);
}

TEST_F(SearchPipelineTest, StopPartWayThroughAPageShowsEveryStoredRow) {
    fetcher_->respond = [](const std::string&) { return resultPage(40); };
    form_->Button1->click();
    // Each "found" line waits for the UI thread: stop pumping part-way.
    ASSERT_TRUE(pumpUntil([&] { return countLines(QStringLiteral("找到相关歌曲名称：song5")) == 1; }));
    form_->Button2->click();
    store::SongStore check(file_.path);
    EXPECT_GE(check.Count(), 5);
    EXPECT_LT(check.Count(), 40);
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), check.Count());
    pumpFor(100);
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), check.Count());
}

TEST_F(SearchPipelineTest, KeywordBlanksGoIntoTheAddressAsPercent20) {
    struct Case {
        QString typed;
        std::string word;  // in the address
    };
    const std::string zhou = platform::utf8ToGbk("周杰伦"), qing = platform::utf8ToGbk("晴天");
    const std::vector<Case> cases = {
        {QStringLiteral("周杰伦 晴天"), zhou + "%20" + qing},
        {QStringLiteral(" a  b "), "%20a%20%20b%20"},
        {QStringLiteral("晴天#x y"), qing + "#x%20y"},  // "#" stays: the client cuts the query there
        {QStringLiteral("50%+100"), "50%+100"},
    };
    for (const Case& c : cases) {
        form_->ComboBox1->setEditText(c.typed);
        const size_t before = fetcher_->urls().size();
        form_->Button1->click();
        ASSERT_TRUE(pumpUntil([&] { return form_->songStore().Count() > 0; }));
        form_->Button2->click();
        ASSERT_GT(fetcher_->urls().size(), before);
        EXPECT_EQ(fetcher_->urls()[before],
                  "http://search.test:8080/zsmp3?ty=1&word=" + c.word + "&class=mp3&bg=0&webid=");
        // The store keeps the keyword as typed.
        EXPECT_EQ(QString::fromStdString(*form_->songStore().Row(0)->keys), c.typed);
        form_->setClearConfirmer([] { return true; });
        form_->SpeedButton2->click();
    }
}

TEST_F(SearchPipelineTest, EmptyKeywordSearchesWithEmptyWord) {
    form_->ComboBox1->setEditText(QString());
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return !fetcher_->urls().empty(); }));
    EXPECT_EQ(fetcher_->urls()[0], "http://search.test:8080/zsmp3?ty=1&word=&class=mp3&bg=0&webid=");
    form_->Button2->click();
}

// Nine failed fetches in a row end the search by itself, with one line that
// says why; a page that arrives (even without songs) starts the count again.
TEST_F(SearchPipelineTest, NineFailedFetchesInARowEndTheSearch) {
    struct Case {
        const char* what;
        std::vector<int> arriving;  // the bg values whose pages arrive
        size_t fetches;             // until the search ends
    };
    const std::vector<Case> cases = {
        {"every fetch fails", {}, 9},
        {"eight fail, one arrives, nine fail", {8}, 18},
        {"every other one arrives", {1, 3, 5, 7, 9, 11, 13}, 23},
    };
    for (const Case& c : cases) {
        fetcher_ = nullptr;
        auto fetcher = std::make_unique<ScriptedFetcher>();
        fetcher->respond = [arriving = c.arriving](const std::string& url) -> std::string {
            if (std::find(arriving.begin(), arriving.end(), pageOf(url)) == arriving.end())
                throw std::runtime_error("down");
            return "<html></html>";
        };
        ScriptedFetcher* scripted = fetcher.get();
        form_ = std::make_unique<app::TForm1>(file_.path, std::move(fetcher));
        form_->pipeline().setFetchBackOff({std::chrono::milliseconds(1), std::chrono::milliseconds(4)});
        form_->Button1->click();
        ASSERT_TRUE(pumpUntil([&] { return countLines(kUnreachable) == 1; }, 30000)) << c.what;
        ASSERT_TRUE(pumpUntil([&] { return !form_->pipeline().currentStagesRunning().fetch; }, 30000)) << c.what;
        EXPECT_EQ(scripted->urls().size(), c.fetches) << c.what;
        EXPECT_EQ(countLines(kFetchFailed), static_cast<int>(c.fetches - c.arriving.size())) << c.what;
        EXPECT_EQ(form_->logLines().last(), kUnreachable) << c.what;
        EXPECT_EQ(countLines(kAllFound), 0) << c.what;
        EXPECT_TRUE(searchEnabled()) << c.what;
        EXPECT_FALSE(stopEnabled()) << c.what;
    }
}

// Stop ends a pause after a failed fetch at once, however long it was to be.
TEST_F(SearchPipelineTest, StopEndsThePauseAfterAFailedFetch) {
    form_->pipeline().setFetchBackOff({std::chrono::minutes(10), std::chrono::minutes(10)});
    fetcher_->respond = [](const std::string&) -> std::string { throw std::runtime_error("down"); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return countLines(kFetchFailed) == 1; }));
    form_->Button2->click();
    ASSERT_TRUE(pumpUntil([&] { return !form_->pipeline().currentStagesRunning().fetch; }, 30000));
    EXPECT_EQ(fetcher_->urls().size(), 1u);
    EXPECT_EQ(countLines(kUnreachable), 0);
}

TEST_F(SearchPipelineTest, PagesWithoutAnchorsRunOnUntilStop) {
    fetcher_->respond = [](const std::string&) { return std::string(5000, 'x'); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 12; })) << fetcher_->urls().size() << "\n" << form_->logLines().join("\n").toStdString();
    form_->Button2->click();
    EXPECT_EQ(countLines(kAllFound), 0);
    EXPECT_EQ(form_->songStore().Count(), 0);
}

TEST_F(SearchPipelineTest, StopThenSearchStartsAgainAtPageZero) {
    fetcher_->respond = [](const std::string&) { return std::string("<html></html>"); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 3; }));
    form_->Button2->click();
    pumpFor(50);
    const size_t before = fetcher_->urls().size();
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() > before; }));
    EXPECT_EQ(pageOf(fetcher_->urls()[before]), 0);
    form_->Button2->click();
}

TEST_F(SearchPipelineTest, StopBeforeAnySearchOnlyChangesButtons) {
    const QStringList before = form_->logLines();
    form_->Button2->click();
    pumpFor(50);
    EXPECT_TRUE(searchEnabled());
    EXPECT_FALSE(stopEnabled());
    EXPECT_EQ(form_->logLines(), before);
    EXPECT_TRUE(fetcher_->urls().empty());
}

TEST_F(SearchPipelineTest, RefreshDuringSearchAnnouncesButStagesGoOn) {
    fetcher_->respond = [](const std::string&) { return std::string("<html></html>"); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 2; }));
    form_->SpeedButton6->click();
    ASSERT_TRUE(pumpUntil([&] { return countLines(kAllFound) == 1; }));
    EXPECT_TRUE(searchEnabled());
    EXPECT_FALSE(stopEnabled());
    const size_t seen = fetcher_->urls().size();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= seen + 3; }));
    form_->Button2->click();
}

TEST_F(SearchPipelineTest, StageWaitLimitBreaksTheRelayOnASlowFetch) {
    // Long enough that the relay cannot break before the first fetch, even on
    // a busy machine under a sanitizer: what breaks it here is the held fetch.
    form_->pipeline().setStageWait(std::chrono::milliseconds(3000));
    // The first fetch is held until the other two stages have given up
    // waiting for their turn, however long the machine takes for that.
    // Shared with the fetch, which may outlive this body when a check fails.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool released = false;
        void release() {
            {
                std::lock_guard lock(mutex);
                released = true;
            }
            changed.notify_all();
        }
    };
    const auto gate = std::make_shared<Gate>();
    struct ReleaseAtEnd {
        std::shared_ptr<Gate> gate;
        ~ReleaseAtEnd() { gate->release(); }
    } releaseAtEnd{gate};
    fetcher_->respond = [gate](const std::string&) {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait_for(lock, std::chrono::seconds(60), [&] { return gate->released; });
        return std::string("<html></html>");
    };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() == 1; }, 30000));
    ASSERT_TRUE(pumpUntil([&] {
        const auto running = form_->pipeline().currentStagesRunning();
        return !running.url && !running.cut;
    }, 30000));
    gate->release();
    // The fetching stage finds nobody to hand its page on to and ends too.
    ASSERT_TRUE(pumpUntil([&] { return !form_->pipeline().currentStagesRunning().fetch; }, 30000));
    EXPECT_EQ(fetcher_->urls().size(), 1u);
    EXPECT_FALSE(searchEnabled());
    EXPECT_TRUE(stopEnabled());
}

TEST_F(SearchPipelineTest, StopInterruptsABlockedFetchAndTheNextSearchFetchesAtOnce) {
    fetcher_->blockForever = true;
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() == 1; }));
    pumpFor(50);
    form_->Button2->click();
    EXPECT_EQ(fetcher_->interrupts(), 1);
    fetcher_->blockForever = false;
    fetcher_->respond = [](const std::string&) { return std::string("<html></html>"); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 2; }, 30000));
    EXPECT_EQ(pageOf(fetcher_->urls()[1]), 0);
    // The halted fetch logged nothing: no failure line for it.
    EXPECT_EQ(countLines(kFetchFailed), 0);
    form_->Button2->click();
}

TEST_F(SearchPipelineTest, SecondSearchHaltsTheFirst) {
    fetcher_->respond = [](const std::string&) { return std::string("<html></html>"); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 3; }));
    form_->SpeedButton4->click();  // toolbar Search while running
    pumpFor(300);
    form_->Button2->click();
    pumpFor(50);
    // After the restart the pages count up from 0 again, one relay at a time.
    const auto urls = fetcher_->urls();
    size_t restart = 0;
    for (size_t i = 1; i < urls.size(); ++i)
        if (pageOf(urls[i]) == 0) restart = i;
    ASSERT_GT(restart, 0u);
    for (size_t i = restart; i < urls.size(); ++i) EXPECT_EQ(pageOf(urls[i]), static_cast<int>(i - restart));
}

TEST_F(SearchPipelineTest, EndOfAnEarlierSearchDoesNotFlipTheButtonsOfANewOne) {
    // The last page's cut (and its announcement) happens well after its
    // "reading" line, so the test can stop pumping in between.
    fetcher_->respond = [](const std::string& url) {
        if (pageOf(url) == 8) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return resultPage(2);
    };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return countLines(QStringLiteral("准备读取数据:9")) == 1; }));
    // Not pumping: the first search ends by itself and its announcement
    // waits for the UI thread, which now starts a new search first.
    for (int i = 0; i < 200 && fetcher_->urls().size() < 9; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(fetcher_->urls().size(), 9u);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    fetcher_->respond = [](const std::string&) { return std::string("<html></html>"); };
    form_->SpeedButton4->click();  // the toolbar's Search stays usable
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() >= 12; }));
    EXPECT_FALSE(searchEnabled());
    EXPECT_TRUE(stopEnabled());
    EXPECT_EQ(countLines(kAllFound), 0);
    form_->Button2->click();
}

TEST_F(SearchPipelineTest, ClosingTheWindowDuringABlockedFetchEndsPromptly) {
    fetcher_->blockForever = true;
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return fetcher_->urls().size() == 1; }));
    auto start = std::chrono::steady_clock::now();
    form_->close();
    form_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SearchPipelineTest, ClosingTheWindowWhileStagesWaitForTheUiThread) {
    form_->Button1->click();
    // Do not pump: the stages are now blocked handing work to the UI thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = std::chrono::steady_clock::now();
    form_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    pumpFor(50);  // late queued hand-offs must do nothing
}

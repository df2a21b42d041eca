// The window over a store that another program holds locked, or that is
// damaged while the window is open: the search logs its line for each row it
// could not store, the commands that fail say nothing, the grid keeps its
// last good rows, and neither Stop, a new Search nor closing the window waits
// for a statement that waits for the file.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include <QMessageBox>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/TForm1.h"
#include "search/pipeline/SearchPipeline.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/store/StoreTestSupport.h"

using apptest::pumpUntil;
using apptest::ScriptedFetcher;
using apptest::StoreFile;
using Clock = std::chrono::steady_clock;

namespace {

const QString kFound = QStringLiteral("找到相关歌曲名称：");
const QString kInvalidRow = QStringLiteral("清除了一条无效数据！");

// A result page with `links` song anchors.
std::string resultPage(int links) {
    std::string page;
    for (int i = 0; i < links; ++i)
        page += "<a href=\"http://songs.example/" + std::to_string(i) + ".mp3\" target=_blank>song " +
                std::to_string(i) + "</a>\n";
    return page;
}

class StoreTroubleWindow : public ::testing::Test {
protected:
    void open(int rows) {
        apptest::app();
        ::setenv("BRELVOMP3_SEARCH_HOST", "search.test:8080", 1);
        file_ = std::make_unique<StoreFile>(rows);
        auto fetcher = std::make_unique<ScriptedFetcher>();
        fetcher_ = fetcher.get();
        form_ = std::make_unique<app::TForm1>(file_->path, std::move(fetcher));
        form_->show();
    }
    void TearDown() override {
        form_.reset();
        ::unsetenv("BRELVOMP3_SEARCH_HOST");
    }
    int linesStartingWith(const QString& start) {
        int n = 0;
        for (const QString& line : form_->logLines()) n += line.startsWith(start) ? 1 : 0;
        return n;
    }
    QString countLine(int count) { return QStringLiteral("当前歌曲数量：\u3000%1").arg(count); }

    std::unique_ptr<StoreFile> file_;
    ScriptedFetcher* fetcher_ = nullptr;
    std::unique_ptr<app::TForm1> form_;
};

}  // namespace

TEST_F(StoreTroubleWindow, ASearchIntoALockedStoreLogsEachRowItCouldNotStore) {
    open(2);
    form_->songStore().SetBusyWait(std::chrono::milliseconds(100));
    storetest::OtherConnection other(file_->path);
    other.holdWriteLock();
    fetcher_->respond = [](const std::string&) { return resultPage(2); };
    form_->Button1->click();
    // After the count of the start, the count the page ends with.
    ASSERT_TRUE(pumpUntil([&] { return form_->logLines().count(countLine(2)) == 2; }));
    EXPECT_EQ(form_->logLines().count(kInvalidRow), 2);
    form_->Button2->click();
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), 2);

    // Once the lock is gone, the next search stores its rows.
    other.release();
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return form_->logLines().contains(countLine(4)); }));
    form_->Button2->click();
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), 4);
}

// While the cutting stage's insert waits for a file another program holds,
// Stop, a new Search and closing the window go on at once.
TEST_F(StoreTroubleWindow, StopSearchAndCloseDoNotWaitForAnInsertWaitingForALockedFile) {
    open(1);
    form_->songStore().SetBusyWait(std::chrono::seconds(120));
    storetest::OtherConnection other(file_->path);
    other.holdWriteLock();
    fetcher_->respond = [](const std::string&) { return resultPage(1); };
    const auto start = Clock::now();
    form_->Button1->click();
    // The "found" line comes just before the insert.
    ASSERT_TRUE(pumpUntil([&] { return linesStartingWith(kFound) == 1; }));
    form_->Button2->click();
    EXPECT_TRUE(form_->Button1->isEnabled());
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return linesStartingWith(kFound) == 2; }));
    form_->close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)) << "something waited for the insert's busy wait";
    EXPECT_EQ(form_->logLines().count(kInvalidRow), 0);  // halted inserts say nothing
    other.release();
    EXPECT_EQ(storetest::rowsOnDisk(file_->path), 1);
}

TEST_F(StoreTroubleWindow, ADamagedStoreKeepsTheWindowRunningOnItsLastGoodRows) {
    open(0);
    storetest::execSql(file_->path, storetest::insertRows(3000));
    form_->requeryAndCount();
    ASSERT_EQ(form_->DBGrid1->model()->rowCount(), 3000);
    storetest::damage(file_->path);

    // Only the first page has links: the search reads on while the test
    // looks, and a second page's rows would be logged as well.
    std::atomic<int> pages{0};
    fetcher_->respond = [&pages](const std::string&) { return ++pages == 1 ? resultPage(2) : std::string(); };
    form_->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return form_->logLines().contains(countLine(3000)); }));
    EXPECT_EQ(form_->logLines().count(kInvalidRow), 2);
    form_->Button2->click();

    const int logged = static_cast<int>(form_->logLines().size());
    form_->setClearConfirmer([] { return true; });
    form_->SpeedButton2->click();
    ASSERT_TRUE(form_->songStore().WaitUntilIdle(std::chrono::seconds(60)));
    ASSERT_TRUE(pumpUntil([&] { return form_->DBGrid1->model()->rowCount() == 3000; }));
    form_->DBGrid1->setDeleteConfirmer([] { return true; });
    form_->DBGrid1->setFocus();
    QTest::keyClick(form_->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(form_->DBGrid1->model()->rowCount(), 3000);
    form_->DBGrid1->scrollToBottom();
    form_->DBGrid1->viewport()->grab();
    EXPECT_EQ(static_cast<int>(form_->logLines().size()), logged);  // Clear and delete said nothing
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

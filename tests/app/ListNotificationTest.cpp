// The notification when the downloads list has run empty: how a batch is
// counted (table-driven over the songs' ends), the notification as a
// stand-in service on a bus of the test's own receives it, its click, a bus
// without the service and no bus at all; and through the window, one
// notification per batch whose click shows the list. The bus parts are
// skipped where dbus-daemon cannot start.
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "app/DesktopNotifier.h"
#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/DownloadOutcome.h"
#include "app/ListDoneNotifier.h"
#include "app/TForm1.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/RecordingDownloader.h"
#include "tests/app/StandInNotifications.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/PrivateSessionBus.h"
#include "tests/support/RangeServer.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using apptest::pumpUntil;
using app::DesktopNotifier;
using app::DownloadList;
using app::DownloadOutcome;
using app::ListDoneNotifier;
using apptest::RecordingDownloader;

namespace {

// Sets an environment variable for one scope, and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Lets the zero timers and queued calls due now run.
void pumpBriefly() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class ListBatches : public ::testing::Test {
protected:
    void SetUp() override {
        fs::current_path(dir_.path());
        store::CreateEmptyStore(path_);
    }
    void TearDown() override {
        done_.reset();
        list_.reset();
        fs::current_path(old_);
    }
    void open() {
        auto downloader = std::make_unique<RecordingDownloader>();
        downloader_ = downloader.get();
        list_ = std::make_unique<DownloadList>(path_, "downmp3/", std::move(downloader), [](const QString&) {});
        done_ = std::make_unique<ListDoneNotifier>(
            *list_, [this](const QString& summary, const QString&) { told_ << summary; });
        list_->start();
    }
    int rowOf(const std::string& title) {
        for (int row = 0; row < list_->model().rowCount(); ++row)
            if (list_->model().entry(row).title == title) return row;
        return -1;
    }
    std::int64_t idOf(const std::string& title) { return list_->model().entry(rowOf(title)).id; }
    void end(const std::string& title, DownloadOutcome::Kind kind) {
        DownloadOutcome outcome;
        outcome.kind = kind;
        outcome.reason = QStringLiteral("服务器上没有这首歌（HTTP 404）");
        outcome.path = QString::fromStdString(dir_.file(title + ".mp3"));
        outcome.size = 10;
        downloader_->reports_.ended(idOf(title), outcome, 10, 10);
    }

    testsupport::TempDir dir_;
    fs::path old_ = fs::current_path();
    std::string path_ = dir_.file("mysong.mdb");
    RecordingDownloader* downloader_ = nullptr;
    std::unique_ptr<DownloadList> list_;
    std::unique_ptr<ListDoneNotifier> done_;
    QStringList told_;
};

}  // namespace

TEST(ListDoneText, SaysWhatWasFinishedAndWhatFailed) {
    EXPECT_EQ(ListDoneNotifier::text(9, 1), QStringLiteral("下载列表：9 首已完成，1 首失败"));
    EXPECT_EQ(ListDoneNotifier::text(9, 0), QStringLiteral("下载列表：9 首已完成"));
    EXPECT_EQ(ListDoneNotifier::text(0, 3), QStringLiteral("下载列表：3 首失败"));
}

// Each case runs its steps on a list whose songs the test starts and ends;
// a pump lets the list's idle moment be seen. What was told, batch by batch.
TEST_F(ListBatches, OneNotificationPerBatchCountingEachSongByItsLastEnd) {
    enum class Op { Add, Start, Save, Page, Fail, Stop, Cancel, Restart, Remove, Pump };
    struct Step {
        Op op;
        const char* title = "";
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        QStringList told;
    };
    using O = Op;
    const std::vector<Case> cases = {
        {"two saved, one failed",
         {{O::Add, "a"}, {O::Add, "b"}, {O::Add, "c"}, {O::Start, "a"}, {O::Start, "b"}, {O::Save, "a"},
          {O::Fail, "b"}, {O::Pump}, {O::Start, "c"}, {O::Save, "c"}, {O::Pump}},
         {QStringLiteral("下载列表：2 首已完成，1 首失败")}},
        {"a page in a song's place is finished", {{O::Add, "a"}, {O::Page, "a"}, {O::Pump}},
         {QStringLiteral("下载列表：1 首已完成")}},
        {"all failed", {{O::Add, "a"}, {O::Add, "b"}, {O::Fail, "a"}, {O::Fail, "b"}, {O::Pump}},
         {QStringLiteral("下载列表：2 首失败")}},
        {"stopped songs alone are not told", {{O::Add, "a"}, {O::Stop, "a"}, {O::Cancel, "a"}, {O::Pump}}, {}},
        {"stopped songs are not counted",
         {{O::Add, "a"}, {O::Add, "b"}, {O::Save, "a"}, {O::Stop, "b"}, {O::Cancel, "b"}, {O::Pump}},
         {QStringLiteral("下载列表：1 首已完成")}},
        {"a failed song downloaded again in the batch counts once",
         {{O::Add, "a"}, {O::Add, "b"}, {O::Fail, "a"}, {O::Restart, "a"}, {O::Save, "a"}, {O::Save, "b"}, {O::Pump}},
         {QStringLiteral("下载列表：2 首已完成")}},
        {"stopped and downloaded again before its end: the batch goes on",
         {{O::Add, "a"}, {O::Add, "b"}, {O::Save, "b"}, {O::Stop, "a"}, {O::Restart, "a"}, {O::Cancel, "a"},
          {O::Pump}, {O::Save, "a"}, {O::Pump}},
         {QStringLiteral("下载列表：2 首已完成")}},
        {"two batches, two notifications",
         {{O::Add, "a"}, {O::Save, "a"}, {O::Pump}, {O::Add, "b"}, {O::Fail, "b"}, {O::Pump}},
         {QStringLiteral("下载列表：1 首已完成"), QStringLiteral("下载列表：1 首失败")}},
        {"a finished song downloaded again is a batch of its own",
         {{O::Add, "a"}, {O::Save, "a"}, {O::Pump}, {O::Restart, "a"}, {O::Save, "a"}, {O::Pump}},
         {QStringLiteral("下载列表：1 首已完成"), QStringLiteral("下载列表：1 首已完成")}},
        {"a running song removed is not counted",
         {{O::Add, "a"}, {O::Add, "b"}, {O::Start, "a"}, {O::Remove, "a"}, {O::Pump}, {O::Save, "b"}, {O::Pump}},
         {QStringLiteral("下载列表：1 首已完成")}},
        {"everything removed: nothing to tell", {{O::Add, "a"}, {O::Remove, "a"}, {O::Pump}}, {}},
        {"songs still waiting: no end yet", {{O::Add, "a"}, {O::Add, "b"}, {O::Save, "a"}, {O::Pump}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        open();
        for (const Step& s : c.steps) {
            switch (s.op) {
            case O::Add:
                list_->add({{QString::fromUtf8(s.title), QStringLiteral("http://h/%1.mp3").arg(s.title)}});
                break;
            case O::Start: downloader_->reports_.started(idOf(s.title)); break;
            case O::Save: end(s.title, DownloadOutcome::Kind::Saved); break;
            case O::Page: end(s.title, DownloadOutcome::Kind::SavedAsPage); break;
            case O::Fail: end(s.title, DownloadOutcome::Kind::Failed); break;
            case O::Cancel: end(s.title, DownloadOutcome::Kind::Cancelled); break;
            case O::Stop: list_->stop({rowOf(s.title)}); break;
            case O::Restart: list_->restart({rowOf(s.title)}); break;
            case O::Remove: list_->remove({rowOf(s.title)}); break;
            case O::Pump: pumpBriefly(); break;
            }
        }
        EXPECT_EQ(told_, c.told) << told_.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(done_->told(), c.told.size());
        told_.clear();
        // The next case on a list of its own.
        done_.reset();
        list_.reset();
        path_ = dir_.file("mysong-" + std::to_string(&c - cases.data()) + ".mdb");
        store::CreateEmptyStore(path_);
    }
}

// The songs picked up at start are a batch: their end is told.
TEST_F(ListBatches, SongsPickedUpAtStartAreABatch) {
    open();
    list_->add({{QStringLiteral("a"), QStringLiteral("http://h/a.mp3")}});
    ASSERT_TRUE(list_->listStore().WaitUntilWritten(std::chrono::seconds(60)));
    done_.reset();
    list_.reset();
    open();
    ASSERT_EQ(list_->activeSongs(), 1);
    end("a", DownloadOutcome::Kind::Failed);
    pumpBriefly();
    EXPECT_EQ(told_, QStringList{QStringLiteral("下载列表：1 首失败")});
}

namespace {

class DesktopNotifications : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus_.address().empty()) GTEST_SKIP() << bus_.whyNot();
        env_.emplace("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    }
    std::unique_ptr<DesktopNotifier> notifier() {
        auto n = std::make_unique<DesktopNotifier>([this](const QString& line) { lines_ << line; });
        QObject::connect(n.get(), &DesktopNotifier::clicked, [this] { ++clicks_; });
        QObject::connect(n.get(), &DesktopNotifier::answered, [this](bool taken) { answers_.push_back(taken); });
        return n;
    }

    testsupport::PrivateSessionBus bus_;
    std::optional<ScopedEnv> env_;
    QStringList lines_;
    int clicks_ = 0;
    std::vector<bool> answers_;
};

}  // namespace

TEST_F(DesktopNotifications, TheServiceGetsTheNotificationAndItsClickIsHeard) {
    apptest::StandInNotifications service(bus_.address());
    ASSERT_TRUE(service.registered());
    auto n = notifier();
    n->notify(QStringLiteral("下载列表：2 首已完成"), QStringLiteral("点击查看下载列表"));
    ASSERT_TRUE(pumpUntil([&] { return answers_.size() == 1; }, 30000));
    EXPECT_TRUE(answers_[0]);
    const auto shown = service.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].app, QStringLiteral("BrelvoMP3"));
    EXPECT_EQ(shown[0].summary, QStringLiteral("下载列表：2 首已完成"));
    EXPECT_EQ(shown[0].body, QStringLiteral("点击查看下载列表"));
    EXPECT_EQ(shown[0].replaces, 0u);
    EXPECT_TRUE(shown[0].actions.contains(QStringLiteral("default")));
    EXPECT_EQ(n->shown(), 1);

    service.click(shown[0].id);
    ASSERT_TRUE(pumpUntil([&] { return clicks_ == 1; }, 30000));
    // The next one takes the place of one still on the screen.
    n->notify(QStringLiteral("下载列表：1 首失败"), QString());
    ASSERT_TRUE(pumpUntil([&] { return answers_.size() == 2; }, 30000));
    EXPECT_EQ(service.shown().at(1).replaces, shown[0].id);
    EXPECT_TRUE(lines_.isEmpty()) << lines_.join('\n').toStdString();
}

// A service without actions tells a click as the user's close; one with
// them means only a close by it.
TEST_F(DesktopNotifications, ClosedByTheUserIsAClickOnlyWhereTheServiceHasNoActions) {
    for (const bool actions : {false, true}) {
        SCOPED_TRACE(actions ? "with actions" : "without actions");
        clicks_ = 0;
        answers_.clear();
        apptest::StandInNotifications service(bus_.address(), actions);
        ASSERT_TRUE(service.registered());
        auto n = notifier();
        n->notify(QStringLiteral("下载列表：1 首已完成"), QString());
        ASSERT_TRUE(pumpUntil([&] { return answers_.size() == 1; }, 30000));
        service.closeByUser(service.shown().at(0).id);
        // The close, then the next notification's answer, from the same
        // service and in that order; then a click on that one.
        n->notify(QStringLiteral("下载列表：2 首已完成"), QString());
        ASSERT_TRUE(pumpUntil([&] { return answers_.size() == 2; }, 30000));
        service.click(service.shown().at(1).id);
        ASSERT_TRUE(pumpUntil([&] { return clicks_ == (actions ? 1 : 2); }, 30000));
        pumpBriefly();
        EXPECT_EQ(clicks_, actions ? 1 : 2);
    }
}

// A bus without the service: nothing happens but one log line in the run.
TEST_F(DesktopNotifications, WithoutTheServiceOneLogLineAndNothingElse) {
    auto n = notifier();
    n->notify(QStringLiteral("下载列表：1 首已完成"), QString());
    n->notify(QStringLiteral("下载列表：1 首已完成"), QString());
    ASSERT_TRUE(pumpUntil([&] { return answers_.size() == 2; }, 30000));
    EXPECT_EQ(answers_, (std::vector<bool>{false, false}));
    EXPECT_EQ(lines_, QStringList{QString::fromUtf8(DesktopNotifier::kNoService)});
    EXPECT_EQ(n->shown(), 0);
}

// No bus at all, or none where the address says: nothing happens, not even
// a log line; no bus is looked for anywhere else (none is started for it).
TEST(DesktopNotifier, WithoutABusNothingHappens) {
    testsupport::TempDir runtime;
    const std::vector<std::optional<std::string>> addresses = {
        std::nullopt, "unix:path=" + runtime.file("nobody-listens"), "no-such-transport:"};
    for (const auto& address : addresses) {
        SCOPED_TRACE(address.value_or("unset"));
        ScopedEnv busAddress("DBUS_SESSION_BUS_ADDRESS", address);
        ScopedEnv emptyRuntime("XDG_RUNTIME_DIR", runtime.path().string());
        EXPECT_EQ(DesktopNotifier::sessionBusAddress().isEmpty(), !address.has_value());
        QStringList lines;
        int answers = 0;
        DesktopNotifier n([&](const QString& line) { lines << line; });
        QObject::connect(&n, &DesktopNotifier::answered, [&](bool) { ++answers; });
        n.notify(QStringLiteral("下载列表：1 首已完成"), QString());
        pumpBriefly();
        EXPECT_TRUE(lines.isEmpty()) << lines.join('\n').toStdString();
        EXPECT_EQ(answers, 0);
        EXPECT_EQ(n.shown(), 0);
    }
}

// The bus's socket where the runtime folder keeps it, when no address is set.
TEST(DesktopNotifier, TheRuntimeFoldersBusWithoutAnAddress) {
    testsupport::PrivateSessionBus bus;
    if (bus.address().empty()) GTEST_SKIP() << bus.whyNot();
    const std::string prefix = "unix:path=";
    ASSERT_EQ(bus.address().rfind(prefix, 0), 0u) << bus.address();
    const fs::path socket = bus.address().substr(prefix.size(), bus.address().find(',') - prefix.size());
    ASSERT_EQ(socket.filename(), "bus");
    ScopedEnv noAddress("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    ScopedEnv runtime("XDG_RUNTIME_DIR", socket.parent_path().string());
    EXPECT_EQ(DesktopNotifier::sessionBusAddress(), QString::fromStdString(prefix + socket.string()));
    apptest::StandInNotifications service(bus.address());
    ASSERT_TRUE(service.registered());
    DesktopNotifier n([](const QString&) {});
    n.notify(QStringLiteral("下载列表：1 首已完成"), QString());
    ASSERT_TRUE(pumpUntil([&] { return n.shown() == 1; }, 30000));
    EXPECT_EQ(service.count(), 1u);
}

// Through the window: two songs of a loopback server, one notification when
// both are in, and its click brings the list's page up.
TEST_F(DesktopNotifications, TheWindowNotifiesOncePerBatchAndTheClickShowsTheList) {
    apptest::StandInNotifications service(bus_.address());
    ASSERT_TRUE(service.registered());
    testsupport::RangeServer::Setup setup;
    setup.file = {testsupport::songBody(32 * 1024, 3), "\"song\"", ""};
    testsupport::RangeServer server(setup);
    apptest::StoreFile file;
    apptest::WorkDir work;
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    int answers = 0;
    QObject::connect(&form->desktopNotifier(), &DesktopNotifier::answered, [&](bool) { ++answers; });
    form->downloadList().add({{QStringLiteral("一"), QString::fromStdString(server.url("/1.mp3"))},
                              {QStringLiteral("二"), QString::fromStdString(server.url("/2.mp3"))}});
    ASSERT_TRUE(pumpUntil([&] { return answers == 1; }, 60000));
    const auto shown = service.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].summary, QStringLiteral("下载列表：2 首已完成"));
    EXPECT_EQ(form->downloadList().activeSongs(), 0);

    form->PageControl1->setCurrentWidget(form->DBGrid1);
    form->showMinimized();
    service.click(shown[0].id);
    ASSERT_TRUE(pumpUntil([&] { return form->PageControl1->currentWidget() == form->DownloadListView1; }, 30000));
    EXPECT_FALSE(form->isMinimized());
    // One batch, one notification.
    pumpBriefly();
    EXPECT_EQ(service.count(), 1u);
    form->close();
    form.reset();
}

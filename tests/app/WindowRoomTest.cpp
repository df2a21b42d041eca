// The main window's room: at its own size every part sits where it always
// has; made larger (never smaller than that), the grid, the downloads list
// and the log take the room; the size the user gave it and the list's
// column widths come back at the next start, and what the settings file
// holds is read as anything.
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <gtest/gtest.h>

#include "app/DownloadListModel.h"
#include "app/DownloadListView.h"
#include "app/MessageLog.h"
#include "app/ProgramSettings.h"
#include "app/TForm1.h"
#include "app/WindowSettings.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

using app::DownloadListModel;

namespace {

// The window's settings start empty and are gone again afterwards: the
// other tests of the run open the window at its own size.
struct FreshWindowSettings {
    FreshWindowSettings() { clear(); }
    ~FreshWindowSettings() { clear(); }
    static void clear() {
        const auto settings = app::programSettings();
        settings->remove(QStringLiteral("MainWindow"));
        settings->remove(QStringLiteral("DownloadList/columnWidths"));
    }
};

std::unique_ptr<app::TForm1> openForm(const apptest::StoreFile& file) {
    apptest::app();
    auto form = std::make_unique<app::TForm1>(file.path, std::make_unique<apptest::ScriptedFetcher>());
    form->show();
    apptest::pumpFor(30);
    return form;
}

QRect placeIn(const QWidget& window, const QWidget& part) {
    return {part.mapTo(&window, QPoint(0, 0)), part.size()};
}

}  // namespace

TEST(WindowRoom, AtItsOwnSizeEveryPartSitsWhereItAlwaysHas) {
    FreshWindowSettings fresh;
    apptest::StoreFile file(3);
    auto form = openForm(file);
    ASSERT_EQ(form->size(), QSize(592, 473));
    EXPECT_EQ(form->minimumSize(), QSize(592, 473));
    EXPECT_GT(form->maximumWidth(), 592);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    const std::vector<std::pair<QWidget*, QRect>> parts = {
        {form->ToolBar1, {0, 0, 592, 65}},     {form->Panel1, {0, 65, 592, 49}},
        {form->Splitter4, {0, 114, 592, 336}}, {form->PageControl1, {0, 114, 592, 251}},
        {form->DBGrid1, {0, 145, 592, 220}},   {form->Memo1, {0, 369, 592, 81}},
        {form->StatusBar1, {0, 450, 592, 23}},
    };
    for (const auto& [part, rect] : parts) EXPECT_EQ(placeIn(*form, *part), rect) << part->objectName().toStdString();
    form->PageControl1->setCurrentIndex(1);
    apptest::pumpFor(20);
    EXPECT_EQ(placeIn(*form, *form->DownloadListView1), QRect(0, 145, 592, 220));
}

TEST(WindowRoom, ALargerWindowGivesTheGridTheListAndTheLogTheRoom) {
    FreshWindowSettings fresh;
    apptest::StoreFile file(3);
    auto form = openForm(file);
    const int stateWidth = form->DownloadListView1->columnWidth(DownloadListModel::StateColumn);
    struct Case {
        QSize asked;
        QSize got;
    };
    const std::vector<Case> cases = {
        {{900, 700}, {900, 700}},
        {{1000, 473}, {1000, 473}},
        {{300, 200}, {592, 473}},  // never smaller than its own size
        {{592, 900}, {592, 900}},
        {{592, 473}, {592, 473}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.asked.width()) + "x" + std::to_string(c.asked.height()));
        form->resize(c.asked);
        form->PageControl1->setCurrentIndex(1);
        apptest::pumpFor(30);
        ASSERT_EQ(form->size(), c.got);
        const int taller = c.got.height() - 473, wider = c.got.width() - 592;
        // The bars keep their height; the log takes a quarter of the room, the pages the rest.
        EXPECT_EQ(form->ToolBar1->height(), 65);
        EXPECT_EQ(form->StatusBar1->geometry().bottom(), c.got.height() - 1);
        EXPECT_EQ(form->Memo1->height(), 81 + taller / 4);
        EXPECT_EQ(form->DownloadListView1->size(), QSize(592 + wider, 220 + taller - taller / 4));
        // 状态 takes half of what the list gains across, for the reasons.
        EXPECT_EQ(form->DownloadListView1->columnWidth(DownloadListModel::StateColumn), stateWidth + wider / 2);
        form->PageControl1->setCurrentIndex(0);
        apptest::pumpFor(30);
        EXPECT_EQ(form->DBGrid1->size(), QSize(592 + wider, 220 + taller - taller / 4));
    }
}

// What the user made of the window comes back: its size, maximized, and
// the list's columns (状态 without what a larger window lent it).
TEST(WindowRoom, TheSizeAndTheColumnWidthsComeBackAtTheNextStart) {
    FreshWindowSettings fresh;
    apptest::StoreFile file;
    {
        auto form = openForm(file);
        form->resize(800, 600);
        form->PageControl1->setCurrentIndex(1);
        apptest::pumpFor(30);
        app::DownloadListView& list = *form->DownloadListView1;
        list.setColumnWidth(DownloadListModel::SongColumn, 250);
        list.setColumnWidth(DownloadListModel::StateColumn, 300);
        list.setColumnWidth(DownloadListModel::PathColumn, 90);
        form->close();
    }
    // On the disk, where the next program reads it.
    {
        const QString kept = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/BrelvoMP3/BrelvoMP3.ini";
        QSettings onDisk(kept, QSettings::IniFormat);
        EXPECT_EQ(onDisk.value(QStringLiteral("MainWindow/size")).toSize(), QSize(800, 600)) << kept.toStdString();
    }
    {
        auto form = openForm(file);
        EXPECT_EQ(form->size(), QSize(800, 600));
        form->PageControl1->setCurrentIndex(1);
        apptest::pumpFor(30);
        const app::DownloadListView& list = *form->DownloadListView1;
        EXPECT_EQ(list.columnWidth(DownloadListModel::SongColumn), 250);
        EXPECT_EQ(list.columnWidth(DownloadListModel::StateColumn), 300);
        EXPECT_EQ(list.columnWidth(DownloadListModel::PathColumn), 90);
        EXPECT_EQ(list.columnWidth(DownloadListModel::SizeColumn),
                  app::DownloadListView::defaultColumnWidths()[DownloadListModel::SizeColumn]);
        // Back at its own size: 状态 as the user made it at that size.
        form->resize(592, 473);
        apptest::pumpFor(30);
        EXPECT_EQ(list.columnWidth(DownloadListModel::StateColumn), 300 - (800 - 592) / 2);
        form->showMaximized();
        apptest::pumpUntil([&] { return form->isMaximized(); }, 5000);
        form->close();
    }
    {
        auto form = openForm(file);
        EXPECT_TRUE(form->isMaximized());
        form->showNormal();
        apptest::pumpUntil([&] { return !form->isMaximized(); }, 5000);
        apptest::pumpFor(30);
        EXPECT_EQ(form->size(), QSize(592, 473));
    }
}

// A settings file is a file anyone may have written.
TEST(WindowRoom, WhatTheSettingsFileHoldsIsReadAsAnything) {
    FreshWindowSettings fresh;
    const QSize least(592, 473), most(1024, 768);
    struct SizeCase {
        const char* what;
        QVariant kept;
        QSize size;
    };
    const std::vector<SizeCase> sizes = {
        {"nothing kept", QVariant(), least},
        {"a size", QSize(700, 500), {700, 500}},
        {"smaller than its own", QSize(100, 100), least},
        {"larger than the screen", QSize(5000, 4000), most},
        {"negative", QSize(-5, -5), least},
        {"not a size", QStringLiteral("wide"), least},
    };
    for (const SizeCase& c : sizes) {
        app::programSettings()->setValue(QStringLiteral("MainWindow/size"), c.kept);
        if (!c.kept.isValid()) app::programSettings()->remove(QStringLiteral("MainWindow/size"));
        EXPECT_EQ(app::keptWindowSize(least, most), c.size) << c.what;
    }
    // A screen smaller than the window: never below its own size.
    app::programSettings()->setValue(QStringLiteral("MainWindow/size"), QSize(700, 500));
    EXPECT_EQ(app::keptWindowSize(least, QSize(512, 384)), least);

    const QList<int> defaults = {110, 190, 64};
    struct WidthCase {
        const char* what;
        QVariant kept;
        QList<int> widths;
    };
    const std::vector<WidthCase> widths = {
        {"nothing kept", QVariant(), defaults},
        {"all three", QVariantList{200, 100, 50}, {200, 100, 50}},
        {"fewer", QVariantList{200}, {200, 190, 64}},
        {"more", QVariantList{1, 2, 3, 4}, defaults},
        {"out of bounds", QVariantList{0, -7, app::kMostColumnWidth + 1}, defaults},
        {"no numbers", QVariantList{QStringLiteral("x"), 30, QStringLiteral("")}, {110, 30, 64}},
        {"no list", QStringLiteral("wide"), defaults},
        {"a list of one, as the file gives it back", QStringLiteral("150"), {150, 190, 64}},
        {"texts, as the file gives them back", QStringList{QStringLiteral("150"), QStringLiteral("99")}, {150, 99, 64}},
    };
    for (const WidthCase& c : widths) {
        app::programSettings()->setValue(QStringLiteral("DownloadList/columnWidths"), c.kept);
        if (!c.kept.isValid()) app::programSettings()->remove(QStringLiteral("DownloadList/columnWidths"));
        EXPECT_EQ(app::keptListColumnWidths(defaults), c.widths) << c.what;
    }
}

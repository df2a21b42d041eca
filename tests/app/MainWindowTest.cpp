#include <QAbstractButton>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextBlock>
#include <QTextLayout>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/AppInfo.h"
#include "app/DownloadListView.h"
#include "app/MessageLog.h"
#include "app/ScreenPlacement.h"
#include "app/TForm1.h"
#include "app/TOKBottomDlg.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"

using apptest::answerNextBox;
using apptest::ScriptedFetcher;
using apptest::ShownBox;
using apptest::StoreFile;

namespace {

std::unique_ptr<app::TForm1> makeForm(const StoreFile& file) {
    apptest::app();
    return std::make_unique<app::TForm1>(file.path, std::make_unique<ScriptedFetcher>());
}

}  // namespace

TEST(MainWindow, StartupLogHasWelcomeLinesAndOneCountLine) {
    StoreFile file(3);
    auto form = makeForm(file);
    const QStringList lines = form->logLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("欢迎您使用BrelvoMP3。"));
    EXPECT_EQ(lines[1], QStringLiteral("软件的更新情况请查看我们的网站：\u3000") + QString::fromLatin1(app::kHomePage));
    EXPECT_EQ(lines[2], QStringLiteral("当前歌曲数量：\u30003"));
}

TEST(MainWindow, StartupWithoutStoreThrows) {
    apptest::app();
    testsupport::TempDir dir;
    EXPECT_THROW(app::TForm1(dir.file("mysong.mdb"), std::make_unique<ScriptedFetcher>()), store::StoreError);
}

TEST(MainWindow, WindowFactsAndControls) {
    StoreFile file;
    auto form = makeForm(file);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("BrelvoMP3\u30005.3"));
    EXPECT_EQ(form->size(), QSize(592, 473));
    // It opens at exactly its size, and may only grow (WindowRoomTest).
    EXPECT_EQ(form->minimumSize(), QSize(592, 473));
    EXPECT_EQ(form->ToolBar1->height(), 65);
    EXPECT_EQ(form->Panel1->height(), 49);
    EXPECT_EQ(form->SpeedButton4->text(), QStringLiteral("搜索"));
    EXPECT_EQ(form->SpeedButton3->text(), QStringLiteral("停止"));
    EXPECT_EQ(form->SpeedButton2->text(), QStringLiteral("清除"));
    EXPECT_EQ(form->SpeedButton6->text(), QStringLiteral("刷新"));
    EXPECT_EQ(form->SpeedButton5->text(), QStringLiteral("说明"));
    EXPECT_EQ(form->SpeedButton1->text(), QStringLiteral("退出"));
    EXPECT_EQ(form->SpeedButton7->width(), 293);
    EXPECT_EQ(form->Label1->text(), QStringLiteral("请输入关键词：\u3000"));
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("月亮"));
    EXPECT_EQ(form->ComboBox1->count(), 27);
    EXPECT_EQ(form->ComboBox1->itemText(19), QStringLiteral("民歌"));
    EXPECT_EQ(form->ComboBox1->itemText(26), QStringLiteral("花儿"));
    EXPECT_EQ(form->ComboBox1->width(), 220);
    EXPECT_EQ(form->Button1->size(), QSize(82, 37));
    EXPECT_EQ(form->PageControl1->tabText(0), QStringLiteral("    搜索结果       "));
    ASSERT_EQ(form->PageControl1->count(), 2);
    EXPECT_EQ(form->PageControl1->tabText(1), QStringLiteral("    下载列表       "));
    EXPECT_EQ(form->StatusText->text(), QStringLiteral(" 下载请用鼠标 [右键] 点击歌名。歌曲保存在 downmp3文件夹里。"));
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_TRUE(form->Button2->isEnabled());

    const auto actions = form->PopupMenu1->actions();
    ASSERT_EQ(actions.size(), 12);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("下载歌曲"));
    EXPECT_EQ(actions[2]->text(), QStringLiteral("加入下载列表"));
    EXPECT_EQ(actions[3]->text(), QStringLiteral("检查链接"));
    EXPECT_TRUE(actions[4]->isSeparator());
    EXPECT_EQ(actions[5]->text(), QStringLiteral("下载到..."));
    EXPECT_TRUE(actions[6]->isSeparator());
    EXPECT_EQ(actions[7]->text(), QStringLiteral("在IE中打开链接"));
    EXPECT_TRUE(actions[8]->isSeparator());
    EXPECT_EQ(actions[9]->text(), QStringLiteral("打开下载文件夹"));
    EXPECT_TRUE(actions[10]->isSeparator());
    EXPECT_EQ(actions[11]->text(), QStringLiteral("合并相同歌曲"));
    EXPECT_TRUE(actions[11]->isCheckable());
    EXPECT_FALSE(actions[11]->isChecked());
}

TEST(MainWindow, KeywordTypedOutsideThePresetListIsUsedAsTyped) {
    StoreFile file;
    auto form = makeForm(file);
    form->ComboBox1->setEditText(QStringLiteral("  自己的 词 "));
    EXPECT_EQ(form->keywordText(), "  自己的 词 ");
}

TEST(MainWindow, ClearAnsweredNoChangesNothing) {
    StoreFile file(2);
    auto form = makeForm(file);
    int asked = 0;
    form->setClearConfirmer([&] { ++asked; return false; });
    form->SpeedButton2->click();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(form->songStore().Count(), 2);
    EXPECT_EQ(form->DBGrid1->model()->rowCount(), 2);
    EXPECT_EQ(form->logLines().size(), 3);
}

TEST(MainWindow, ClearAnsweredYesEmptiesStoreAndGridWithoutLogLine) {
    StoreFile file(2);
    auto form = makeForm(file);
    form->setClearConfirmer([] { return true; });
    form->SpeedButton2->click();
    EXPECT_EQ(form->songStore().Count(), 0);
    EXPECT_EQ(form->DBGrid1->model()->rowCount(), 0);
    EXPECT_EQ(form->songStore().QueryText(), "select * from tab1");
    EXPECT_EQ(form->logLines().size(), 3);
}

TEST(MainWindow, HomePageOpensTheHomeAddress) {
    StoreFile file;
    auto form = makeForm(file);
    QString opened;
    form->setUrlOpener([&](const QString& url) {
        opened = url;
        return true;
    });
    form->SpeedButton7->click();
    EXPECT_EQ(opened, QString::fromLatin1(app::kHomePage));
}

TEST(MainWindow, ExitClosesTheWindow) {
    StoreFile file;
    auto form = makeForm(file);
    form->show();
    EXPECT_TRUE(form->isVisible());
    form->SpeedButton1->click();
    EXPECT_FALSE(form->isVisible());
}

TEST(AboutDialog, TextAndLayout) {
    apptest::app();
    app::TOKBottomDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("关于BrelvoMP3"));
    EXPECT_EQ(dialog.ClientArea->size(), QSize(388, 251));
    EXPECT_EQ(dialog.Memo1->size(), QSize(385, 201));
    EXPECT_TRUE(dialog.Memo1->isReadOnly());
    EXPECT_EQ(dialog.SpeedButton1->size(), QSize(105, 30));
    EXPECT_EQ(dialog.SpeedButton1->text(), QStringLiteral("关闭窗口"));
    const QStringList lines = dialog.Memo1->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines[0], QString(11, QChar(0x3000)) + QStringLiteral("关于BrelvoMP3"));
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_TRUE(lines[2].startsWith(QString(2, QChar(0x3000)) + QStringLiteral("BrelvoMP3是")));
    EXPECT_FALSE(lines[3].startsWith(QChar(0x3000)));
    EXPECT_TRUE(lines[7].startsWith(QString(2, QChar(0x3000)) + QStringLiteral("其它功能")));
    EXPECT_EQ(lines[8], QStringLiteral("时告诉我:") + QString::fromLatin1(app::kContactEmail));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    // In the faces installed here every line still fits the box whole.
    dialog.show();
    apptest::pumpFor(20);
    EXPECT_EQ(dialog.Memo1->horizontalScrollBar()->maximum(), 0);
    dialog.close();
}

TEST(AboutDialog, InstructionsShowsItModallyAndCloseEndsIt) {
    StoreFile file;
    auto form = makeForm(file);
    app::TOKBottomDlg dialog(form.get());
    form->setAboutDialog(&dialog);
    bool wasModal = false;
    QTimer::singleShot(50, [&] {
        wasModal = dialog.isVisible() && dialog.isModal();
        dialog.SpeedButton1->click();
    });
    form->SpeedButton5->click();  // returns when the dialog closes
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(dialog.isVisible());
}

TEST(MainWindow, FocusStartsInTheKeywordBoxAndTabSkipsTheToolbar) {
    StoreFile file(2);
    auto form = makeForm(file);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
    ASSERT_EQ(QApplication::focusWidget(), form->ComboBox1);

    // Typing goes into the keyword box; Space types a blank, it starts nothing.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ab c"));
    EXPECT_EQ(form->ComboBox1->currentText(), QStringLiteral("ab c"));
    EXPECT_TRUE(form->Button1->isEnabled());

    for (QToolButton* b : {form->SpeedButton4, form->SpeedButton3, form->SpeedButton2, form->SpeedButton6,
                           form->SpeedButton5, form->SpeedButton1, form->SpeedButton7})
        EXPECT_EQ(b->focusPolicy(), Qt::NoFocus) << b->objectName().toStdString();

    // Tab walks the windowed controls in order, up to the grid (where Tab
    // moves between columns); the read-only log still takes the focus.
    const std::vector<QWidget*> chain = {form->Button1, form->Button2, form->PageControl1->tabBar(), form->DBGrid1};
    for (QWidget* next : chain) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
    EXPECT_TRUE(form->Memo1->focusPolicy() & Qt::TabFocus);

    // With the downloads list shown, Tab goes from the tabs to the list,
    // then on to the log.
    form->PageControl1->setCurrentIndex(1);
    form->PageControl1->tabBar()->setFocus();
    for (QWidget* next : std::vector<QWidget*>{form->DownloadListView1, form->Memo1}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
}

TEST(MainWindow, LogKeepsItsLastTenThousandLines) {
    StoreFile file;
    auto form = makeForm(file);
    for (int i = 0; i < 10050; ++i) form->appendLog("line " + std::to_string(i));
    const QStringList lines = form->logLines();
    ASSERT_EQ(lines.size(), 10000);
    EXPECT_EQ(lines.first(), QStringLiteral("line 50"));
    EXPECT_EQ(lines.last(), QStringLiteral("line 10049"));
}

TEST(MainWindow, LogFollowsNewLinesOnlyWhileItShowsItsEnd) {
    StoreFile file;
    auto form = makeForm(file);
    form->show();
    QScrollBar* bar = form->Memo1->verticalScrollBar();
    for (int i = 0; i < 10000; ++i) form->appendLog("line " + std::to_string(i));
    apptest::pumpFor(20);
    EXPECT_EQ(bar->value(), bar->maximum());
    form->appendLog("at the end");
    apptest::pumpFor(20);
    EXPECT_EQ(bar->value(), bar->maximum());

    // Scrolled up to read: new lines (and the oldest dropping out) leave the
    // same text in view.
    bar->setValue(bar->maximum() / 2);
    apptest::pumpFor(20);
    const QString inView = form->Memo1->cursorForPosition(QPoint(5, 5)).block().text();
    for (int i = 0; i < 30; ++i) form->appendLog("more " + std::to_string(i));
    apptest::pumpFor(20);
    EXPECT_LT(bar->value(), bar->maximum());
    EXPECT_EQ(form->Memo1->cursorForPosition(QPoint(5, 5)).block().text(), inView);
}

// The log shows its newest line whenever it showed its end before the line
// came, also after the splitter gave it room and took it back; scrolled up
// by the user, it stays where the user put it.
TEST(MainWindow, LogFollowsNewLinesAfterItsPanelChangedSize) {
    struct Case {
        const char* what;
        int lines;            // in the log before the panel changes
        bool scrolledUp;      // by the user, before
        QList<int> heights;   // the log panel's heights, one after another
        bool followsAfter;
    };
    const std::vector<Case> cases = {
        {"the whole log fits, then less room", 3, false, {400, 81}, true},
        {"more room but not for all, then less", 200, false, {300, 60}, true},
        {"the end in view through growing and shrinking", 200, false, {150, 300, 40, 120}, true},
        {"scrolled up to read, room changes", 200, true, {300, 81}, false},
    };
    for (const Case& c : cases) {
        StoreFile file;
        auto form = makeForm(file);
        form->show();
        QScrollBar* bar = form->Memo1->verticalScrollBar();
        for (int i = 3; i < c.lines; ++i) form->appendLog("line " + std::to_string(i));
        apptest::pumpFor(20);
        if (c.scrolledUp) bar->setValue(bar->maximum() / 2);
        const int total = form->Splitter4->sizes()[0] + form->Splitter4->sizes()[1];
        for (int height : c.heights) {
            form->Splitter4->setSizes({total - height, height});
            apptest::pumpFor(20);
        }
        form->appendLog("the newest line");
        apptest::pumpFor(20);
        EXPECT_GT(bar->maximum(), 0) << c.what;
        EXPECT_EQ(bar->value() == bar->maximum(), c.followsAfter) << c.what;
        EXPECT_EQ(form->Memo1->showsItsEnd(), c.followsAfter) << c.what;
    }
}

// Enter and the keypad's Enter in the keyword box are a click on Search:
// a search starts while Search is enabled, nothing happens while it is not.
TEST(MainWindow, EnterInTheKeywordBoxStartsASearchLikeTheSearchButton) {
    const QString starting = QStringLiteral("初始化网络连接，受网络速度影响，可能需要较长时间。");
    StoreFile file;
    auto form = makeForm(file);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
    ASSERT_EQ(QApplication::focusWidget(), form->ComboBox1);
    // Each Enter, with Search enabled and then disabled (by a running search).
    int searches = 0;
    for (bool enabled : {true, false}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            form->setSearchEnabled(enabled);
            QTest::keyClick(form->ComboBox1, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            searches += enabled ? 1 : 0;
            EXPECT_EQ(form->logLines().count(starting), searches) << key << " " << enabled;
            EXPECT_FALSE(form->Button1->isEnabled()) << key << " " << enabled;
            form->Button2->click();
        }
    }
    EXPECT_EQ(form->ComboBox1->count(), 27);  // nothing added to the list
}

// Centred in the screen's available area, never with the top-left corner
// outside it.
TEST(MainWindow, WindowsOpenCentredAndWithTheirCornerOnTheScreen) {
    struct Case {
        QSize window;
        QRect available;
        QPoint topLeft;
    };
    const std::vector<Case> cases = {
        {{592, 473}, {0, 0, 1024, 768}, {216, 147}},
        {{592, 473}, {0, 30, 1024, 738}, {216, 162}},     // a panel at the top
        {{592, 473}, {0, 0, 512, 384}, {0, 0}},           // twice the scale on 1024 x 768
        {{592, 473}, {100, 24, 512, 700}, {100, 137}},    // wider than the area only
        {{592, 473}, {-1024, 0, 1024, 768}, {-808, 147}}, // a screen left of the primary one
    };
    for (const Case& c : cases) EXPECT_EQ(app::centredTopLeft(c.window, c.available), c.topLeft) << c.available.x();
}

TEST(MainWindow, ClearQuestionReadsInChineseAndKeepsItsTexts) {
    StoreFile file(2);
    auto form = makeForm(file);
    form->show();
    ShownBox shown;
    answerNextBox(shown, QMessageBox::No);
    form->SpeedButton2->click();  // returns when the box closes
    EXPECT_EQ(shown.caption, QStringLiteral("清除数据"));
    EXPECT_EQ(shown.text, QStringLiteral("这项操作将删除您目前已经搜索到的所有数据！继续吗？"));
    ASSERT_EQ(shown.buttons.size(), 2);
    for (const QString& b : shown.buttons) {
        EXPECT_TRUE(b.contains(QStringLiteral("是")) || b.contains(QStringLiteral("否"))) << b.toStdString();
    }
    EXPECT_EQ(form->songStore().Count(), 2);
}

TEST(MainWindow, WindowFacesRenderInInstalledFacesOfTheirKind) {
    StoreFile file;
    auto form = makeForm(file);
    const auto family = [](const QFont& font) { return QFontInfo(font).family(); };
    const QString song = QStringLiteral("Noto Serif CJK SC");
    // The clerical face's stand-in: a brush script for Latin letters.
    const QString brush = QStringLiteral("Kaushan Script");
    const QString sans = QStringLiteral("DejaVu Sans Condensed");
    // Each name the windows ask for, and the face it must come out as.
    const std::vector<std::pair<QString, QString>> faces = {
        {QStringLiteral("宋体"), song}, {QStringLiteral("SimSun"), song}, {QStringLiteral("隶书"), brush},
        {QStringLiteral("LiSu"), brush}, {QStringLiteral("Tahoma"), sans}, {QStringLiteral("MS Sans Serif"), sans}};
    for (const auto& [asked, expected] : faces) EXPECT_EQ(family(QFont(asked)), expected) << asked.toStdString();

    EXPECT_EQ(family(form->SpeedButton4->font()), song);
    EXPECT_EQ(family(form->SpeedButton7->font()), brush);
    EXPECT_EQ(family(form->DBGrid1->horizontalHeader()->font()), song);
    EXPECT_EQ(family(form->DBGrid1->font()), sans);
}

// The logo's face draws Latin letters from the brush script (whose l is no
// 1) and Chinese ones, which that face lacks, from the Kai brush face.
TEST(MainWindow, TheLogoFaceTakesEachScriptFromItsOwnBrushFace) {
    StoreFile file;
    auto form = makeForm(file);
    QTextLayout layout(QStringLiteral("BrelvoMP3隶书"), form->SpeedButton7->font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    // The faces of a part of the text, as the font files name themselves.
    const auto faces = [&](int from, int length) {
        QStringList names;
        for (const QGlyphRun& run : layout.glyphRuns(from, length)) names << run.rawFont().familyName().toLower();
        return names;
    };
    EXPECT_EQ(faces(0, 9), QStringList{QStringLiteral("kaushan script")});
    EXPECT_EQ(faces(9, 2), QStringList{QStringLiteral("ar pl ukai cn")});
}

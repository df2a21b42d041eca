#include "app/WindowParts.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/MessageLog.h"
#include "app/PresetKeywords.h"
#include "app/WindowLook.h"

namespace app {
namespace {

// The log keeps its most recent lines; a search against a dead network adds
// hundreds a second.
constexpr int kLogLineLimit = 10000;

}  // namespace

ToolBarParts makeToolBar(QWidget* parent) {
    ToolBarParts parts{};
    parts.frame = new QFrame(parent);
    parts.frame->setObjectName(QStringLiteral("ToolBar1"));
    parts.frame->setFixedHeight(65);
    auto* bar = new QHBoxLayout(parts.frame);
    bar->setContentsMargins(2, 5, 2, 5);
    bar->setSpacing(0);
    parts.search = makeToolButton(parts.frame, "SpeedButton4", QStringLiteral("搜索"), Glyph::Search);
    parts.stop = makeToolButton(parts.frame, "SpeedButton3", QStringLiteral("停止"), Glyph::Stop);
    parts.clear = makeToolButton(parts.frame, "SpeedButton2", QStringLiteral("清除"), Glyph::Clear);
    parts.refresh = makeToolButton(parts.frame, "SpeedButton6", QStringLiteral("刷新"), Glyph::Refresh);
    parts.instructions = makeToolButton(parts.frame, "SpeedButton5", QStringLiteral("说明"), Glyph::Instructions);
    parts.exit = makeToolButton(parts.frame, "SpeedButton1", QStringLiteral("退出"), Glyph::Exit);
    for (QToolButton* b : {parts.search, parts.stop, parts.clear, parts.refresh, parts.instructions, parts.exit})
        bar->addWidget(b);
    parts.logo = makeLogoButton(parts.frame, "SpeedButton7");
    bar->addWidget(parts.logo);
    bar->addStretch(1);
    return parts;
}

KeywordPanelParts makeKeywordPanel(QWidget* parent) {
    KeywordPanelParts parts{};
    parts.frame = new QFrame(parent);
    parts.frame->setObjectName(QStringLiteral("Panel1"));
    parts.frame->setFixedHeight(49);
    parts.frame->setFrameShape(QFrame::Panel);
    parts.frame->setFrameShadow(QFrame::Raised);
    auto* row = new QHBoxLayout(parts.frame);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(6);

    parts.label = new QLabel(QStringLiteral("请输入关键词：") + kIdeographicSpace, parts.frame);
    parts.label->setObjectName(QStringLiteral("Label1"));
    parts.label->setFont(songFont(14, false));

    parts.keywords = new QComboBox(parts.frame);
    parts.keywords->setObjectName(QStringLiteral("ComboBox1"));
    parts.keywords->setEditable(true);
    parts.keywords->setInsertPolicy(QComboBox::NoInsert);
    parts.keywords->setFixedWidth(220);
    parts.keywords->addItems(presetKeywords());
    parts.keywords->setMaxVisibleItems(14);
    parts.keywords->setCurrentIndex(-1);
    parts.keywords->setEditText(QStringLiteral("月亮"));

    parts.search = makePanelButton(parts.frame, "Button1", QStringLiteral("搜索"), Glyph::Search);
    parts.stop = makePanelButton(parts.frame, "Button2", QStringLiteral("停止"), Glyph::Stop);

    row->addWidget(parts.label);
    row->addWidget(parts.keywords);
    row->addSpacing(8);
    row->addWidget(parts.search);
    row->addWidget(parts.stop);
    row->addStretch(1);
    return parts;
}

StatusBarParts makeStatusBar(QWidget* parent) {
    StatusBarParts parts{};
    parts.bar = new QStatusBar(parent);
    parts.bar->setObjectName(QStringLiteral("StatusBar1"));
    parts.bar->setSizeGripEnabled(false);
    parts.bar->setStyleSheet(QStringLiteral("QStatusBar { background-color: %1; } QStatusBar::item { border: 0px; }")
                                 .arg(kMoneyGreen));
    parts.text = new QLabel(QStringLiteral(" 下载请用鼠标 [右键] 点击歌名。歌曲保存在 downmp3文件夹里。"), parts.bar);
    parts.text->setObjectName(QStringLiteral("StatusText"));
    parts.text->setFont(songFont(12, false));
    parts.bar->addWidget(parts.text, 1);
    return parts;
}

QTabWidget* makePages(QWidget* parent) {
    auto* pages = new QTabWidget(parent);
    pages->setObjectName(QStringLiteral("PageControl1"));
    pages->setStyleSheet(QStringLiteral(
        "QTabBar::tab { border: 2px outset #D4D0C8; background: #D4D0C8; padding: 3px 2px; margin: 2px; }"
        "QTabBar::tab:selected { border-style: inset; background: #E8E4DC; }"
        "QTabWidget::pane { border: 0px; }"));
    return pages;
}

LogParts makeLog(QWidget* parent) {
    LogParts parts{};
    parts.frame = new QFrame(parent);
    parts.frame->setObjectName(QStringLiteral("Panel2"));
    auto* layout = new QVBoxLayout(parts.frame);
    layout->setContentsMargins(0, 0, 0, 0);
    parts.log = new MessageLog(parts.frame);
    parts.log->setObjectName(QStringLiteral("Memo1"));
    parts.log->setReadOnly(true);
    // Read-only, but still reached by Tab and scrolled with the keys.
    parts.log->setFocusPolicy(Qt::StrongFocus);
    parts.log->setMaximumBlockCount(kLogLineLimit);
    parts.log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    parts.log->setFont(songFont(12, false));
    layout->addWidget(parts.log);
    return parts;
}

}  // namespace app

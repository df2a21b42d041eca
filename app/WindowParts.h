#pragma once
// The main window's fixed parts, made with their look and laid out: the
// tool bar, the keyword panel and the status bar. The window keeps the
// widgets under their own names and wires them.
class QComboBox;
class QFrame;
class QLabel;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QWidget;

namespace app {

class MessageLog;

struct ToolBarParts {
    QFrame* frame;
    QToolButton* search;        // SpeedButton4
    QToolButton* stop;          // SpeedButton3
    QToolButton* clear;         // SpeedButton2
    QToolButton* refresh;       // SpeedButton6
    QToolButton* instructions;  // SpeedButton5
    QToolButton* exit;          // SpeedButton1
    QToolButton* logo;          // SpeedButton7
};
ToolBarParts makeToolBar(QWidget* parent);

struct KeywordPanelParts {
    QFrame* frame;
    QLabel* label;
    // Editable, holding the preset keywords and "月亮".
    QComboBox* keywords;
    QToolButton* search;
    QToolButton* stop;
};
KeywordPanelParts makeKeywordPanel(QWidget* parent);

struct StatusBarParts {
    QStatusBar* bar;
    QLabel* text;
};
StatusBarParts makeStatusBar(QWidget* parent);

// The pages (搜索结果, 下载列表), their tabs drawn as buttons.
QTabWidget* makePages(QWidget* parent);

// The message log in its frame: read-only, keeping its most recent lines.
struct LogParts {
    QFrame* frame;
    MessageLog* log;
};
LogParts makeLog(QWidget* parent);

}  // namespace app

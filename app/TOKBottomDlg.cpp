#include "app/TOKBottomDlg.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/ScreenPlacement.h"

namespace app {
namespace {
constexpr int kClientWidth = 388;
constexpr int kClientHeight = 251;
const QString kIdeographicSpace = QStringLiteral("\u3000");
}  // namespace

QString TOKBottomDlg::descriptionText() {
    const QString indentTitle = kIdeographicSpace.repeated(11);
    const QString indent = kIdeographicSpace.repeated(2);
    QStringList lines;
    lines << indentTitle + QStringLiteral("关于BrelvoMP3") << QString()
          << indent + QStringLiteral("BrelvoMP3是专门用来在网络搜索MP3文件的程序，程序根据用户设")
          << QStringLiteral("定的关键词进行搜索，关键词可以是歌曲名称，也可以是歌手的姓名。")
          << QStringLiteral("Brelvo搜索速度快、结果准确，使用数据库保存搜索结果，MP3歌曲可以")
          << QStringLiteral("保存在数据库里，也可以下载到本地硬盘。能够满足网友在网上快速搜")
          << QStringLiteral("索、下载MP3文件的需求，为找歌提供很多方便。")
          << indent + QStringLiteral("其它功能正在开发中，如果您在使用过程中有什么好的建议，请及")
          << QStringLiteral("时告诉我:") + QString::fromLatin1(kContactEmail);
    return lines.join(QLatin1Char('\n'));
}

TOKBottomDlg::TOKBottomDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("OKBottomDlg"));
    setWindowTitle(QStringLiteral("关于BrelvoMP3"));
    // The client area keeps its size; the dialog is that plus its frame.
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setFixedSize(kClientWidth, kClientHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(ClientArea);
    setStyleSheet(QStringLiteral("TOKBottomDlg, app--TOKBottomDlg { background-color: #C0DCC0; }"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xC0, 0xDC, 0xC0));
    setPalette(pal);

    Memo1 = new QPlainTextEdit(ClientArea);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(1, 1, 385, 201);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background-color: #FFFBF0; }"));
    QFont memoFont(QStringLiteral("MS Sans Serif"));
    memoFont.setPixelSize(13);
    // The description's lines were laid out for this box; the CJK fallback
    // fonts here run a little wider, so tighten them to keep each line whole.
    memoFont.setLetterSpacing(QFont::AbsoluteSpacing, -1.25);
    Memo1->setFont(memoFont);
    Memo1->document()->setDocumentMargin(1);
    Memo1->setPlainText(descriptionText());

    SpeedButton1 = new QToolButton(ClientArea);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("关闭窗口"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setGeometry((kClientWidth - 105) / 2, 201 + (kClientHeight - 201 - 30) / 2, 105, 30);
    QFont buttonFont(QStringLiteral("宋体"));
    buttonFont.setPixelSize(16);
    buttonFont.setBold(true);
    SpeedButton1->setFont(buttonFont);
    SpeedButton1->setStyleSheet(QStringLiteral("QToolButton { color: blue; }"));
    connect(SpeedButton1, &QToolButton::clicked, this, &QDialog::accept);
}

// Centred on the screen each time, at its size with its frame.
void TOKBottomDlg::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QDialog::showEvent(event);
}

}  // namespace app

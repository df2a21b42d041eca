#include "download/ui/TDlWebDownload.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "download/texts/DlProgressText.h"
#include "download/texts/DlTexts.h"
#include "download/ui/CaptionBar.h"
#include "download/ui/CopyAnimation.h"

namespace dl {

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, int left, int top) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    return label;
}

// A value label keeps its size; longer text is clipped.
QLabel* makeValueLabel(QWidget* parent, const char* name, QRect geometry) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, QRect geometry) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

}  // namespace

QString KilobyteFigure(double bytes, const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(bytes / 1024.0, 'f', 2);
}

TDlWebDownload::TDlWebDownload(QWidget* parent)
    // No frame from the window manager: some draw minimize, maximize and
    // close boxes on every frame they draw, whatever a window asks. The
    // window draws its own title bar, which has no buttons at all.
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("DlWebDownload"));
    setWindowTitle(QString::fromLatin1(kTextDownloadCaption));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    setFont(font);
    TitleBar = new CaptionBar(this);
    TitleBar->setGeometry(kFrameWidth, kFrameWidth, kClientWidth, CaptionBar::kHeight);
    ClientArea = new QWidget(this);
    ClientArea->setObjectName(QStringLiteral("ClientArea"));
    ClientArea->setGeometry(kFrameWidth, kFrameWidth + CaptionBar::kHeight, kClientWidth, kClientHeight);
    // The controls sit at fixed places: a larger window is only grey.
    setFixedSize(kClientWidth + 2 * kFrameWidth, kClientHeight + CaptionBar::kHeight + 2 * kFrameWidth);
    QWidget* const client = ClientArea;

    StopBtn = makeButton(client, "StopBtn", QRect(275, 137, 80, 24));
    ProgressBar = new QProgressBar(client);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(9, 86, 345, 11);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    Label1 = makeLabel(client, "Label1", 10, 67);
    DownloadLabel = makeValueLabel(client, "DownloadLabel", QRect(90, 67, 266, 13));
    TransferLabel = makeLabel(client, "TransferLabel", 9, 103);
    CPSLabel = makeValueLabel(client, "CPSLabel", QRect(90, 103, 143, 13));
    CloseBtn = makeButton(client, "CloseBtn", QRect(191, 137, 77, 24));
    Label2 = makeLabel(client, "Label2", 9, 119);
    SizeLabel = makeValueLabel(client, "SizeLabel", QRect(90, 119, 143, 13));
    CopyAnimate = new CopyAnimation(client);
    CopyAnimate->setObjectName(QStringLiteral("CopyAnimate"));
    CopyAnimate->setGeometry(9, 8, 346, 56);
    setTabOrder(StopBtn, CloseBtn);

    connect(StopBtn, &QPushButton::clicked, this, &TDlWebDownload::StopBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &TDlWebDownload::CloseBtnClick);
    FormCreate();
    StopBtn->setFocus(Qt::OtherFocusReason);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

TDlWebDownload::~TDlWebDownload() { UnhookDownloads(); }

void TDlWebDownload::FormCreate() {
    Downloads = nullptr;
    ProgressStep = 100;
    ProgressBase = 0;
    OnFinished = nullptr;
    ResultCode = mrOk;
    AutoClose = true;
    Label1->setText(QString::fromLatin1(kTextDownloadLabel));
    TransferLabel->setText(QString::fromLatin1(kTextTransferRate));
    Label2->setText(QString::fromLatin1(kTextTotalSize));
    CloseBtn->setText(QString::fromLatin1(kTextClose));
    StopBtn->setText(QString::fromLatin1(kTextCancel));
    for (QLabel* label : {Label1, TransferLabel, Label2}) label->adjustSize();
    CopyAnimate->raise();
}

void TDlWebDownload::HookDownloads() {
    if (!Downloads) return;
    Downloads->WatchItemProgress = [this](TDlDownloadItem& item) { ShowItemProgress(item); };
    Downloads->WatchAllDone = [this](TDlDownloads& downloads) { RunDone(downloads); };
    hooked_ = true;
}

void TDlWebDownload::UnhookDownloads() {
    if (!hooked_ || !Downloads) return;
    Downloads->WatchItemProgress = nullptr;
    Downloads->WatchAllDone = nullptr;
    hooked_ = false;
}

void TDlWebDownload::showEvent(QShowEvent* event) {
    // Transient for the window the download was started from, so that the
    // window manager keeps the two together (above it, minimized with it).
    if (QWindow* own = windowHandle(); own && !own->transientParent()) {
        QWidget* owner = OwnerWindow ? OwnerWindow->window() : QApplication::activeWindow();
        if (owner && owner != this && owner->windowHandle()) own->setTransientParent(owner->windowHandle());
    }
    QDialog::showEvent(event);
    // One run per window, however often the window system shows it again.
    if (started_) return;
    started_ = true;
    StartRun();
}

void TDlWebDownload::StartRun() {
    ResultCode = mrOk;
    CopyAnimate->play();
    StopBtn->setEnabled(true);
    if (Downloads) {
        Downloads->ThreadCount = 1;
        Downloads->StartAsync();
    }
    UpdateButtons();
}

void TDlWebDownload::UpdateButtons() {
    CloseBtn->setEnabled(Downloads && Downloads->RunState == rsFinished);
    StopBtn->setEnabled(!CloseBtn->isEnabled());
}

void TDlWebDownload::ShowItemProgress(TDlDownloadItem& item) {
    // Cancelled: the display stays as it was. A Cancel that came before the
    // run had begun is carried out now that it has.
    if (ResultCode == mrCancel) {
        if (Downloads && !Downloads->Stopping) Downloads->Stop();
        return;
    }
    if (!Downloads) return;
    std::int64_t sum = 0;
    const int count = Downloads->Count();
    for (int i = 0; i < count; ++i) {
        const TDlDownloadItem& each = Downloads->Items(i);
        switch (each.Progress.State.load()) {
            case dsRunning:
            case dsFinished: sum += each.Progress.Percent.load(); break;
            case dsFailed: sum += 100; break;
            case dsWaiting: break;
        }
    }
    DownloadLabel->setText(QString::fromStdString(DownloadLabelText(item.Request.URL)));
    CPSLabel->setText(KilobyteFigure(Downloads->TransferRate()) + QStringLiteral(" Kb/s"));
    SizeLabel->setText(KilobyteFigure(static_cast<double>(Downloads->BytesReceived.load())) + QStringLiteral(" Kb"));
    ProgressBar->setValue(ProgressPosition(ProgressStep, sum, count) + ProgressBase);
}

void TDlWebDownload::RunDone(TDlDownloads&) {
    UpdateButtons();
    ProgressBase += ProgressStep;
    ProgressBar->setValue(ProgressBase);
    CopyAnimate->stop();
    // Full unless another run may follow in this window (OnFinished decides).
    const bool announce = OnFinished && ResultCode == mrOk;
    if (!announce) ProgressBar->setValue(ProgressBar->maximum());
    if (announce) {
        // The manager thread waits in the notifier until this returns, so the
        // wait for it belongs to a later call of its own.
        QMetaObject::invokeMethod(this, [this] { AnnounceFinished(); }, Qt::QueuedConnection);
    } else if (AutoClose) {
        close();
    }
}

void TDlWebDownload::AnnounceFinished() {
    if (!OnFinished) return;
    if (Downloads) Downloads->WaitForRun();
    OnFinished(*this);
}

void TDlWebDownload::StopBtnClick() {
    ResultCode = mrCancel;
    StopBtn->setEnabled(false);
    if (Downloads) Downloads->Stop();
}

void TDlWebDownload::CloseBtnClick() { close(); }

void TDlWebDownload::Abandon() {
    StopBtnClick();
    close();
}

void TDlWebDownload::SetRunCount(int count) {
    ProgressBar->setRange(0, ProgressStep * std::max(count, 1));
}

bool TDlWebDownload::runEnded() const { return !started_ || !Downloads || Downloads->RunState == rsFinished; }

void TDlWebDownload::closeEvent(QCloseEvent* event) {
    // Without title-bar buttons only Cancel ends a run: a close asked for by
    // the window system (Alt+F4) waits until the run has ended.
    if (event->spontaneous() && !runEnded()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TDlWebDownload::FormClose() {
    CopyAnimate->stop();
    UnhookDownloads();
    // Hiding the window ends its modal loop with this result.
    setResult(ResultCode);
}

void TDlWebDownload::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The frame: one dark line round the window, as a thin window border.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Active, QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TDlWebDownload::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (TitleBar && (event->type() == QEvent::WindowTitleChange || event->type() == QEvent::ActivationChange))
        TitleBar->update();
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || runEnded()) return;
    // Checked once the window system's other changes of this moment have come
    // in: the window it belongs to may be minimized along with it.
    QMetaObject::invokeMethod(this, [this] { restoreIfMinimizedAway(); }, Qt::QueuedConnection);
}

// Minimized on its own, the window would leave the main window waiting
// without a visible reason; minimized with its owner, it comes back with it.
void TDlWebDownload::restoreIfMinimizedAway() {
    if (!isVisible() || !isMinimized() || runEnded()) return;
    const QWindow* own = windowHandle();
    const QWindow* owner = own ? own->transientParent() : nullptr;
    if (owner && (owner->windowStates() & Qt::WindowMinimized)) return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

void TDlWebDownload::keyPressEvent(QKeyEvent* event) {
    // No cancel key: Escape does nothing.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace dl

#pragma once
// The download progress window: shown modally for one download, it starts
// the collection's run when it appears, shows what is fetched, how fast and
// how much has arrived, lets the user cancel, and closes itself when the run
// has ended. Every call reaches it on the UI thread: the run's reports come
// through the collection's notifier while the reporting thread waits.
#include <cstdint>
#include <functional>

#include <QDialog>
#include <QLocale>
#include <QString>

#include "download/engine/TDlDownloads.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace dl {

// A byte count in kilobytes, as the rate and size labels show it: two
// decimals in the locale's decimal separator, no grouping; 1536 gives "1.50".
QString KilobyteFigure(double bytes, const QLocale& locale = QLocale::system());

class CaptionBar;
class CopyAnimation;

// The modal result the window ends with.
enum TDlModalResult : std::int32_t { mrOk = 1, mrCancel = 2 };

class TDlWebDownload : public QDialog {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TDlWebDownload& sender)>;

    // Client area, in pixels whatever the screen density.
    static constexpr int kClientWidth = 361;
    static constexpr int kClientHeight = 168;
    // The window draws its own frame and title bar round the client area.
    static constexpr int kFrameWidth = 1;

    // Centred on the screen, captioned "Download" until told otherwise.
    explicit TDlWebDownload(QWidget* parent = nullptr);
    // Stops listening to the collection if it still does.
    ~TDlWebDownload() override;

    // Controls, in the order they are declared on the window.
    QPushButton* StopBtn = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* DownloadLabel = nullptr;
    QLabel* TransferLabel = nullptr;
    QLabel* CPSLabel = nullptr;
    QPushButton* CloseBtn = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* SizeLabel = nullptr;
    CopyAnimation* CopyAnimate = nullptr;
    // The title bar, with the window's caption and no buttons, and the
    // client area below it that holds the controls above.
    CaptionBar* TitleBar = nullptr;
    QWidget* ClientArea = nullptr;

    // When set, the end of a run that was not cancelled is announced through
    // it (by a posted call) instead of closing the window.
    TNotifyEvent OnFinished;
    // Close the window when the run ends.
    bool AutoClose = true;
    // The modal result the window will end with: OK, or Cancel once pressed.
    TDlModalResult ResultCode = mrOk;
    // Bar position reached by runs already finished in this window.
    std::int32_t ProgressBase = 0;
    // Share of the bar one run is given.
    std::int32_t ProgressStep = 100;
    // The collection whose run the window drives; not owned.
    TDlDownloads* Downloads = nullptr;
    // The window it is transient for; none: the one active when it shows.
    QWidget* OwnerWindow = nullptr;

    // Makes the window the collection's second listener, beside its own
    // handlers (which it never replaces, so the component hears every
    // report whatever the window does).
    void HookDownloads();
    // Stops listening; nothing when not hooked.
    void UnhookDownloads();
    // Starts the run (one download thread); called when the window is shown.
    void StartRun();
    void UpdateButtons();
    // Told of each report while the window is up, after the collection's
    // own handler.
    void ShowItemProgress(TDlDownloadItem& item);
    // Told of the run's end while the window is up, before the collection's
    // own end handler.
    void RunDone(TDlDownloads& downloads);
    void StopBtnClick();
    void CloseBtnClick();
    // For an owner going away: cancels the run as Cancel does and closes the
    // window at once, without waiting for the run to wind down.
    void Abandon();
    // The window is to serve `count` runs, one after another (OnFinished
    // starts each next one): the bar covers them all, ProgressStep each.
    void SetRunCount(int count);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    // The call RunDone posts to the window itself.
    void AnnounceFinished();
    bool runEnded() const;
    // Shown again when minimized alone while its run goes on.
    void restoreIfMinimizedAway();

    bool hooked_ = false;
    bool started_ = false;
};

}  // namespace dl

#include "download/ui/TDlWebHTTPGet.h"

#include <memory>

#include <QString>

#include "download/ui/TDlWebDownload.h"

namespace dl {

bool TDlWebHTTPGet::Execute() {
    if (window_) return false;  // one progress window at a time
    return ShowProgressWindow(1, nullptr);
}

bool TDlWebHTTPGet::ExecuteBatch(int count, const TDlBatchPrepare& prepare, const TDlBatchEnded& ended) {
    if (window_ || count < 1) return false;
    int index = 0;
    prepare(index);
    // Announced after each run that was not cancelled, once its manager
    // thread has ended: tell it, then start the next one in the same window.
    const bool finished = ShowProgressWindow(count, [&](TDlWebDownload& form) {
        ended(index, false);
        if (++index >= count || !form.isVisible()) {
            form.CloseBtnClick();
            return;
        }
        prepare(index);
        if (!Caption.empty()) form.setWindowTitle(QString::fromStdString(Caption));
        Downloads().ResetFinished();
        Download(true, false);
        form.StartRun();
    });
    // Cancelled, or closed in the moment between two runs: the download of
    // that moment is told all the same.
    if (index < count) ended(index, !finished);
    return finished;
}

bool TDlWebHTTPGet::ShowProgressWindow(int runs, std::function<void(TDlWebDownload&)> onFinished) {
    Downloads().ResetFinished();
    auto window = std::make_unique<TDlWebDownload>();
    window->Downloads = &Downloads();
    window->SetRunCount(runs);
    window->OwnerWindow = ProgressWindowOwner;
    if (!Caption.empty()) window->setWindowTitle(QString::fromStdString(Caption));
    if (OnCustomizeForm) OnCustomizeForm(*this, *window);
    window->HookDownloads();
    if (onFinished) window->OnFinished = std::move(onFinished);
    Download(true, false);
    window_ = window.get();
    // Whatever ends the modal loop, the run is over and the window gone
    // before this returns.
    struct Ending {
        TDlWebHTTPGet& self;
        TDlWebDownload& window;
        ~Ending() {
            window.UnhookDownloads();
            self.FinishRun();
            self.window_ = nullptr;
        }
    } ending{*this, *window};
    return window->exec() == mrOk;
}

void TDlWebHTTPGet::FinishRun() {
    if (Downloads().RunState != rsFinished) {
        // The window went before its run ended (Abort, or the application
        // ending its event loops). The run is cancelled; a report that still
        // comes, also one from a run only now beginning, stops it, so nothing
        // more is written.
        TDlDownloads& downloads = Downloads();
        const auto itemProgress = downloads.OnItemProgress.get();
        downloads.OnItemProgress = [&downloads](TDlDownloadItem&) {
            if (!downloads.Stopping) downloads.Stop();
        };
        downloads.Stop();
        downloads.WaitForRun();
        downloads.OnItemProgress = itemProgress;
        return;
    }
    Downloads().WaitForRun();
}

void TDlWebHTTPGet::Abort() {
    if (window_) window_->Abandon();
}

}  // namespace dl

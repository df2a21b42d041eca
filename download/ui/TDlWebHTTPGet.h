#pragma once
// The download component with its progress window: what the main window
// downloads through. Execute shows the window modally for one download,
// ExecuteBatch for several one after another; the component itself (limits,
// names, the file, page mode) is DownloadComponent. Everything here runs on
// the UI thread; create and destroy it there.
#include <functional>
#include <string>

#include "download/component/DownloadComponent.h"

class QWidget;

namespace dl {

class TDlWebDownload;
class TDlWebHTTPGet;

using TOnCustomizeForm = std::function<void(TDlWebHTTPGet& sender, TDlWebDownload& dlWebDownload)>;
// A step of ExecuteBatch, given the download's place in the batch.
using TDlBatchPrepare = std::function<void(int index)>;
using TDlBatchEnded = std::function<void(int index, bool cancelled)>;

class TDlWebHTTPGet : public DownloadComponent {
public:
    TDlWebHTTPGet() = default;

    // ---- published properties ----
    std::string Caption;  // the progress window's caption; empty keeps "Download"
    TOnCustomizeForm OnCustomizeForm;
    // The window downloads are started from: the progress window is kept
    // transient for it (with the window manager, above it and minimized
    // with it). None: the window active when it shows.
    QWidget* ProgressWindowOwner = nullptr;

    // ---- operations ----
    // Downloads with the progress window, modally; returns when the window
    // has closed and the run has ended. True unless the user pressed Cancel.
    bool Execute();
    // Several downloads one after another in one showing of the progress
    // window, each a run of its own. Before each, `prepare(index)` sets URL,
    // DownloadDir, DestinationName and Caption as for Execute; after each
    // that has ended, `ended(index, cancelled)` may read CurrentItem() and
    // Document(). Cancel (or Abort) ends the whole batch: the download it
    // stopped is told as cancelled, the later ones are never started. True
    // unless cancelled.
    bool ExecuteBatch(int count, const TDlBatchPrepare& prepare, const TDlBatchEnded& ended);
    // For an owner that is going away during Execute: the download ends as
    // if cancelled, its window closes at once, and Execute returns false as
    // soon as the run has wound down. Nothing when no window is up.
    void Abort();

private:
    // Shows the progress window modally for `runs` runs of the collection
    // (the first prepared here; `onFinished` starts the others) and ends the
    // run whatever ends the window. True unless cancelled.
    bool ShowProgressWindow(int runs, std::function<void(TDlWebDownload&)> onFinished);
    void FinishRun();

    TDlWebDownload* window_ = nullptr;  // the progress window while Execute shows it
};

}  // namespace dl

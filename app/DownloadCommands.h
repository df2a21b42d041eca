#pragma once
// The pop-up menu's modal download commands and their dialogs: 下载歌曲,
// 下载到... (one song or a batch), 在IE中打开链接 and 打开下载文件夹. Each
// hands the songs it is given to the download component with its progress
// window, or to the desktop, and tells the outcome in the log. UI thread only.
#include <functional>
#include <string>

#include <QList>
#include <QString>

class QFileDialog;
class QUrl;
class QWidget;

namespace dl {
class TDlWebHTTPGet;
}

namespace app {

class FinishedSongRecorder;

// Download song saves into this folder of the working directory.
inline constexpr const char* kDownloadFolder = "downmp3/";

// The download address and title of the grid's current row: the last one
// clicked, or reached by the wheel or the keys.
struct SelectedSong {
    QString url;
    QString title;
};

class DownloadCommands {
public:
    using SongsSource = std::function<QList<SelectedSong>()>;
    using LogLine = std::function<void(const QString&)>;

    // `window` owns the dialogs and the message box; `songs` gives the songs
    // a command acts on; `log` appends one line to the message log.
    DownloadCommands(QWidget& window, dl::TDlWebHTTPGet& httpGet, SongsSource songs, LogLine log);
    ~DownloadCommands();
    DownloadCommands(const DownloadCommands&) = delete;
    DownloadCommands& operator=(const DownloadCommands&) = delete;

    // The component as the window holds it: the program's connection
    // settings, the download folder, no size limit, its progress window
    // kept with `owner`.
    static void applyProgramSettings(dl::TDlWebHTTPGet& httpGet, QWidget& owner);

    // The commands.
    void downloadSong();        // 下载歌曲
    void downloadTo();          // 下载到...
    void openInBrowser();       // 在IE中打开链接
    void openDownloadFolder();  // 打开下载文件夹
    // Opens `url` with the desktop's default program; logs when none could.
    void openLink(const QString& url);
    // 在IE中打开链接 asks first for more rows than this.
    static constexpr int kOpenWithoutAsking = 10;
    // Asks a yes-or-no question in a message box; true means Yes.
    bool ask(const QString& caption, const QString& text) { return ask_(caption, text); }
    // True while the progress window is up.
    bool downloading() const { return downloading_; }

    // Replaceable for tests: the browser, the Save dialog (opened on the
    // proposed full file name: the chosen one, or empty on cancel), the
    // folder dialog (the folder, or empty), the file manager, the message box.
    void setUrlOpener(std::function<bool(const QString&)> opener) { openUrl_ = std::move(opener); }
    void setSaveFileChooser(std::function<QString(const QString&)> chooser) { chooseSaveFile_ = std::move(chooser); }
    void setFolderChooser(std::function<QString()> chooser) { chooseFolder_ = std::move(chooser); }
    void setFolderOpener(std::function<bool(const QUrl&)> opener) { openFolder_ = std::move(opener); }
    void setMessageShower(std::function<void(const QString&, const QString&)> shower) {
        showMessage_ = std::move(shower);
    }
    // The questions' box: caption and text in, true for Yes.
    void setAsker(std::function<bool(const QString&, const QString&)> asker) { ask_ = std::move(asker); }
    // Asked before each song is downloaded into `folder` under `fileName`:
    // true when something else (the downloads list) fetches it there
    // already and has said so; the song is then left out. None: never.
    using FetchedElsewhere = std::function<bool(const SelectedSong&, const std::string& folder, const QString& fileName)>;
    void setFetchedElsewhere(FetchedElsewhere check) { fetchedElsewhere_ = std::move(check); }
    // Told of each song that ends (it records the saved ones); none: nobody.
    void setFinishedRecorder(FinishedSongRecorder* recorder) { finished_ = recorder; }

private:
    // True, after a log line, for a song that is not handed to the component:
    // one whose address names a local file, or one fetched elsewhere.
    bool leftOut(const SelectedSong& song, const std::string& folder, const QString& fileName);
    // Hands `song` to the component for `folder` (ending in a separator)
    // under `fileName`, downloads it with the progress window and logs it.
    void downloadOne(const SelectedSong& song, const std::string& folder, const QString& fileName);
    // Downloads `songs` into `folder` (ending in a separator), each under its
    // title, in one showing of the progress window; logs each and a summary.
    void downloadBatch(const QList<SelectedSong>& songs, const std::string& folder);
    struct BatchCounts;
    void logOutcome(const QString& title, bool cancelled, BatchCounts* counts);
    QString runSaveDialog(const QString& proposed);
    QString runFolderDialog();

    QWidget& window_;
    dl::TDlWebHTTPGet& httpGet_;
    SongsSource songs_;
    LogLine log_;
    std::function<bool(const QString&)> openUrl_;
    std::function<QString(const QString&)> chooseSaveFile_;
    std::function<QString()> chooseFolder_;
    std::function<bool(const QUrl&)> openFolder_;
    std::function<void(const QString&, const QString&)> showMessage_;
    std::function<bool(const QString&, const QString&)> ask_;
    FetchedElsewhere fetchedElsewhere_;
    FinishedSongRecorder* finished_ = nullptr;
    // Made when first needed, owned by the window.
    QFileDialog* saveDlg_ = nullptr;
    QFileDialog* folderDlg_ = nullptr;
    bool downloading_ = false;
};

}  // namespace app

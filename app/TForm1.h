#pragma once
// The main window: toolbar, keyword panel, results grid, message log and
// status bar. It owns the song store, the search and the page-fetch client.
#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "search/SearchState.h"
#include "search/pipeline/PageFetcher.h"
#include "search/pipeline/SearchUi.h"

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class QPlainTextEdit;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolButton;
class QFrame;
class QFileDialog;
class QUrl;

namespace store {
class SongStore;
class SongTableModel;
class TDBGrid3D;
}  // namespace store
namespace search {
class SearchPipeline;
}
namespace dl {
class TDlWebHTTPGet;
}

namespace app {

class BlockedCloseFilter;
class DownloadList;
class DownloadListView;
class MessageLog;
class TOKBottomDlg;

// The download address and title of the grid's current row: the last one
// clicked, or reached by the wheel or the keys.
struct SelectedSong {
    QString url;
    QString title;
};

class TForm1 : public QWidget, public search::SearchUi {
    Q_OBJECT
public:
    // Opens the store at `storePath` (throws store::StoreError when it cannot
    // be used), builds the window and runs the creation handler. `fetcher`
    // fetches result pages; the program passes its HTTP client's.
    TForm1(const std::string& storePath, std::unique_ptr<search::PageFetcher> fetcher,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // The about dialog the Instructions command shows.
    void setAboutDialog(TOKBottomDlg* dialog) { aboutDialog_ = dialog; }
    // Asks the Clear question; true means Yes. Replaceable for tests.
    void setClearConfirmer(std::function<bool()> confirmer) { confirmClear_ = std::move(confirmer); }
    // Opens an address in the default browser; false when no program could.
    // Replaceable for tests.
    void setUrlOpener(std::function<bool(const QString&)> opener) { openUrl_ = std::move(opener); }
    // Asks where Download to saves the song (the Save dialog, opened on the
    // proposed full file name): the full file name, or empty when the user
    // cancels. Replaceable for tests.
    void setSaveFileChooser(std::function<QString(const QString& proposed)> chooser) {
        chooseSaveFile_ = std::move(chooser);
    }
    // Asks in which folder Download to saves several songs (the folder
    // dialog): the folder, or empty when the user cancels. Replaceable for tests.
    void setFolderChooser(std::function<QString()> chooser) { chooseFolder_ = std::move(chooser); }
    // Opens a folder with the desktop's file manager; false when it could
    // not. Replaceable for tests.
    void setFolderOpener(std::function<bool(const QUrl&)> opener) { openFolder_ = std::move(opener); }
    // Shows an OK message box (caption, text) owned by the window.
    // Replaceable for tests.
    void setMessageShower(std::function<void(const QString&, const QString&)> shower) {
        showMessage_ = std::move(shower);
    }

    store::SongStore& songStore() { return *store_; }
    search::SearchState& searchState() { return state_; }
    search::SearchPipeline& pipeline() { return *pipeline_; }
    DownloadList& downloadList() { return *downloadList_; }
    const SelectedSong& selectedSong() const { return selected_; }
    // The songs the pop-up menu's commands act on: the selected rows, top to
    // bottom; the selected song when no row is selected.
    QList<SelectedSong> songsToDownload() const;
    // The window manager asked to close the window `windowId` (X11), which Qt
    // does not pass on while a modal dialog blocks the window. During a
    // download this window then closes all the same.
    void windowSystemCloseRequested(quintptr windowId);
    QStringList logLines() const;

    // SearchUi (UI thread only).
    void appendLog(const std::string& utf8Line) override;
    std::string keywordText() override;
    void setSearchEnabled(bool enabled) override;
    void setStopEnabled(bool enabled) override;
    int requeryAndCount() override;

    // Controls, named as on the window.
    QFrame* ToolBar1 = nullptr;
    QToolButton* SpeedButton4 = nullptr;  // Search
    QToolButton* SpeedButton3 = nullptr;  // Stop
    QToolButton* SpeedButton2 = nullptr;  // Clear
    QToolButton* SpeedButton6 = nullptr;  // Refresh
    QToolButton* SpeedButton5 = nullptr;  // Instructions
    QToolButton* SpeedButton1 = nullptr;  // Exit
    QToolButton* SpeedButton7 = nullptr;  // Home page
    QFrame* Panel1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QToolButton* Button1 = nullptr;  // Search
    QToolButton* Button2 = nullptr;  // Stop
    QTabWidget* PageControl1 = nullptr;
    store::TDBGrid3D* DBGrid1 = nullptr;
    DownloadListView* DownloadListView1 = nullptr;  // the downloads list's page
    QSplitter* Splitter4 = nullptr;
    QFrame* Panel2 = nullptr;
    MessageLog* Memo1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusText = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N7 = nullptr;   // download song
    QAction* AddToList1 = nullptr;  // add to the downloads list
    QAction* N2 = nullptr;   // download to
    QAction* IE1 = nullptr;  // open link in the browser
    QAction* OpenFolder1 = nullptr;  // open the download folder
    // The download component, with the program's settings; owned.
    dl::TDlWebHTTPGet* HTTPGet1 = nullptr;
    // Download to's Save dialog, made when first needed.
    QFileDialog* SaveDlg = nullptr;
    // Download to's folder dialog for several songs, made when first needed.
    QFileDialog* FolderDlg = nullptr;

    // Handlers.
    void FormCreate();
    void Button1Click();
    void Button2Click();
    void SpeedButton2Click();
    void SpeedButton6Click();
    void SpeedButton5Click();
    void SpeedButton1Click();
    void SpeedButton7Click();
    void DBGrid1CellClick();
    void N7Click();
    void AddToList1Click();
    void N2Click();
    void IE1Click();
    void OpenFolder1Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolBar();
    void buildKeywordPanel();
    void buildResultsAndLog();
    void buildStatusBar();
    void buildPopupMenu();
    void buildDownloadComponent();
    QString runSaveDialog(const QString& proposed);
    // Opens `url` with the desktop's default program; logs when none could.
    void openLink(const QString& url);
    QString runFolderDialog();
    void setSelectedSong(int row);
    // Hands `song` to HTTPGet1 for `folder` (ending in a separator) under
    // `fileName`, downloads it with the progress window and logs the outcome.
    void downloadSong(const SelectedSong& song, const std::string& folder, const QString& fileName);
    // Downloads `songs` into `folder` (ending in a separator), each under its
    // title, in one showing of the progress window; logs each outcome and a
    // summary.
    void downloadSongs(const QList<SelectedSong>& songs, const std::string& folder);
    // When the downloads list is fetching `song` into that file already:
    // says so, shows its row and returns true (a second transfer would
    // write the same file at once).
    bool showFetchedByList(const SelectedSong& song, const std::string& folder, const QString& fileName);
    void logOutcome(const QString& title, bool cancelled, int* saved, int* pages, int* failed);

    std::unique_ptr<store::SongStore> store_;
    std::unique_ptr<search::PageFetcher> fetcher_;
    search::SearchState state_;
    std::unique_ptr<search::SearchPipeline> pipeline_;
    // Owned here, not by the grid: it must go before the store it reads.
    std::unique_ptr<store::SongTableModel> model_;
    TOKBottomDlg* aboutDialog_ = nullptr;
    SelectedSong selected_;
    std::function<bool()> confirmClear_;
    std::function<bool(const QString&)> openUrl_;
    std::function<QString(const QString&)> chooseSaveFile_;
    std::function<QString()> chooseFolder_;
    std::function<bool(const QUrl&)> openFolder_;
    std::function<void(const QString&, const QString&)> showMessage_;
    std::unique_ptr<dl::TDlWebHTTPGet> httpGet_;
    // The downloads list, with its own store connection and downloads.
    std::unique_ptr<DownloadList> downloadList_;
    // True while the progress window is up.
    bool downloading_ = false;
    std::unique_ptr<BlockedCloseFilter> closeFilter_;
};

// The 27 entries of the keyword box's list.
QStringList presetKeywords();

}  // namespace app

#pragma once
// The main window: toolbar, keyword panel, results grid, message log and
// status bar. It owns the song store, the search and the page-fetch client.
#include <functional>
#include <memory>
#include <string>

#include <QWidget>

#include "app/DownloadCommands.h"
#include "app/PresetKeywords.h"
#include "app/ResultsMarks.h"
#include "app/WindowQuestions.h"
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

namespace store {
class FinishedSongChecker;
class GridFinishedSongs;
class GridVerdictLoader;
class GridVerdicts;
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
class DesktopNotifier;
class DownloadList;
class DownloadListView;
class GridLinkChecks;
class ListDoneNotifier;
class MessageLog;
class TOKBottomDlg;

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
    // The download commands' browser, Save and folder dialogs, file manager
    // and message box (DownloadCommands.h). Replaceable for tests.
    void setUrlOpener(std::function<bool(const QString&)> opener) { commands_->setUrlOpener(std::move(opener)); }
    void setSaveFileChooser(std::function<QString(const QString&)> chooser) {
        commands_->setSaveFileChooser(std::move(chooser));
    }
    void setFolderChooser(std::function<QString()> chooser) { commands_->setFolderChooser(std::move(chooser)); }
    void setFolderOpener(std::function<bool(const QUrl&)> opener) { commands_->setFolderOpener(std::move(opener)); }
    void setMessageShower(std::function<void(const QString&, const QString&)> shower) {
        commands_->setMessageShower(std::move(shower));
    }
    // The yes-or-no questions of the pop-up menu's commands (加入下载列表
    // above DownloadList::kAskAbove songs, 在IE中打开链接 above
    // DownloadCommands::kOpenWithoutAsking rows). Replaceable for tests.
    void setAsker(std::function<bool(const QString&, const QString&)> asker) { commands_->setAsker(std::move(asker)); }
    // The question asked when the user closes the window while `songs` of
    // the downloads list download; true means 退出. Replaceable for tests.
    void setQuitConfirmer(std::function<bool(int songs)> confirmer) { confirmQuit_ = std::move(confirmer); }
    // The text of that question.
    static QString quitQuestion(int songs) { return app::quitQuestion(songs); }

    store::SongStore& songStore() { return *store_; }
    search::SearchState& searchState() { return state_; }
    search::SearchPipeline& pipeline() { return *pipeline_; }
    DownloadList& downloadList() { return *downloadList_; }
    DesktopNotifier& desktopNotifier() { return *desktopNotifier_; }
    // The links' verdicts the grid shows, and 检查链接's probes.
    store::GridVerdicts& gridVerdicts() { return marks_->verdicts(); }
    store::GridVerdictLoader& verdictLoader() { return marks_->verdictLoader(); }
    GridLinkChecks& linkChecks() { return marks_->linkChecks(); }
    // The songs already downloaded the grid marks, and their files' checker.
    store::GridFinishedSongs& finishedSongs() { return marks_->finishedSongs(); }
    store::FinishedSongChecker& finishedChecker() { return marks_->finishedChecker(); }
    const SelectedSong& selectedSong() const { return selected_; }
    // The songs the pop-up menu's commands act on: the selected rows, top to
    // bottom; the selected song when no row is selected.
    QList<SelectedSong> songsToDownload() const;
    // The window manager asked to close the window `windowId` (X11), which Qt
    // does not pass on while a modal dialog blocks the window. During a
    // download this window then closes all the same.
    void windowSystemCloseRequested(quintptr windowId);
    // Brings the window up with the downloads list's page shown (a click on
    // the list's notification).
    void showDownloadList();
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
    QAction* CheckLinks1 = nullptr;  // check the links
    QAction* N2 = nullptr;   // download to
    QAction* IE1 = nullptr;  // open link in the browser
    QAction* OpenFolder1 = nullptr;  // open the download folder
    QAction* MergeSongs1 = nullptr;  // one row per song (checkable)
    // The download component, with the program's settings; owned.
    dl::TDlWebHTTPGet* HTTPGet1 = nullptr;

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
    // The pop-up menu's download commands (DownloadCommands).
    void N7Click() { commands_->downloadSong(); }
    void N2Click() { commands_->downloadTo(); }
    void IE1Click() { commands_->openInBrowser(); }
    void OpenFolder1Click() { commands_->openDownloadFolder(); }
    void AddToList1Click();
    void CheckLinks1Click();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolBar();
    void buildKeywordPanel();
    void buildResultsAndLog();
    void buildStatusBar();
    void buildPopupMenu();
    void buildDownloadComponent();
    void setSelectedSong(int row);
    // The size the user gave the window, and the list's column widths,
    // kept for the next start (WindowSettings.h).
    void restoreKeptSize();
    void keepSize();
    // When the downloads list is fetching `song` into that file already:
    // says so, shows its row and returns true (a second transfer would
    // write the same file at once).
    bool showFetchedByList(const SelectedSong& song, const std::string& folder, const QString& fileName);
    // The user asked to close: true to close, after asking when the list's
    // songs download. Never asked once the session ends.
    bool mayClose();

    std::unique_ptr<store::SongStore> store_;
    std::unique_ptr<search::PageFetcher> fetcher_;
    search::SearchState state_;
    std::unique_ptr<search::SearchPipeline> pipeline_;
    // What the grid's rows show of their links and of songs already
    // downloaded; outlives the model. Its recorder is told by the list and
    // the modal commands, and goes after them.
    std::unique_ptr<ResultsMarks> marks_;
    // Owned here, not by the grid: it must go before the store it reads.
    std::unique_ptr<store::SongTableModel> model_;
    TOKBottomDlg* aboutDialog_ = nullptr;
    SelectedSong selected_;
    std::function<bool()> confirmClear_;
    std::unique_ptr<dl::TDlWebHTTPGet> httpGet_;
    // The pop-up menu's modal download commands, on httpGet_.
    std::unique_ptr<DownloadCommands> commands_;
    // The downloads list, with its own store connection and downloads.
    std::unique_ptr<DownloadList> downloadList_;
    // The notification when the list has run empty; go before the list.
    std::unique_ptr<DesktopNotifier> desktopNotifier_;
    std::unique_ptr<ListDoneNotifier> listDone_;
    std::function<bool(int)> confirmQuit_;
    bool sessionEnding_ = false;
    bool closed_ = false;
    std::unique_ptr<BlockedCloseFilter> closeFilter_;
};

}  // namespace app

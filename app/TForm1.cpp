#include "app/TForm1.h"

#include <algorithm>
#include <vector>

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QSessionManager>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppInfo.h"
#include "app/BlockedCloseFilter.h"
#include "app/DesktopNotifier.h"
#include "app/DownloadList.h"
#include "app/DownloadListView.h"
#include "app/Glyphs.h"
#include "app/GridLinkChecks.h"
#include "app/ResultsMarks.h"
#include "app/ListDoneNotifier.h"
#include "app/ListQueueDownloader.h"
#include "app/ListSettings.h"
#include "app/StoreNextLinkFinder.h"
#include "app/MessageLog.h"
#include "app/RoomSplitter.h"
#include "app/ScreenPlacement.h"
#include "app/SelectedRows.h"
#include "app/TOKBottomDlg.h"
#include "app/WindowLook.h"
#include "app/WindowParts.h"
#include "app/WindowQuestions.h"
#include "app/WindowSettings.h"
#include "download/ui/TDlWebHTTPGet.h"
#include "search/pipeline/SearchPipeline.h"
#include "store/SongStore.h"
#include "store/view/GridVerdictLoader.h"
#include "store/view/SongFilterBar.h"
#include "store/view/SongTableModel.h"
#include "store/view/TDBGrid3D.h"

namespace app {
namespace {

constexpr int kClientWidth = 592;
constexpr int kClientHeight = 473;
// The log's height at the window's own size.
constexpr int kLogHeight = 81;

}  // namespace

TForm1::TForm1(const std::string& storePath, std::unique_ptr<search::PageFetcher> fetcher, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      store_(std::make_unique<store::SongStore>(storePath)),
      fetcher_(std::move(fetcher)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("BrelvoMP3") + kIdeographicSpace + QStringLiteral("5.3"));
    // It opens at exactly its size; the user may make it larger, never smaller.
    setMinimumSize(kClientWidth, kClientHeight);
    resize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(kCream));
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildDownloadComponent();
    // Its songs go where 下载歌曲 puts them, with the same connection settings.
    downloadList_ = std::make_unique<DownloadList>(
        storePath, kDownloadFolder, makeListQueueDownloader(DownloadList::kAtATime, HTTPGet1->InternetOptions()),
        [this](const QString& line) { Memo1->appendLine(line); });
    downloadList_->applySettings(loadListSettings());
    // A song whose link is dead takes another of the song's links in the store.
    downloadList_->setNextLinkFinder(makeStoreNextLinkFinder(storePath));
    buildToolBar();
    buildKeywordPanel();
    marks_ = std::make_unique<ResultsMarks>(storePath, [this](const QString& line) { Memo1->appendLine(line); });
    buildResultsAndLog();
    // A grown snapshot may hold links probed before.
    connect(model_.get(), &QAbstractItemModel::modelReset, this, [this] { marks_->verdictLoader().lookForNewRows(); });
    // Every song saved, by the list or by 下载歌曲 / 下载到..., is marked 已下载.
    downloadList_->setFinishedRecorder(&marks_->recorder());
    commands_->setFinishedRecorder(&marks_->recorder());
    buildStatusBar();
    buildPopupMenu();
    layout->addWidget(ToolBar1);
    layout->addWidget(Panel1);
    layout->addWidget(Splitter4, 1);
    layout->addWidget(StatusBar1);

    confirmClear_ = [this] { return askToClear(*this); };
    confirmQuit_ = [this](int songs) { return askToQuit(*this, songs); };
    // The session's end closes the window without asking: nobody is there to answer.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { sessionEnding_ = true; });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { sessionEnding_ = true; });
    desktopNotifier_ = std::make_unique<DesktopNotifier>([this](const QString& line) { Memo1->appendLine(line); });
    connect(desktopNotifier_.get(), &DesktopNotifier::clicked, this, &TForm1::showDownloadList);
    listDone_ = std::make_unique<ListDoneNotifier>(*downloadList_, [this](const QString& summary, const QString& body) {
        desktopNotifier_->notify(summary, body);
    });

    pipeline_ = std::make_unique<search::SearchPipeline>(state_, *this, *store_, *fetcher_);

    restoreKeptSize();
    centreOnScreen(*this);
    setTabOrder(ComboBox1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, PageControl1);
    setTabOrder(PageControl1, DBGrid1);
    // The downloads list follows the grid as it was made; the page not
    // shown is passed over.
    setTabOrder(DownloadListView1, Memo1);
    // Typing goes into the keyword box as soon as the window opens.
    ComboBox1->setFocus(Qt::OtherFocusReason);
    closeFilter_ = BlockedCloseFilter::forX11([this](std::uint32_t window) { windowSystemCloseRequested(window); });
    if (closeFilter_) QCoreApplication::instance()->installNativeEventFilter(closeFilter_.get());
    FormCreate();
}

TForm1::~TForm1() {
    closeFilter_.reset();
    // Stages hand work to this window: they must be gone before it is.
    pipeline_.reset();
    marks_->endLinkWork();
    listDone_.reset();
    desktopNotifier_.reset();
    downloadList_.reset();
    commands_.reset();
    httpGet_.reset();
    // Writes what was recorded last, within a second.
    marks_.reset();
}

void TForm1::buildToolBar() {
    const ToolBarParts parts = makeToolBar(this);
    ToolBar1 = parts.frame;
    SpeedButton4 = parts.search;
    SpeedButton3 = parts.stop;
    SpeedButton2 = parts.clear;
    SpeedButton6 = parts.refresh;
    SpeedButton5 = parts.instructions;
    SpeedButton1 = parts.exit;
    SpeedButton7 = parts.logo;
    connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::Button1Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::Button2Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TForm1::SpeedButton6Click);
    connect(SpeedButton5, &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
    connect(SpeedButton7, &QToolButton::clicked, this, &TForm1::SpeedButton7Click);
}

void TForm1::buildKeywordPanel() {
    const KeywordPanelParts parts = makeKeywordPanel(this);
    Panel1 = parts.frame;
    Label1 = parts.label;
    ComboBox1 = parts.keywords;
    Button1 = parts.search;
    Button2 = parts.stop;
    connect(Button1, &QToolButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QToolButton::clicked, this, &TForm1::Button2Click);
    // Enter (either one) in the keyword box is a click on Search, which does
    // nothing while Search is disabled.
    connect(ComboBox1->lineEdit(), &QLineEdit::returnPressed, Button1, &QToolButton::click);
}

void TForm1::buildResultsAndLog() {
    Splitter4 = new RoomSplitter(kLogHeight, this);
    Splitter4->setObjectName(QStringLiteral("Splitter4"));
    Splitter4->setHandleWidth(4);
    Splitter4->setChildrenCollapsible(false);
    Splitter4->setStyleSheet(QStringLiteral("QSplitter::handle { background-color: %1; }").arg(kMoneyGreen));

    PageControl1 = makePages(Splitter4);
    DBGrid1 = new store::TDBGrid3D(PageControl1);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    model_ = std::make_unique<store::SongTableModel>(*store_);
    model_->setVerdicts(&marks_->verdicts());
    model_->setFinishedSongs(&marks_->finishedSongs());
    DBGrid1->setSongModel(model_.get());
    PageControl1->addTab(DBGrid1, QStringLiteral("    搜索结果       "));
    // Ctrl+F finds songs among the results, on a bar over the grid's bottom rows.
    auto* filterBar = new store::SongFilterBar(*DBGrid1, *model_);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this,
            [this, filterBar] {
                PageControl1->setCurrentWidget(DBGrid1);
                filterBar->open();
            });
    DownloadListView1 = new DownloadListView(*downloadList_, PageControl1);
    PageControl1->addTab(DownloadListView1, QStringLiteral("    下载列表       "));
    // "下载列表 (2/10)" while songs are still to come.
    connect(DownloadListView1, &DownloadListView::tabTextChanged, this,
            [this](const QString& text) { PageControl1->setTabText(PageControl1->indexOf(DownloadListView1), text); });
    PageControl1->tabBar()->setFont(songFont(12, false));

    const LogParts log = makeLog(Splitter4);
    Panel2 = log.frame;
    Memo1 = log.log;

    Splitter4->addWidget(PageControl1);
    Splitter4->addWidget(Panel2);
    Splitter4->setStretchFactor(0, 1);
    Splitter4->setStretchFactor(1, 0);
    Splitter4->setSizes({1000, kLogHeight});

    connect(DBGrid1, &store::TDBGrid3D::DBGrid1CellClick, this, &TForm1::DBGrid1CellClick);
    // The selected song is always the highlighted row, whatever moved it.
    connect(DBGrid1, &store::TDBGrid3D::currentRecordChanged, this, &TForm1::setSelectedSong);
    setSelectedSong(DBGrid1->currentRow());

    Memo1->appendLine(QStringLiteral("欢迎您使用BrelvoMP3。"));
    Memo1->appendLine(QStringLiteral("软件的更新情况请查看我们的网站：") + kIdeographicSpace +
                      QString::fromLatin1(kHomePage));
}

void TForm1::buildStatusBar() {
    const StatusBarParts parts = makeStatusBar(this);
    StatusBar1 = parts.bar;
    StatusText = parts.text;
}

void TForm1::buildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->setSeparatorsCollapsible(false);
    // The style draws a leading separator over the menu's frame, where it
    // cannot be seen; give separators room of their own.
    PopupMenu1->setStyleSheet(QStringLiteral(
        "QMenu::separator { height: 1px; margin: 3px 1px; background: #808080; border-bottom: 1px solid #FFFFFF; }"));
    PopupMenu1->addSeparator();
    N7 = PopupMenu1->addAction(QStringLiteral("下载歌曲"));
    N7->setObjectName(QStringLiteral("N7"));
    AddToList1 = PopupMenu1->addAction(QStringLiteral("加入下载列表"));
    AddToList1->setObjectName(QStringLiteral("AddToList1"));
    CheckLinks1 = PopupMenu1->addAction(QStringLiteral("检查链接"));
    CheckLinks1->setObjectName(QStringLiteral("CheckLinks1"));
    PopupMenu1->addSeparator();
    N2 = PopupMenu1->addAction(QStringLiteral("下载到..."));
    N2->setObjectName(QStringLiteral("N2"));
    PopupMenu1->addSeparator();
    IE1 = PopupMenu1->addAction(QStringLiteral("在IE中打开链接"));
    IE1->setObjectName(QStringLiteral("IE1"));
    PopupMenu1->addSeparator();
    OpenFolder1 = PopupMenu1->addAction(QStringLiteral("打开下载文件夹"));
    OpenFolder1->setObjectName(QStringLiteral("OpenFolder1"));
    PopupMenu1->addSeparator();
    MergeSongs1 = PopupMenu1->addAction(QStringLiteral("合并相同歌曲"));
    MergeSongs1->setObjectName(QStringLiteral("MergeSongs1"));
    MergeSongs1->setCheckable(true);
    // One row per song, its best link: the commands act on that link, and
    // the downloads list moves on to the song's others by itself.
    connect(MergeSongs1, &QAction::toggled, this, [this](bool on) { model_->setOneRowPerSong(on); });
    connect(OpenFolder1, &QAction::triggered, this, &TForm1::OpenFolder1Click);
    connect(N7, &QAction::triggered, this, &TForm1::N7Click);
    connect(AddToList1, &QAction::triggered, this, &TForm1::AddToList1Click);
    connect(CheckLinks1, &QAction::triggered, this, &TForm1::CheckLinks1Click);
    // It probes the selected rows alone, never the selected song behind them.
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        CheckLinks1->setEnabled(DBGrid1->selectionModel() && DBGrid1->selectionModel()->hasSelection());
    });
    connect(N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(IE1, &QAction::triggered, this, &TForm1::IE1Click);
    connect(DBGrid1, &store::TDBGrid3D::popupRequested, this,
            [this](const QPoint& globalPos) { PopupMenu1->popup(globalPos); });
    // From the keyboard the menu is for the selected rows and the current
    // one, which is the selected song.
    connect(DBGrid1, &store::TDBGrid3D::currentRowPopupRequested, this, [this](const QPoint& globalPos) {
        DBGrid1CellClick();
        PopupMenu1->popup(globalPos);
    });
}

void TForm1::buildDownloadComponent() {
    httpGet_ = std::make_unique<dl::TDlWebHTTPGet>();
    HTTPGet1 = httpGet_.get();
    DownloadCommands::applyProgramSettings(*HTTPGet1, *this);
    commands_ = std::make_unique<DownloadCommands>(
        *this, *HTTPGet1, [this] { return songsToDownload(); }, [this](const QString& line) { Memo1->appendLine(line); });
    commands_->setFetchedElsewhere([this](const SelectedSong& song, const std::string& folder, const QString& name) {
        return showFetchedByList(song, folder, name);
    });
}

void TForm1::FormCreate() {
    state_.initialise(searchHost());
    appendLog("当前歌曲数量：\u3000" + std::to_string(store_->Count()));
    // The songs the list still had to fetch start again by themselves.
    downloadList_->start();
}

QStringList TForm1::logLines() const {
    return Memo1->toPlainText().split(QLatin1Char('\n'));
}

void TForm1::appendLog(const std::string& utf8Line) { Memo1->appendLine(QString::fromStdString(utf8Line)); }

std::string TForm1::keywordText() { return ComboBox1->currentText().toStdString(); }

void TForm1::setSearchEnabled(bool enabled) { Button1->setEnabled(enabled); }

void TForm1::setStopEnabled(bool enabled) { Button2->setEnabled(enabled); }

// Never keeps the window waiting: a re-read that takes longer ends on the
// store's background thread, and the grid follows when it is done.
int TForm1::requeryAndCount() {
    store_->RequeryBriefly();
    return store_->Count();
}

void TForm1::Button1Click() { pipeline_->StartSearch(); }

void TForm1::Button2Click() { pipeline_->StopSearch(); }

void TForm1::SpeedButton2Click() {
    if (!confirmClear_()) return;
    store_->Clear();
}

void TForm1::SpeedButton6Click() { pipeline_->AnnounceEnd(); }

void TForm1::SpeedButton5Click() {
    if (aboutDialog_) aboutDialog_->exec();
}

void TForm1::SpeedButton1Click() {
    if (mayClose()) close();
}

void TForm1::SpeedButton7Click() { commands_->openLink(QString::fromLatin1(kHomePage)); }

void TForm1::DBGrid1CellClick() { setSelectedSong(DBGrid1->currentRow()); }

// A row that is gone (an empty grid) or cannot be read now leaves the
// selected song as it was.
void TForm1::setSelectedSong(int row) {
    const std::optional<store::SongRow> song = model_->song(row);
    if (!song) return;
    selected_.url = QString::fromStdString(song->url2.value_or(std::string()));
    selected_.title = QString::fromStdString(song->title.value_or(std::string()));
}

QList<SelectedSong> TForm1::songsToDownload() const {
    QList<SelectedSong> songs;
    for (int row : DBGrid1->selectedRows())
        songs.append({model_->cellText(row, store::SongTableModel::UrlColumn),
                      model_->cellText(row, store::SongTableModel::TitleColumn)});
    if (songs.isEmpty()) songs.append(selected_);
    return songs;
}

// The selected rows join the downloads list and start when their turn
// comes, while the window stays free for searching and the other commands.
// Many are added a slice at a time, each song's fields read in its turn.
void TForm1::AddToList1Click() {
    SelectedRows rows = SelectedRows::of(*DBGrid1->selectionModel());
    if (rows.empty()) {
        downloadList_->add({{selected_.title, selected_.url}});
        return;
    }
    if (rows.size() > DownloadList::kAskAbove &&
        !commands_->ask(QStringLiteral("加入下载列表"), QStringLiteral("要把 %1 首歌曲加入下载列表吗？").arg(rows.size())))
        return;
    // The records, not the rows: the grid may show another snapshot by the
    // time a song's turn comes. Looked up as the songs join, a slice at a
    // time, from the snapshot the selection was made on.
    const std::size_t count = rows.size();
    downloadList_->add(count, [this, rows = std::move(rows), shown = model_->shownRows()](std::size_t i) {
        const std::size_t row = static_cast<std::size_t>(rows.at(i));
        if (!shown || row >= shown->ids.size()) return DownloadList::Song{};
        const std::optional<store::SongRow> song = store_->Record(shown->ids[row]);
        if (!song) return DownloadList::Song{};
        return DownloadList::Song{QString::fromStdString(song->title.value_or(std::string())),
                                  QString::fromStdString(song->url2.value_or(std::string()))};
    });
}

// Probes the selected rows' links in the background; their marks change as
// the verdicts come.
void TForm1::CheckLinks1Click() {
    QStringList urls;
    for (int row : DBGrid1->selectedRows()) urls << model_->cellText(row, store::SongTableModel::UrlColumn);
    if (!urls.isEmpty()) marks_->linkChecks().check(urls);
}

// The downloads list fetching the song into that file already: a second
// transfer would write the same file at once.
bool TForm1::showFetchedByList(const SelectedSong& song, const std::string& folder, const QString& fileName) {
    const int row = downloadList_->rowFetching(song.url.toStdString(), folder, fileName.toStdString());
    if (row < 0) return false;
    appendLog((QStringLiteral("《") + song.title + QStringLiteral("》正在下载列表中下载")).toStdString());
    PageControl1->setCurrentWidget(DownloadListView1);
    DownloadListView1->showRow(row);
    return true;
}

void TForm1::restoreKeptSize() {
    restoreWindowSize(*this);
    DownloadListView1->restoreColumnWidths();
}

void TForm1::keepSize() {
    keepWindowSizeOf(*this);
    DownloadListView1->keepColumnWidths();
}

void TForm1::windowSystemCloseRequested(quintptr windowId) {
    if (!commands_->downloading() || !testAttribute(Qt::WA_WState_Created) || windowId != winId()) return;
    // Not from inside the window system's event: the close ends the modal
    // loop this request arrived in.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (mayClose()) close();
        },
        Qt::QueuedConnection);
}

void TForm1::showDownloadList() {
    if (closed_) return;
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
    PageControl1->setCurrentWidget(DownloadListView1);
}

bool TForm1::mayClose() {
    const int songs = downloadList_->activeSongs();
    if (closed_ || sessionEnding_ || songs == 0) return true;
    // Ended while the question was up (a signal, the session): closed already.
    return confirmQuit_(songs) || closed_;
}

void TForm1::closeEvent(QCloseEvent* event) {
    // The window manager's close (its close box, Alt+F4) comes from the
    // window system; the program's own closes (a signal, the session's
    // end, a quit) do not, and never ask.
    if (event->spontaneous() && !mayClose()) {
        event->ignore();
        return;
    }
    if (closed_) return;
    closed_ = true;
    // Nothing more to tell once the program ends.
    listDone_.reset();
    // Closing ends the program: a download in progress ends as if
    // cancelled (its window closes, nothing more is written), and any search
    // is abandoned now, while the window still exists for the stages' last
    // hand-offs to be refused.
    HTTPGet1->Abort();
    keepSize();
    // The list's songs stay as kept, to start again on the next run.
    downloadList_->shutdown();
    marks_->stop();
    pipeline_->Shutdown();
    QWidget::closeEvent(event);
}

}  // namespace app

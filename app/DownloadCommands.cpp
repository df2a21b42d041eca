#include "app/DownloadCommands.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>
#include <QUrl>

#include "app/AppInfo.h"
#include "app/DownloadOutcome.h"
#include "app/FinishedSongRecorder.h"
#include "download/engine/TDlInternetOptions.h"
#include "download/files/DlFileNames.h"
#include "download/ui/TDlWebHTTPGet.h"

namespace app {
namespace {

// Two rows of one title would write one file: the later ones of a batch get
// " (2)", " (3)" ... before the extension.
QStringList batchFileNames(const QList<SelectedSong>& songs) {
    QStringList names;
    QHash<QString, int> seen;
    for (const SelectedSong& song : songs) {
        const int n = ++seen[song.title];
        names << (n == 1 ? song.title : song.title + QStringLiteral(" (%1)").arg(n)) + QStringLiteral(".mp3");
    }
    return names;
}

// Qt's own dialog, whose texts come from Qt's Chinese translations (a
// desktop's native one would speak the desktop's language), wide enough
// for its columns.
void makeReadable(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setViewMode(QFileDialog::Detail);
    dialog.resize(800, 460);
    if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        // Name, size, type, date modified: the date needs room for a whole
        // date and time.
        const int widths[] = {300, 90, 90, 200};
        for (int column = 0; column < 4; ++column) list->header()->resizeSection(column, widths[column]);
    }
}

// The download folder of Download song in the working directory.
QString downloadFolderPath() {
    return QDir::cleanPath(QDir::current().absoluteFilePath(QString::fromLatin1(kDownloadFolder)));
}

// A song's address comes from the store, which another program may have
// written: one naming a local file would copy it (a private one too) into
// the download folder, so such a song is not downloaded.
QString schemeOf(const QString& url) { return url.trimmed().section(QLatin1Char(':'), 0, 0).trimmed().toLower(); }

bool namesLocalFile(const SelectedSong& song) { return schemeOf(song.url) == QLatin1String("file"); }

// As a browser reads it; the address itself may hold what a strict parser
// refuses (blanks, Chinese characters), which the browser copes with.
bool isBrowserAddress(const QString& url) {
    const QString scheme = schemeOf(url);
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           url.trimmed().section(QLatin1Char(':'), 1).startsWith(QLatin1String("//"));
}

}  // namespace

// What a batch tells in its summary line.
struct DownloadCommands::BatchCounts {
    int saved = 0, pages = 0, failed = 0;
};

DownloadCommands::DownloadCommands(QWidget& window, dl::TDlWebHTTPGet& httpGet, SongsSource songs, LogLine log)
    : window_(window), httpGet_(httpGet), songs_(std::move(songs)), log_(std::move(log)) {
    openUrl_ = [](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); };
    chooseSaveFile_ = [this](const QString& proposed) { return runSaveDialog(proposed); };
    chooseFolder_ = [this] { return runFolderDialog(); };
    openFolder_ = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
    showMessage_ = [this](const QString& caption, const QString& text) {
        QMessageBox::information(&window_, caption, text, QMessageBox::Ok);
    };
    ask_ = [this](const QString& caption, const QString& text) {
        return QMessageBox::question(&window_, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
               QMessageBox::Yes;
    };
}

DownloadCommands::~DownloadCommands() = default;

void DownloadCommands::applyProgramSettings(dl::TDlWebHTTPGet& httpGet, QWidget& owner) {
    dl::TDlInternetOptions options = httpGet.InternetOptions();
    options.SocksProxy = false;
    options.SocksVersion = dl::sv4;
    options.UseProxyAuth = false;
    options.UserAgent = "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)";
    options.ModemConnection = false;
    options.AutoDial = false;
    options.AutoClose = false;
    httpGet.SetInternetOptions(options);
    httpGet.DownloadDir = kDownloadFolder;
    httpGet.DownloadParams.SizeLimit = 0;
    httpGet.ProgressWindowOwner = &owner;
}

void DownloadCommands::downloadSong() {
    const QList<SelectedSong> songs = songs_();
    if (songs.size() == 1) {
        downloadOne(songs.first(), kDownloadFolder, songs.first().title + QStringLiteral(".mp3"));
    } else {
        downloadBatch(songs, kDownloadFolder);
    }
}

// One song takes the name chosen in the Save dialog, in the chosen folder;
// the dialog starts in the download folder (made when missing) on the name
// Download song would give the file. Several go into a chosen folder, each
// under its title.
void DownloadCommands::downloadTo() {
    const QList<SelectedSong> songs = songs_();
    if (songs.size() > 1) {
        const QString folder = chooseFolder_();
        if (folder.isEmpty()) return;
        downloadBatch(songs, QDir(folder).absolutePath().toStdString() + "/");
        return;
    }
    const QString folder = downloadFolderPath();
    QDir().mkpath(folder);
    const QString name =
        QString::fromStdString(dl::SafeDestinationName((songs.first().title + QStringLiteral(".mp3")).toStdString()));
    const QString chosen = chooseSaveFile_(folder + QLatin1Char('/') + name);
    if (chosen.isEmpty()) return;
    const QFileInfo file(chosen);
    downloadOne(songs.first(), file.absolutePath().toStdString() + "/", file.fileName());
}

void DownloadCommands::openInBrowser() {
    const QList<SelectedSong> songs = songs_();
    // Each link is a page of the browser: a large selection is asked about.
    if (songs.size() > kOpenWithoutAsking &&
        !ask_(QStringLiteral("在IE中打开链接"), QStringLiteral("要在浏览器中打开 %1 个链接吗？").arg(songs.size())))
        return;
    showMessage_(QStringLiteral("下载MP3文件"),
                 QStringLiteral("将在IE中打开URL，下载您选择的MP3文件更好的下载方式正在开发中....,有建议请联系") +
                     QString::fromLatin1(kContactEmail));
    // The rows the menu showed selected, each in turn; as a browser reads
    // an address, one cut from a page may end in a blank.
    for (const SelectedSong& song : songs) openLink(song.url.trimmed());
}

// The download folder of Download song, made when missing, in the desktop's
// file manager.
void DownloadCommands::openDownloadFolder() {
    const QString folder = downloadFolderPath();
    if (!QDir().mkpath(folder) || !openFolder_(QUrl::fromLocalFile(folder)))
        log_(QStringLiteral("无法打开下载文件夹 ") + folder);
}

void DownloadCommands::openLink(const QString& url) {
    if (url.isEmpty()) {
        log_(QStringLiteral("无法打开链接：没有选择歌曲"));
    } else if (!isBrowserAddress(url)) {
        // The desktop's opener would run a local program or script, or open
        // a file of the user's, for an address the store may hold.
        log_(QStringLiteral("不打开链接 ") + url + QStringLiteral("：只在浏览器中打开 http 或 https 网址"));
    } else if (!openUrl_(url)) {
        log_(QStringLiteral("无法打开链接 ") + url);
    }
}

bool DownloadCommands::leftOut(const SelectedSong& song, const std::string& folder, const QString& fileName) {
    if (namesLocalFile(song)) {
        log_(QStringLiteral("下载失败：《") + song.title + QStringLiteral("》，下载地址指向本机的文件，不下载：") + song.url);
        return true;
    }
    return fetchedElsewhere_ && fetchedElsewhere_(song, folder, fileName);
}

void DownloadCommands::downloadOne(const SelectedSong& song, const std::string& folder, const QString& fileName) {
    if (leftOut(song, folder, fileName)) return;
    httpGet_.URL = song.url.toStdString();
    httpGet_.DownloadDir = folder;
    httpGet_.DestinationName = fileName.toStdString();
    httpGet_.Caption = (QStringLiteral("BrelvoMP3，正在下载歌曲...") + song.title).toStdString();
    downloading_ = true;
    const bool finished = httpGet_.Execute();
    downloading_ = false;
    logOutcome(song.title, !finished, nullptr);
}

void DownloadCommands::downloadBatch(const QList<SelectedSong>& all, const std::string& folder) {
    const QStringList allNames = batchFileNames(all);
    QList<SelectedSong> songs;
    QStringList names;
    for (int i = 0; i < all.size(); ++i) {
        if (leftOut(all[i], folder, allNames[i])) continue;
        songs << all[i];
        names << allNames[i];
    }
    if (songs.isEmpty()) return;
    const int count = static_cast<int>(songs.size());
    log_(QStringLiteral("开始下载 %1 首歌曲到 ").arg(count) + QString::fromStdString(dl::ExpandFolder(folder)));
    BatchCounts counts;
    int told = 0;
    const auto prepare = [&](int index) {
        const SelectedSong& song = songs[index];
        httpGet_.URL = song.url.toStdString();
        httpGet_.DownloadDir = folder;
        httpGet_.DestinationName = names[index].toStdString();
        httpGet_.Caption = (QStringLiteral("BrelvoMP3（%1/%2），正在下载歌曲...").arg(index + 1).arg(count) + song.title)
                               .toStdString();
    };
    const auto ended = [&](int index, bool cancelled) {
        ++told;
        logOutcome(songs[index].title, cancelled, &counts);
    };
    downloading_ = true;
    httpGet_.ExecuteBatch(count, prepare, ended);
    downloading_ = false;
    log_(batchSummaryLine(counts.saved, counts.pages, counts.failed, count - told));
}

// One log line for the download that has just ended, counted into the
// batch's figures when there are any.
void DownloadCommands::logOutcome(const QString& title, bool cancelled, BatchCounts* counts) {
    const DownloadOutcome outcome = readOutcome(httpGet_.CurrentOutcome(cancelled), cancelled, httpGet_.Document().Size());
    log_(outcomeLogLine(title, outcome));
    if (finished_) finished_->songEnded(title.toStdString(), httpGet_.URL, outcome);
    if (!counts) return;
    switch (outcome.kind) {
    case DownloadOutcome::Kind::SavedAsPage: ++counts->pages; break;
    case DownloadOutcome::Kind::Saved: ++counts->saved; break;
    case DownloadOutcome::Kind::Failed: ++counts->failed; break;
    case DownloadOutcome::Kind::Cancelled: break;
    }
}

QString DownloadCommands::runSaveDialog(const QString& proposed) {
    if (!saveDlg_) {
        saveDlg_ = new QFileDialog(&window_);
        saveDlg_->setObjectName(QStringLiteral("SaveDlg"));
        saveDlg_->setAcceptMode(QFileDialog::AcceptSave);
        saveDlg_->setDefaultSuffix(QStringLiteral("mp3"));
        saveDlg_->setNameFilter(QStringLiteral("*.mp3"));
        makeReadable(*saveDlg_);
    }
    const QFileInfo file(proposed);
    saveDlg_->setDirectory(file.absolutePath());
    saveDlg_->selectFile(file.fileName());
    if (saveDlg_->exec() != QDialog::Accepted) return {};
    const QStringList files = saveDlg_->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

QString DownloadCommands::runFolderDialog() {
    if (!folderDlg_) {
        folderDlg_ = new QFileDialog(&window_, QStringLiteral("选择保存歌曲的文件夹"));
        folderDlg_->setObjectName(QStringLiteral("FolderDlg"));
        folderDlg_->setFileMode(QFileDialog::Directory);
        folderDlg_->setOption(QFileDialog::ShowDirsOnly);
        makeReadable(*folderDlg_);
    }
    if (folderDlg_->exec() != QDialog::Accepted) return {};
    const QStringList folders = folderDlg_->selectedFiles();
    return folders.isEmpty() ? QString() : folders.first();
}

}  // namespace app

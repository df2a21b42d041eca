#include "app/GridLinkChecks.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <memory>

#include <QMetaObject>

#include "app/StoredVerdicts.h"
#include "download/inet/InetRequestUrl.h"
#include "download/texts/DownloadErrors.h"
#include "store/LinkVerdictStore.h"
#include "store/StoreError.h"
#include "store/view/GridVerdicts.h"

namespace app {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Verdicts are saved in small groups as they come. The probes wait while
// one is written, so a group waits only briefly for a file another program
// holds, and stays for the next group when it could not wait; the last
// group of a check waits longer, and at most a second when the window closes.
constexpr std::size_t kSaveGroup = 16;
constexpr milliseconds kSaveEvery{1000};
constexpr milliseconds kGroupWait{200};
constexpr milliseconds kLastWait{5000};
constexpr milliseconds kClosingWait{1000};

// What the prober probes; anything else it would only call dead.
bool probed(const std::string& url) {
    auto startsWith = [&](const char* prefix) {
        const std::size_t n = std::char_traits<char>::length(prefix);
        if (url.size() < n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(url[i])) != prefix[i]) return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

}  // namespace

GridLinkChecks::GridLinkChecks(std::string storePath, store::GridVerdicts& verdicts, Log log,
                               inet::ProbeSettings settings)
    : path_(std::move(storePath)),
      verdicts_(verdicts),
      log_(std::move(log)),
      settings_(std::move(settings)),
      thread_([this] { run(); }) {}

GridLinkChecks::~GridLinkChecks() {
    stop();
    thread_.join();
}

void GridLinkChecks::check(const QStringList& urls) {
    std::vector<std::string> fresh;
    std::unordered_set<std::string> seen;
    int others = 0;
    for (const QString& url : urls) {
        std::string address = url.toStdString();
        if (!probed(inet::browserUrl(address))) {
            ++others;
        } else if (seen.insert(address).second) {
            fresh.push_back(std::move(address));
        }
    }
    bool behindAnother = false;
    std::size_t repeated = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        std::erase_if(fresh, [&](const std::string& address) {
            const bool asked = asked_.count(address) > 0;
            repeated += asked ? 1 : 0;
            return asked;
        });
        behindAnother = running_ || !waiting_.empty();
        if (!fresh.empty()) {
            asked_.insert(fresh.begin(), fresh.end());
            waiting_.push_back({fresh});
            wake_.notify_all();
        }
    }
    if (others > 0) log_(QStringLiteral("不检查 %1 个链接：只检查 http 或 https 网址。").arg(others));
    if (fresh.empty()) {
        if (repeated > 0) log_(QStringLiteral("所选的链接已经在检查中。"));
        return;
    }
    const auto count = static_cast<qulonglong>(fresh.size());
    log_(behindAnother ? QStringLiteral("%1 个链接等正在进行的检查结束后再检查。").arg(count)
                       : QStringLiteral("正在检查 %1 个链接……").arg(count));
}

void GridLinkChecks::stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting_.clear();
    if (prober_) prober_->stop();
    wake_.notify_all();
}

bool GridLinkChecks::idle() const {
    std::lock_guard lock(mutex_);
    return !running_ && waiting_.empty();
}

void GridLinkChecks::toUi(std::function<void()> call) {
    {
        std::lock_guard lock(uiMutex_);
        uiCalls_.push_back(std::move(call));
    }
    QMetaObject::invokeMethod(&receiver_, [this] { runUiCalls(); }, Qt::QueuedConnection);
}

void GridLinkChecks::runUiCalls() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(uiMutex_);
        calls.swap(uiCalls_);
    }
    for (const std::function<void()>& call : calls) call();
}

void GridLinkChecks::run() {
    for (;;) {
        Check check;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
            if (stopping_) return;
            check = std::move(waiting_.front());
            waiting_.pop_front();
            running_ = true;
        }
        probe(check);
        std::lock_guard lock(mutex_);
        for (const std::string& url : check.urls) asked_.erase(url);
        running_ = false;
    }
}

void GridLinkChecks::probe(const Check& check) {
    QString saveTrouble;
    std::unique_ptr<store::LinkVerdictStore> store;
    try {
        store = std::make_unique<store::LinkVerdictStore>(path_);
    } catch (const store::StoreError& e) {
        saveTrouble = QString::fromUtf8(e.what());
    }
    std::vector<store::StoredVerdict> unsaved;
    auto save = [&](milliseconds wait) {
        if (!store || unsaved.empty()) return;
        try {
            store->save(unsaved, wait);
            unsaved.clear();
        } catch (const store::StoreError& e) {
            saveTrouble = QString::fromUtf8(e.what());
        }
    };
    auto stopping = [this] {
        std::lock_guard lock(mutex_);
        return stopping_;
    };

    inet::LinkProber prober(settings_);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        prober_ = &prober;
    }
    // Requested as a download requests it (a blank left at the end of a
    // cut-out address, characters outside ASCII); kept under the stored one.
    std::vector<std::string> requested;
    requested.reserve(check.urls.size());
    for (const std::string& url : check.urls) requested.push_back(inet::browserUrl(url));
    Tally tally;
    Clock::time_point lastSave = Clock::now();
    prober.probeAll(requested, [&](std::size_t index, const inet::ProbeOutcome& outcome) {
        const probe::LinkVerdict& verdict = outcome.verdict;
        // A link the stop left unjudged has no verdict to keep.
        if (verdict.code == dl::kErrOperationCancelled || stopping()) return;
        switch (verdict.state) {
        case probe::LinkState::Audio: ++tally.audio; break;
        case probe::LinkState::NotAudio: ++tally.notAudio; break;
        case probe::LinkState::Dead: ++tally.dead; break;
        case probe::LinkState::Unavailable: ++tally.unavailable; break;
        }
        store::StoredVerdict stored = toStored(check.urls[index], verdict, std::int64_t(std::time(nullptr)));
        unsaved.push_back(stored);
        toUi([&verdicts = verdicts_, stored] { verdicts.put(stored); });
        if (unsaved.size() >= kSaveGroup || Clock::now() - lastSave >= kSaveEvery) {
            save(kGroupWait);
            lastSave = Clock::now();
        }
    });
    {
        std::lock_guard lock(mutex_);
        prober_ = nullptr;
    }
    const bool stopped = stopping();
    save(stopped ? kClosingWait : kLastWait);
    if (stopped) return;
    const int judged = tally.audio + tally.notAudio + tally.dead + tally.unavailable;
    QString line = QStringLiteral("检查了 %1 个链接：%2 个可用，%3 个不是歌曲，%4 个失效，%5 个暂时不可用。")
                       .arg(judged)
                       .arg(tally.audio)
                       .arg(tally.notAudio)
                       .arg(tally.dead)
                       .arg(tally.unavailable);
    // A group that could not wait was written with a later one, or is lost now.
    if (judged > 0 && (!store || !unsaved.empty()))
        line += QStringLiteral("结果没有全部保存到歌曲库文件：") + saveTrouble;
    toUi([log = log_, line] { log(line); });
}

}  // namespace app

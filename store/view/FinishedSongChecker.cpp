#include "store/view/FinishedSongChecker.h"

#include <algorithm>
#include <iterator>

#include <QMetaObject>

#include "store/StoreError.h"

namespace store {
namespace {

// A file another program holds is read at the next round instead; a record
// waits a little longer, and at most a second when the window closes.
constexpr std::chrono::milliseconds kReadWait{2000};
constexpr std::chrono::milliseconds kWriteWait{5000};
constexpr std::chrono::milliseconds kClosingWait{1000};
// Changes the UI thread takes at one turn: a few milliseconds' work however
// many songs changed at once (a first check of many finished songs).
constexpr std::size_t kHandSlice = 10000;

// The records read, with those not written yet over them (the newer ones).
std::vector<FinishedSong> withUnwritten(std::vector<FinishedSong> read, const std::vector<FinishedSong>& unwritten) {
    for (const FinishedSong& song : unwritten) {
        std::erase_if(read, [&](const FinishedSong& r) { return r.url == song.url; });
        read.push_back(song);
    }
    return read;
}

}  // namespace

FinishedSongChecker::FinishedSongChecker(std::string storePath, GridFinishedSongs& marks,
                                         std::chrono::milliseconds every)
    : path_(std::move(storePath)), every_(every), marks_(marks), thread_([this] { run(); }) {}

FinishedSongChecker::~FinishedSongChecker() {
    stop();
    thread_.join();
}

void FinishedSongChecker::record(FinishedSong song) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    toRecord_.push_back(std::move(song));
    wanted_ = true;
    wake_.notify_all();
}

void FinishedSongChecker::checkNow() {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    wake_.notify_all();
}

void FinishedSongChecker::stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (store_) store_->interrupt();
    wake_.notify_all();
}

bool FinishedSongChecker::idle() const {
    std::lock_guard lock(mutex_);
    return !wanted_ && !busy_ && toRecord_.empty();
}

void FinishedSongChecker::hand(std::vector<FinishedChange> changes) {
    {
        std::lock_guard lock(handMutex_);
        // After those the UI thread has not taken yet.
        for (FinishedChange& change : changes) handing_.push_back(std::move(change));
    }
    QMetaObject::invokeMethod(&receiver_, [this] { takeSome(); }, Qt::QueuedConnection);
}

void FinishedSongChecker::takeSome() {
    std::vector<FinishedChange> taken;
    bool more = false;
    {
        std::lock_guard lock(handMutex_);
        const auto n = static_cast<std::ptrdiff_t>(std::min(handing_.size(), kHandSlice));
        taken.assign(std::make_move_iterator(handing_.begin()), std::make_move_iterator(handing_.begin() + n));
        handing_.erase(handing_.begin(), handing_.begin() + n);
        more = !handing_.empty();
    }
    marks_.apply(std::move(taken));
    // The rest at the next turn, after what the window has to do meanwhile.
    if (more) QMetaObject::invokeMethod(&receiver_, [this] { takeSome(); }, Qt::QueuedConnection);
}

void FinishedSongChecker::round(std::unique_ptr<FinishedSongStore>& store, std::vector<FinishedSong>& unwritten,
                                std::vector<FinishedSong>& lastRead, FinishedMarks& handed) {
    try {
        if (!store) {
            store = std::make_unique<FinishedSongStore>(path_);
            std::lock_guard lock(mutex_);
            store_ = store.get();
        }
        if (!unwritten.empty()) {
            store->record(unwritten, kWriteWait);
            unwritten.clear();
        }
        lastRead = store->all(kReadWait);
    } catch (const StoreError&) {
        // A locked, damaged or read-only file: the records read last and
        // those not written yet are shown meanwhile.
    }
    FinishedMarks marks;
    for (const FinishedSong& song : withUnwritten(lastRead, unwritten)) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        marks[song.url] = FinishedMark{checkFinishedFile(song), song.path, song.size};
    }
    std::vector<FinishedChange> changes;
    for (const auto& [url, mark] : marks) {
        const auto it = handed.find(url);
        if (it == handed.end() || !(it->second == mark)) changes.emplace_back(url, mark);
    }
    for (const auto& [url, mark] : handed)
        if (!marks.count(url)) changes.emplace_back(url, std::nullopt);
    if (changes.empty()) return;
    handed = std::move(marks);
    hand(std::move(changes));
}

void FinishedSongChecker::run() {
    std::unique_ptr<FinishedSongStore> store;
    std::vector<FinishedSong> unwritten;
    std::vector<FinishedSong> lastRead;
    FinishedMarks handed;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            busy_ = false;
            // A round every `every_` whether asked or not: files go behind
            // the program's back.
            if (!wake_.wait_for(lock, every_, [this] { return wanted_ || stopping_; })) wanted_ = true;
            if (stopping_) break;
            wanted_ = false;
            busy_ = true;
            for (FinishedSong& song : toRecord_) {
                std::erase_if(unwritten, [&](const FinishedSong& u) { return u.url == song.url; });
                unwritten.push_back(std::move(song));
            }
            toRecord_.clear();
        }
        round(store, unwritten, lastRead, handed);
    }
    std::unique_lock lock(mutex_);
    store_ = nullptr;
    for (FinishedSong& song : toRecord_) unwritten.push_back(std::move(song));
    toRecord_.clear();
    busy_ = false;
    lock.unlock();
    if (unwritten.empty()) return;
    try {
        if (!store) store = std::make_unique<FinishedSongStore>(path_);
        store->record(unwritten, kClosingWait);
    } catch (const StoreError&) {
        // Not kept: the file refused it for longer than the window may wait.
    }
}

}  // namespace store

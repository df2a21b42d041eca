#include "store/view/GridVerdictLoader.h"

#include <QMetaObject>

#include "store/LinkVerdictStore.h"
#include "store/StoreError.h"
#include "store/view/GridVerdicts.h"

namespace store {
namespace {

// A file another program holds is read at its next change instead.
constexpr std::chrono::milliseconds kReadWait{2000};

}  // namespace

GridVerdictLoader::GridVerdictLoader(std::string storePath, GridVerdicts& verdicts)
    : path_(std::move(storePath)), verdicts_(verdicts), thread_([this] { run(); }) {}

GridVerdictLoader::~GridVerdictLoader() {
    stop();
    thread_.join();
}

void GridVerdictLoader::lookForNewRows() {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    wake_.notify_all();
}

void GridVerdictLoader::stop() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (store_) store_->interrupt();
    wake_.notify_all();
}

bool GridVerdictLoader::idle() const {
    std::lock_guard lock(mutex_);
    return !wanted_ && !reading_;
}

void GridVerdictLoader::run() {
    std::unique_ptr<LinkVerdictStore> store;
    std::int64_t lastRowid = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            reading_ = false;
            wake_.wait(lock, [this] { return wanted_ || stopping_; });
            if (stopping_) break;
            wanted_ = false;
            reading_ = true;
        }
        try {
            if (!store) {
                store = std::make_unique<LinkVerdictStore>(path_);
                std::lock_guard lock(mutex_);
                store_ = store.get();
            }
            LinkVerdictStore::SongVerdicts found = store->findOfSongs(lastRowid, kReadWait);
            lastRowid = found.lastRowid;
            if (found.verdicts.empty()) continue;
            // Handed over under a lock: the thread goes on while the UI thread takes them.
            {
                std::lock_guard lock(readMutex_);
                for (StoredVerdict& v : found.verdicts) read_.push_back(std::move(v));
            }
            QMetaObject::invokeMethod(
                &receiver_,
                [this] {
                    std::vector<StoredVerdict> taken;
                    {
                        std::lock_guard lock(readMutex_);
                        taken.swap(read_);
                    }
                    if (!taken.empty()) verdicts_.putAll(std::move(taken));
                },
                Qt::QueuedConnection);
        } catch (const StoreError&) {
            // A locked or damaged file: the rows show no verdict until the
            // next reading manages; the probes' own verdicts still show.
        }
    }
    std::lock_guard lock(mutex_);
    store_ = nullptr;
    reading_ = false;
}

}  // namespace store

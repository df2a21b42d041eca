#include "store/SongFilter.h"

#include <algorithm>
#include <vector>

#include "store/SongFilterIndex.h"

namespace store {
namespace {

// Ids this far apart at most are marked in a bitmap; beyond (a table whose
// largest id was taken gives random ones) they are looked up.
constexpr std::int64_t kBitmapSpan = std::int64_t{1} << 26;

bool ascending(const RowIdList& ids) {
    std::int64_t previous = INT64_MIN;
    bool sorted = true;
    ids.forEach([&](std::int64_t id) {
        sorted = id > previous;
        previous = id;
        return sorted;
    });
    return sorted;
}

// The first of the snapshot's rows that are matched, for a snapshot in
// ascending order: both lists walked side by side.
RowIdList firstRowsMatched(const RowIdList& snapshot, const std::vector<std::int64_t>& matched) {
    RowIdList::Builder rows;
    auto next = matched.begin();
    snapshot.forEach([&](std::int64_t id) {
        while (next != matched.end() && *next < id) ++next;
        if (next == matched.end()) return false;
        if (*next == id) rows.add(id);
        return true;
    });
    return rows.finish();
}

}  // namespace

RowIdList rowsMatched(const RowIdList& snapshot, const std::vector<std::int64_t>& matched) {
    RowIdList::Builder rows;
    if (matched.empty()) return rows.finish();
    const std::int64_t low = matched.front();
    const std::int64_t high = matched.back();
    if (high - low < kBitmapSpan) {
        std::vector<bool> marked(static_cast<std::size_t>(high - low + 1));
        for (const std::int64_t id : matched) marked[static_cast<std::size_t>(id - low)] = true;
        snapshot.forEach([&](std::int64_t id) {
            if (id >= low && id <= high && marked[static_cast<std::size_t>(id - low)]) rows.add(id);
            return true;
        });
    } else {
        snapshot.forEach([&](std::int64_t id) {
            if (std::binary_search(matched.begin(), matched.end(), id)) rows.add(id);
            return true;
        });
    }
    return rows.finish();
}

SongFilter::SongFilter(const std::string& path, Listener listener)
    : path_(path), listener_(std::move(listener)), worker_([this](const Request& request) { serve(request); }) {}

SongFilter::~SongFilter() = default;

std::uint64_t SongFilter::request(std::string typed, std::shared_ptr<const ResultsSnapshot> snapshot) {
    return worker_.ask(Request{0, std::move(typed), std::move(snapshot)});
}

void SongFilter::cancel() { worker_.cancel(); }

bool SongFilter::waitUntilIdle(std::chrono::milliseconds limit) { return worker_.waitUntilIdle(limit); }

void SongFilter::serve(const Request& request) {
    const auto over = [this, number = request.number] { return worker_.superseded(number); };
    serving_ = request.number;
    try {
        if (!index_) {
            index_ = std::make_unique<SongFilterIndex>(path_);
            // A search or a check ends when a newer request comes; a slice
            // of a build only when the program ends, or typing fast would
            // never let the index be made.
            index_->setInterrupt(
                [this] { return worker_.stopping() || (interruptible_ && worker_.superseded(serving_.load())); });
        }
        const auto built = [this, &request](std::int64_t done, std::int64_t total) {
            interruptible_ = false;
            listener_({request.number, FilterAnswer::Kind::Building, {}, done, total});
        };
        const Wait wait = Wait::For(SongStore::kBusyWait, [this] { return worker_.stopping(); });
        interruptible_ = false;
        if (!index_->bringUpToDate(wait, built)) return;
        interruptible_ = true;
        if (!search(request)) return;
        // Another program's change to tab1 is looked for once the rows are
        // shown; when it rebuilt the index, the rows are searched again.
        bool rebuilt = false;
        const auto rebuilding = [&](std::int64_t done, std::int64_t total) {
            rebuilt = true;
            built(done, total);
        };
        if (!index_->verify(wait, rebuilding)) return;
        interruptible_ = true;
        if (rebuilt && !over()) search(request);
    } catch (const StoreError&) {
        // An interrupted search was asked to end: its requester wants no answer.
        if (!over()) listener_({request.number, FilterAnswer::Kind::Failed, {}, 0, 0});
    }
    interruptible_ = false;
}

bool SongFilter::search(const Request& request) {
    const RowIdList& snapshot = request.snapshot->ids;
    const bool inOrder = ascending(snapshot);
    std::vector<std::int64_t> matched;
    bool firstTold = false;
    index_->matches(filterQuery(request.typed), [&](std::int64_t id) {
        matched.push_back(id);
        // The first rows can be told early only when the snapshot is in id
        // order, the order the index returns them in.
        if (!firstTold && inOrder && matched.size() == kFirstRows) {
            firstTold = true;
            listener_({request.number, FilterAnswer::Kind::First, firstRowsMatched(snapshot, matched), 0, 0});
        }
        return true;
    });
    if (worker_.superseded(request.number)) return false;
    listener_({request.number, FilterAnswer::Kind::Done, rowsMatched(snapshot, matched), 0, 0});
    return true;
}

}  // namespace store

#include "store/SongOrder.h"

#include <algorithm>
#include <unordered_map>

namespace store {
namespace {

// Ids this far apart at most are kept in a plain array; beyond (a table
// whose largest id was taken gives random ones) in a hash map.
constexpr std::int64_t kDenseSpan = std::int64_t{1} << 26;

// A value for each id of a list, zero for any other id.
template <typename T>
class IdMap {
public:
    // For the ids from `low` to `high`.
    IdMap(std::int64_t low, std::int64_t high) : low_(low), dense_(high - low < kDenseSpan) {
        if (dense_ && high >= low) values_.assign(static_cast<std::size_t>(high - low + 1), T{});
    }
    explicit IdMap(const RowIdList& ids) {
        if (ids.empty()) return;
        low_ = INT64_MAX;
        std::int64_t high = INT64_MIN;
        ids.forEach([&](std::int64_t id) {
            low_ = std::min(low_, id);
            high = std::max(high, id);
            return true;
        });
        dense_ = high - low_ < kDenseSpan;
        if (dense_) values_.assign(static_cast<std::size_t>(high - low_ + 1), T{});
    }
    T get(std::int64_t id) const {
        if (dense_) return id >= low_ && id - low_ < static_cast<std::int64_t>(values_.size()) ? values_[index(id)] : T{};
        const auto it = sparse_.find(id);
        return it == sparse_.end() ? T{} : it->second;
    }
    // `id` must be one of the list's.
    void set(std::int64_t id, T value) {
        if (dense_) values_[index(id)] = value;
        else sparse_[id] = value;
    }

private:
    std::size_t index(std::int64_t id) const { return static_cast<std::size_t>(id - low_); }
    std::int64_t low_ = 0;
    bool dense_ = true;
    std::vector<T> values_;
    std::unordered_map<std::int64_t, T> sparse_;
};

enum : std::uint8_t { kNotShown = 0, kWaiting = 1, kTold = 2 };

}  // namespace

bool betterLink(const SongOrderIndex::LinkRank& a, const SongOrderIndex::LinkRank& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    if (a.rank != 0) return false;
    if (a.kbps != b.kbps) return a.kbps > b.kbps;
    return a.size > b.size;
}

namespace {

RowIdList arrange(const RowIdList& rows,
                  const std::function<void(const std::function<bool(std::int64_t, bool)>&)>& ordered,
                  std::vector<std::int64_t>* missing, const std::function<void(RowIdList)>& first,
                  std::size_t firstRows) {
    IdMap<std::uint8_t> state(rows);
    rows.forEach([&](std::int64_t id) {
        state.set(id, kWaiting);
        return true;
    });
    std::vector<std::int64_t> front;
    std::vector<std::int64_t> back;
    bool firstTold = false;
    ordered([&](std::int64_t id, bool last) {
        if (state.get(id) != kWaiting) return true;
        state.set(id, kTold);
        (last ? back : front).push_back(id);
        if (first && !firstTold && front.size() == firstRows) {
            firstTold = true;
            RowIdList::Builder shown;
            for (const std::int64_t at : front) shown.add(at);
            first(shown.finish());
        }
        return true;
    });
    RowIdList::Builder result;
    for (const std::int64_t id : front) result.add(id);
    rows.forEach([&](std::int64_t id) {
        if (state.get(id) == kWaiting) {
            result.add(id);
            if (missing) missing->push_back(id);
        }
        return true;
    });
    for (const std::int64_t id : back) result.add(id);
    return result.finish();
}

}  // namespace

RowIdList inOrder(const RowIdList& rows,
                  const std::function<void(const std::function<bool(std::int64_t, bool)>&)>& ordered,
                  std::vector<std::int64_t>* missing) {
    return arrange(rows, ordered, missing, {}, 0);
}

namespace {

constexpr std::uint32_t kNoSong = UINT32_MAX;

// Which song each of a list's rows is: numbers counted along the title
// index, 1, 2, ...; kNoSong for a row the table lacks.
struct SongNumbers {
    explicit SongNumbers(const RowIdList& rows) : songOf(rows) {}
    IdMap<std::uint32_t> songOf;
    std::uint32_t songs = 0;
};

}  // namespace

// Every row of the order's table, numbered by song along the title index,
// kept while the table is unchanged.
struct SongOrder::SongCache {
    std::pair<std::int64_t, std::uint64_t> version;
    std::vector<std::int64_t> byTitle;
    IdMap<std::uint32_t> songOf{0, -1};
    std::uint32_t songs = 0;
};

namespace {

// The songs of `rows`; `titleOrder`, when given, gets the rows in the
// index's order (title, then rowid), the one pass serving a title sort too.
SongNumbers numberSongs(const RowIdList& rows, const SongOrder::SongCache& cache,
                        std::vector<std::int64_t>* titleOrder) {
    SongNumbers numbers(rows);
    numbers.songs = cache.songs;
    rows.forEach([&](std::int64_t id) {
        const std::uint32_t song = cache.songOf.get(id);
        numbers.songOf.set(id, song != 0 ? song : kNoSong);
        return true;
    });
    if (titleOrder)
        for (const std::int64_t id : cache.byTitle)
            if (numbers.songOf.get(id) != 0) titleOrder->push_back(id);
    return numbers;
}

// One row per song of `rows` (in their order), where the song first stands,
// showing its best link; and how many of `rows` each song has. `unknown`
// gets the rows the table lacks.
std::pair<RowIdList, std::shared_ptr<const std::vector<std::uint32_t>>> oneRowPerSong(
    const RowIdList& rows, const SongNumbers& numbers, SongOrderIndex& index, std::vector<std::int64_t>& unknown) {
    const IdMap<std::uint32_t>& songOf = numbers.songOf;
    const std::uint32_t songs = numbers.songs;
    std::unordered_map<std::int64_t, SongOrderIndex::LinkRank> probed;
    for (const SongOrderIndex::LinkRank& link : index.probedLinks()) probed.emplace(link.id, link);
    const auto rankOf = [&](std::int64_t id) {
        const auto it = probed.find(id);
        return it != probed.end() ? it->second : SongOrderIndex::LinkRank{id, 1, 0, 0};
    };
    struct Slot {
        SongOrderIndex::LinkRank best;
        std::uint32_t links = 0;
    };
    std::vector<std::uint32_t> slotOfSong(static_cast<std::size_t>(songs) + 1, kNoSong);
    std::vector<Slot> slots;
    rows.forEach([&](std::int64_t id) {
        const std::uint32_t song = songOf.get(id);
        if (song == kNoSong) unknown.push_back(id);
        std::uint32_t* slot = song == kNoSong ? nullptr : &slotOfSong[song];
        if (!slot || *slot == kNoSong) {
            if (slot) *slot = static_cast<std::uint32_t>(slots.size());
            slots.push_back({rankOf(id), 1});
            return true;
        }
        Slot& taken = slots[*slot];
        ++taken.links;
        // Ties keep the row that stands first.
        const SongOrderIndex::LinkRank rank = rankOf(id);
        if (betterLink(rank, taken.best)) taken.best = rank;
        return true;
    });
    RowIdList::Builder shown;
    auto links = std::make_shared<std::vector<std::uint32_t>>();
    links->reserve(slots.size());
    for (const Slot& slot : slots) {
        shown.add(slot.best.id);
        links->push_back(slot.links);
    }
    return {shown.finish(), std::move(links)};
}

}  // namespace

SongOrder::SongOrder(const std::string& path, Listener listener)
    : path_(path), listener_(std::move(listener)), worker_([this](const Request& request) { serve(request); }) {}

SongOrder::~SongOrder() = default;

std::uint64_t SongOrder::request(Arrangement arrangement, std::shared_ptr<const ResultsSnapshot> rows) {
    return worker_.ask(Request{0, arrangement, std::move(rows)});
}

void SongOrder::cancel() { worker_.cancel(); }

bool SongOrder::waitUntilIdle(std::chrono::milliseconds limit) { return worker_.waitUntilIdle(limit); }

const SongOrder::SongCache& SongOrder::songCache() {
    const auto version = index_->version();
    if (songCache_ && songCache_->version == version) return *songCache_;
    songCache_.reset();
    auto cache = std::make_unique<SongCache>();
    cache->version = version;
    std::vector<std::uint32_t> numbers;
    std::int64_t low = INT64_MAX;
    std::int64_t high = INT64_MIN;
    index_->songs([&](std::int64_t id, bool newSong) {
        if (newSong) ++cache->songs;
        cache->byTitle.push_back(id);
        numbers.push_back(cache->songs);
        low = std::min(low, id);
        high = std::max(high, id);
    });
    cache->songOf = IdMap<std::uint32_t>(low, high);
    for (std::size_t at = 0; at < numbers.size(); ++at) cache->songOf.set(cache->byTitle[at], numbers[at]);
    songCache_ = std::move(cache);
    return *songCache_;
}

bool SongOrder::addMissing(const std::vector<std::int64_t>& missing, const Wait& wait) {
    if (missing.empty()) return false;
    try {
        return index_->addRows(missing, wait) > 0;
    } catch (const StoreError&) {
        // A file locked for longer: the rows stay where the order put them
        // (after the others), and the next order tries again. An
        // interrupted request ends as it would have anyway.
        if (worker_.superseded(serving_.load())) throw;
        return false;
    }
}

void SongOrder::serve(const Request& request) {
    const std::uint64_t number = request.number;
    serving_ = number;
    const RowIdList& rows = request.rows->ids;
    const Arrangement& wanted = request.arrangement;
    // Nothing asked: the rows as they are, and no table made for them.
    if (!wanted.any()) {
        listener_({number, OrderAnswer::Kind::Done, rows, {}, 0, 0});
        return;
    }
    try {
        if (!index_) {
            index_ = std::make_unique<SongOrderIndex>(path_);
            // A build goes on from the last slice it finished, so a newer
            // request may end it too.
            index_->setInterrupt([this] { return worker_.superseded(serving_.load()); });
        }
        const Wait wait = Wait::For(SongStore::kBusyWait, [this, number] { return worker_.superseded(number); });
        const auto built = [this, number](std::int64_t done, std::int64_t total) {
            listener_({number, OrderAnswer::Kind::Building, {}, {}, done, total});
        };
        if (!index_->bringUpToDate(wait, built)) return;
        RowIdList ordered = rows;
        std::optional<SongNumbers> numbers;
        if (wanted.oneRowPerSong && wanted.sort.key == SortKey::Title) {
            // The title index's one pass numbers the songs and sorts the rows.
            std::vector<std::int64_t> titleOrder;
            numbers.emplace(numberSongs(rows, songCache(), &titleOrder));
            if (wanted.sort.descending) std::reverse(titleOrder.begin(), titleOrder.end());
            const auto read = [&](const std::function<bool(std::int64_t, bool)>& visit) {
                for (const std::int64_t id : titleOrder)
                    if (!visit(id, false)) return;
            };
            std::vector<std::int64_t> missing;
            ordered = arrange(rows, read, &missing, {}, 0);
            // Rows the table lacked: added, and the rows sorted the usual way.
            if (addMissing(missing, wait)) numbers.reset();
        }
        if (wanted.sort.key != SortKey::None && !numbers) {
            const auto read = [&](const std::function<bool(std::int64_t, bool)>& visit) {
                index_->ordered(wanted.sort, visit);
            };
            // The first screen goes ahead of the rest, unless the rows are
            // to be folded, which wants them all.
            const auto first = [&](RowIdList shown) {
                if (!worker_.superseded(number)) listener_({number, OrderAnswer::Kind::First, std::move(shown), {}, 0, 0});
            };
            const bool everyRow = wanted.sort.key == SortKey::Title || wanted.sort.key == SortKey::Keys ||
                                  wanted.sort.key == SortKey::Url;
            std::vector<std::int64_t> missing;
            ordered = arrange(rows, read, everyRow ? &missing : nullptr,
                              wanted.oneRowPerSong ? std::function<void(RowIdList)>() : first, kFirstRows);
            // Every row has a text to sort by: one the table lacks (a write
            // whose keeping failed, rows another program inserted between
            // this program's) is added, and the order read again.
            if (addMissing(missing, wait)) ordered = arrange(rows, read, nullptr, {}, 0);
        }
        if (worker_.superseded(number)) return;
        std::shared_ptr<const std::vector<std::uint32_t>> links;
        if (wanted.oneRowPerSong) {
            if (!numbers) numbers.emplace(numberSongs(ordered, songCache(), nullptr));
            std::vector<std::int64_t> unknown;
            auto folded = oneRowPerSong(ordered, *numbers, *index_, unknown);
            if (addMissing(unknown, wait)) {
                unknown.clear();
                numbers.emplace(numberSongs(ordered, songCache(), nullptr));
                folded = oneRowPerSong(ordered, *numbers, *index_, unknown);
            }
            if (worker_.superseded(number)) return;
            ordered = std::move(folded.first);
            links = std::move(folded.second);
        }
        listener_({number, OrderAnswer::Kind::Done, std::move(ordered), std::move(links), 0, 0});
    } catch (const StoreError&) {
        // An interrupted request was asked to end: its requester wants no answer.
        if (!worker_.superseded(number)) listener_({number, OrderAnswer::Kind::Failed, {}, {}, 0, 0});
    }
}

}  // namespace store

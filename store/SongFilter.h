#pragma once
// Filtering a results snapshot as the user types, on a thread of its own:
// the rows of the snapshot whose title or keyword holds the text
// (SongFilterIndex), in the snapshot's order. The newest request wins: one
// asked for while another runs ends the running search and drops whatever
// waited. The index is made, caught up or rebuilt before a search when it
// must be, slice by slice, telling its progress; a search is never kept
// waiting behind older ones.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "store/NewestRequestWorker.h"
#include "store/SongStore.h"

namespace store {

class SongFilterIndex;

struct FilterAnswer {
    enum class Kind {
        Building,  // the index is being made: built of toBuild rows so far
        First,     // the first matching rows, before the search has ended
        Done,      // every matching row
        Failed,    // the store could not answer now (locked, damaged)
    };
    std::uint64_t request = 0;
    Kind kind = Kind::Done;
    // The snapshot's matching rows, in its order.
    RowIdList ids;
    std::int64_t built = 0;
    std::int64_t toBuild = 0;
};

// The snapshot's rows whose ids are in `matched` (ascending), in the
// snapshot's order.
RowIdList rowsMatched(const RowIdList& snapshot, const std::vector<std::int64_t>& matched);

class SongFilter {
public:
    // Called on the filter's thread with each answer; must not call back.
    using Listener = std::function<void(FilterAnswer)>;
    // The first answer of a search holds this many rows at most.
    static constexpr std::size_t kFirstRows = 256;

    SongFilter(const std::string& path, Listener listener);
    ~SongFilter();
    SongFilter(const SongFilter&) = delete;
    SongFilter& operator=(const SongFilter&) = delete;

    // Asks for the rows of `snapshot` that `typed` finds (typed as the user
    // typed it, folded here); returns the request's number, which its
    // answers carry. Earlier requests get no more answers.
    std::uint64_t request(std::string typed, std::shared_ptr<const ResultsSnapshot> snapshot);
    // Drops every request; the running one ends without an answer.
    void cancel();
    // Waits until nothing is asked or running; false when something still
    // was after `limit`.
    bool waitUntilIdle(std::chrono::milliseconds limit);

private:
    struct Request {
        std::uint64_t number = 0;
        std::string typed;
        std::shared_ptr<const ResultsSnapshot> snapshot;
    };
    void serve(const Request& request);
    bool search(const Request& request);

    const std::string path_;
    Listener listener_;
    std::unique_ptr<SongFilterIndex> index_;

    std::atomic<std::uint64_t> serving_{0};
    std::atomic<bool> interruptible_{false};
    // Last: its thread ends before what it serves with goes.
    NewestRequestWorker<Request> worker_;
};

}  // namespace store

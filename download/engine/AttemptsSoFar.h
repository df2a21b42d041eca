#pragma once
// What an item's earlier attempts in a run came to, carried to a later
// transfer of the same song: a queue that gives a song's place away during
// a long pause before another attempt takes the song up again as a new item,
// and the attempts go on counting from here instead of from nothing.
#include <cstdint>
#include <vector>

namespace dl {

// One further attempt and why it was made (TransferOutcome::Retry).
struct RetryReason {
    // The line broke or fell silent in the middle, and the rest was asked
    // for; or the whole song was asked again after a failure.
    enum class Kind : std::uint8_t { RestOfBrokenLine, WholeAgain };
    Kind kind = Kind::WholeAgain;
    std::int32_t errorCode = 0;   // WholeAgain: the failure it followed
    std::int32_t statusCode = 0;  // and that answer's status; 0: none
};

struct AttemptsSoFar {
    // Further attempts spent, each with its reason.
    std::int32_t spent = 0;
    std::vector<RetryReason> reasons;
    // Answers 206 appended over the attempts whose bytes went on.
    std::int32_t continuations = 0;
    // Where the first attempt's bytes began (TransferOutcome::fromKept,
    // fromKeptHere), and whether every later one went on from them.
    bool beganKept = false;
    bool keptHere = false;
    bool chainUnbroken = true;
};

}  // namespace dl

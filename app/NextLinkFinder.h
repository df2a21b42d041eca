#pragma once
// What the downloads list asks when a song's link has failed for good: the
// song's next link (dl::OrderNextLinks over the song's links in the store
// and what probes said of them), the kept part handed to it when it is the
// same file. StoreNextLinkFinder is the program's; tests may give their own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "download/engine/TransferOutcome.h"

namespace app {

class NextLinkFinder {
public:
    struct Ask {
        std::int64_t id = 0;  // the list's row id; the answer names it
        std::string title;
        std::string failedUrl;
        // How it failed, so that what it says of the link is kept.
        dl::FailureClass failure = dl::FailureClass::None;
        std::int32_t errorCode = 0;
        std::int32_t statusCode = 0;
        std::string reason;  // in the user's words
        // Every link the song has been on, the failed one included.
        std::vector<std::string> tried;
        std::string folder;    // absolute, ending in "/"
        std::string fileName;  // the destination name
        bool kept = false;     // bytes of the failed link were kept
    };
    struct Found {
        std::int64_t id = 0;
        std::string url;       // empty: the song has no further link to take
        bool carried = false;  // the kept bytes go on from the new link
    };

    virtual ~NextLinkFinder() = default;
    // Set before the first ask; answers come on the UI thread, one per ask,
    // never from inside find().
    virtual void setAnswer(std::function<void(const Found&)> answer) = 0;
    virtual void find(const Ask& ask) = 0;
    // Every ask still open is dropped, unanswered (the program is closing).
    virtual void stopAll() = 0;
};

}  // namespace app

#pragma once
// What was asked of one download item: the address, how to ask for it, and
// where and within what limits its bytes go. Set by whoever fills the item
// before it is handed to a download thread; the transfer reads it. The
// fields the collection's own copies and handlers work with are open; the
// rules this program added for saving and going on are kept behind accessors
// so that each is set in one named place.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "download/engine/AttemptsSoFar.h"
#include "download/engine/TDlCookiesList.h"
#include "download/engine/TDlInternetOptions.h"

namespace dl {

class TDlHTMLLink;

enum TDlMethod : std::uint8_t { dmGet = 0, dmPost = 1 };
// The request body: a string as it is, or bytes.
using TDlPostData = std::variant<std::monostate, std::string, std::vector<std::uint8_t>>;

class ItemRequest {
public:
    std::string URL;
    std::string AcceptTypes;  // one type per line
    std::int32_t Level = 0;   // 0: made by the component; -1: made from a page link
    TDlHTMLLink* Link = nullptr;  // not owned
    TDlPostData PostData;
    std::string ExtraHeaders;
    TDlMethod Method = dmGet;
    std::string UserName;
    std::string Password;
    bool CheckOnly = false;
    bool IsLink = false;
    TDlInternetOptions Options;  // taken from the collection when the item is handed out
    std::string Name;
    bool Reload = false;
    std::vector<std::string> RejectTypes;
    TDlCookiesList SendCookies;
    std::string LocalFileName;
    std::string Referer;
    bool RemoveWhenDone = false;
    bool StripCookieAttributes = true;
    bool NoRedirect = false;

    // Where the bytes are written through while they arrive: a part file in
    // this folder (made when missing). Empty: they are held in memory. An
    // HTML answer is held in memory up to kPageInMemoryLimit all the same
    // (page mode reads it), and beyond that goes to the file.
    const std::string& SaveFolder() const { return saveFolder_; }
    void SetSaveFolder(std::string folder) { saveFolder_ = std::move(folder); }
    // 0: none; otherwise more bytes than this, announced or received, fail
    // the item with code 8 at once (checked after every read).
    std::uint32_t SizeLimit() const { return sizeLimit_; }
    void SetSizeLimit(std::uint32_t limit) { sizeLimit_ = limit; }
    // Page mode: how many pages lie between this item and the page the run
    // began with (0 for that page and items not made from a page).
    std::int32_t PageDepth() const { return pageDepth_; }
    void SetPageDepth(std::int32_t depth) { pageDepth_ = depth; }
    // The transfer picks up where it stopped instead of starting over: when
    // the connection drops, or the server falls silent past the data time
    // limit, after some bytes of the song arrived, it asks for the rest
    // ("Range", "If-Range"), within the item's further attempts in a run
    // (ItemAttempts.h); and with KeepName it continues a part file an
    // earlier run kept for the same URL and name, and keeps its own when it
    // fails or is stopped. Never for a POST, an HTML answer, or anything but
    // http and https.
    bool ContinueTransfer() const { return continueTransfer_; }
    void SetContinueTransfer(bool value) { continueTransfer_ = value; }
    // The name (in SaveFolder) the song's file is to take: what a kept part
    // file is matched by. Empty: nothing is kept or continued across runs.
    const std::string& KeepName() const { return keepName_; }
    void SetKeepName(std::string name) { keepName_ = std::move(name); }
    // The song's attempts before this item, when it takes up a song whose
    // place was given away during a pause (TransferOutcome::retryIn). Set
    // before the item is handed to a thread.
    const std::optional<AttemptsSoFar>& CarriedAttempts() const { return carriedAttempts_; }
    void SetCarriedAttempts(std::optional<AttemptsSoFar> attempts) { carriedAttempts_ = std::move(attempts); }

private:
    std::string saveFolder_;
    std::uint32_t sizeLimit_ = 0;
    std::int32_t pageDepth_ = 0;
    bool continueTransfer_ = false;
    std::string keepName_;
    std::optional<AttemptsSoFar> carriedAttempts_;
};

}  // namespace dl

#pragma once
// The downloads list's next-link finder over the store file: a song's links
// are the rows whose titles name the same song (store::SongKeyIndex), ordered
// by the verdicts kept for them (store::LinkVerdictStore); the failed link's
// own failure is kept there as its verdict. The store's reads and the probe
// of a new link for the kept part run on a thread of its own, one ask after
// another; it stops (and waits for that thread) when destroyed.
#include <memory>
#include <string>

#include "app/NextLinkFinder.h"

namespace app {

std::unique_ptr<NextLinkFinder> makeStoreNextLinkFinder(const std::string& storePath);

}  // namespace app

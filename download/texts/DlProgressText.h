#pragma once
// What the download progress window reads out of an address and a run: the
// label of the item being fetched, and the bar's position.
#include <cstdint>
#include <string>

namespace dl {

// The URL's file part, " from " and its host. The file part is everything
// after the last "/", "\" or ":" (the whole URL when it has none; a query
// stays attached). The host is split as the connected-state check splits
// it: empty for a URL without "://".
std::string DownloadLabelText(const std::string& url);

// step × sum ÷ (count × 100), taken to the nearest integer with halves to
// even: the share of the bar that `count` items with `sum` percent between
// them have reached. A count below 1 counts as 1.
int ProgressPosition(int step, std::int64_t sum, int count);

}  // namespace dl

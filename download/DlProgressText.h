#pragma once
// What the download progress window shows: the item being fetched, the
// figures of the run, and the bar's position.
#include <cstdint>
#include <string>

#include <QLocale>
#include <QString>

namespace dl {

// The URL's file part, " from " and its host. The file part is everything
// after the last "/", "\" or ":" (the whole URL when it has none; a query
// stays attached). The host is split as the connected-state check splits
// it: empty for a URL without "://".
std::string DownloadLabelText(const std::string& url);

// A byte count in kilobytes, with two decimals in the locale's decimal
// separator and without grouping: 1536 gives "1.50".
QString KilobyteFigure(double bytes, const QLocale& locale = QLocale::system());

// step × sum ÷ (count × 100), taken to the nearest integer with halves to
// even: the share of the bar that `count` items with `sum` percent between
// them have reached. A count below 1 counts as 1.
int ProgressPosition(int step, std::int64_t sum, int count);

}  // namespace dl

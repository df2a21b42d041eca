// Sorting the downloads list's rows by a column, as a click on its title
// does: the list's own sorting model against Qt's, over the same rows.
//   bench_list_sort [ROWS...]   (default: 100000 1000000)
//
// For each count, rows of finished songs (titles "月亮 第N首 song i", sizes
// that differ) in a DownloadListModel; each model sorts them by 歌曲 (text)
// and by 大小 (numbers), ascending then descending, and the time of each
// sort is taken, the model's rows in the order it gives checked against
// each other. Bound: at the largest count, every sort by the list's model
// takes at most a third of the time Qt's takes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QSortFilterProxyModel>

#include "app/DownloadListModel.h"
#include "app/ListSortModel.h"
#include "bench/support/Figures.h"

namespace {

using benchsupport::bound;
using benchsupport::Clock;
using benchsupport::secondsSince;

std::vector<store::ListEntry> rowsOf(int count) {
    std::vector<store::ListEntry> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        store::ListEntry e;
        e.id = i + 1;
        // Not in the order of the ids, so that a sort has work to do.
        const int n = static_cast<int>((static_cast<std::uint64_t>(i) * 2654435761u) % static_cast<std::uint64_t>(count));
        e.title = "月亮 第" + std::to_string(n / 10 + 1) + "首 song " + std::to_string(n);
        e.url = "http://127.0.0.1/mp3/" + std::to_string(i) + ".mp3";
        e.folder = "/home/user/downmp3/";
        e.fileName = e.title + ".mp3";
        e.path = e.folder + e.fileName;
        e.state = store::ListState::Finished;
        e.received = 1000000 + (n % 5000) * 1000;
        e.total = e.received;
        rows.push_back(std::move(e));
    }
    return rows;
}

// Seconds for the sort, and the source rows in the order it gave.
double timeSort(QSortFilterProxyModel& sorting, int column, Qt::SortOrder order, std::vector<int>& shown) {
    const Clock::time_point start = Clock::now();
    sorting.sort(column, order);
    const double seconds = secondsSince(start);
    shown.clear();
    for (int row = 0; row < sorting.rowCount(); ++row) shown.push_back(sorting.mapToSource(sorting.index(row, 0)).row());
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {100000, 1000000};
    std::printf("sorting the downloads list's rows by a column\n");
    std::printf("%-9s | %-22s | %-14s | %-14s | %s\n", "rows", "column", "list's (s)", "Qt's (s)", "same order");
    int failures = 0;
    struct Sort {
        const char* what;
        int column;
        Qt::SortOrder order;
    };
    const std::vector<Sort> sorts = {
        {"歌曲, ascending", app::DownloadListModel::SongColumn, Qt::AscendingOrder},
        {"歌曲, descending", app::DownloadListModel::SongColumn, Qt::DescendingOrder},
        {"大小, ascending", app::DownloadListModel::SizeColumn, Qt::AscendingOrder},
        {"大小, descending", app::DownloadListModel::SizeColumn, Qt::DescendingOrder},
    };
    for (int count : sizes) {
        app::DownloadListModel model;
        model.setEntries(rowsOf(count));
        app::ListSortModel listSorting;
        QSortFilterProxyModel qtSorting;
        for (QSortFilterProxyModel* sorting : {static_cast<QSortFilterProxyModel*>(&listSorting), &qtSorting}) {
            sorting->setSortRole(app::DownloadListModel::SortRole);
            sorting->setDynamicSortFilter(true);
            sorting->setSourceModel(&model);
        }
        double worstRatio = 0;
        for (const Sort& s : sorts) {
            std::vector<int> ours, theirs;
            const double list = timeSort(listSorting, s.column, s.order, ours);
            const double qt = timeSort(qtSorting, s.column, s.order, theirs);
            worstRatio = std::max(worstRatio, qt > 0 ? list / qt : 1.0);
            std::printf("%-9d | %-22s | %-14.3f | %-14.3f | %s\n", count, s.what, list, qt, ours == theirs ? "yes" : "NO");
            std::fflush(stdout);
            failures += bound(ours == theirs, "the list's sort gave another order than Qt's");
        }
        if (count == *std::max_element(sizes.begin(), sizes.end()))
            failures += bound(worstRatio <= 1.0 / 3, "the list's sort in a third of Qt's time");
    }
    return failures == 0 ? 0 : 1;
}

#pragma once
// What the grid knows of the songs already downloaded: address to the file
// it was finished into and whether that file is still there as it was
// saved, in memory, changed by FinishedSongChecker after each check of the
// files: only what changed, so the UI thread's share follows the changes,
// not the songs. The grid looks a row up by its address only, a hash
// look-up, so a marked row draws as fast as any other. UI thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QObject>

#include "store/FinishedFileCheck.h"

namespace store {

struct FinishedMark {
    FinishedFileState state = FinishedFileState::Kept;
    std::string path;  // absolute
    std::int64_t size = 0;
    bool operator==(const FinishedMark&) const = default;
};

using FinishedMarks = std::unordered_map<std::string, FinishedMark>;
// An address's new mark, or none: no record of it any more.
using FinishedChange = std::pair<std::string, std::optional<FinishedMark>>;

class GridFinishedSongs : public QObject {
    Q_OBJECT
public:
    explicit GridFinishedSongs(QObject* parent = nullptr) : QObject(parent) {}

    // The mark of `url`; nullptr when no download of it finished.
    const FinishedMark* find(const std::string& url) const;
    bool empty() const { return marks_.empty(); }
    std::size_t size() const { return marks_.size(); }

    // Takes the changes of a check, in order; tells once.
    void apply(std::vector<FinishedChange> changes);

signals:
    void changed();

private:
    FinishedMarks marks_;
};

}  // namespace store

#pragma once
// What the grid knows of its links' verdicts: address to verdict, in memory,
// filled from the store (GridVerdictLoader) and by the probes as their
// verdicts come. The grid looks a row up by its address only, a hash
// look-up, so a probed row draws as fast as any other. Changes are told
// once for a burst of them, at most ten times a second. UI thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include <QObject>
#include <QTimer>

#include "store/LinkVerdictStore.h"

namespace store {

class GridVerdicts : public QObject {
    Q_OBJECT
public:
    using Now = std::function<std::int64_t()>;  // seconds since 1970

    explicit GridVerdicts(QObject* parent = nullptr);

    // The verdict of `url` (its own url, etag and lastModified left empty:
    // the grid needs none of them); nullptr when it has none.
    const StoredVerdict* find(const std::string& url) const;
    bool empty() const { return verdicts_.empty(); }
    std::size_t size() const { return verdicts_.size(); }

    // Keeps a verdict unless the one held was checked later (a slow reading
    // of the store must not undo a probe that ended meanwhile).
    void put(StoredVerdict verdict);
    void putAll(std::vector<StoredVerdict> verdicts);

    // The clock the tooltips' "N 分钟前" is read against; replaceable for tests.
    std::int64_t now() const { return now_(); }
    void setClock(Now now) { now_ = std::move(now); }

signals:
    // Verdicts were added or changed since the last time.
    void changed();

private:
    void keep(StoredVerdict verdict);

    std::unordered_map<std::string, StoredVerdict> verdicts_;
    Now now_;
    QTimer tell_;
};

}  // namespace store

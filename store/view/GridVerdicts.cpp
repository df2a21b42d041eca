#include "store/view/GridVerdicts.h"

#include <ctime>

namespace store {

GridVerdicts::GridVerdicts(QObject* parent) : QObject(parent), now_([] { return std::int64_t(std::time(nullptr)); }) {
    tell_.setSingleShot(true);
    tell_.setInterval(100);
    connect(&tell_, &QTimer::timeout, this, &GridVerdicts::changed);
}

const StoredVerdict* GridVerdicts::find(const std::string& url) const {
    const auto it = verdicts_.find(url);
    return it == verdicts_.end() ? nullptr : &it->second;
}

void GridVerdicts::keep(StoredVerdict verdict) {
    // The grid shows none of the validators; the address is the key.
    verdict.etag.clear();
    verdict.lastModified.clear();
    auto [it, added] = verdicts_.try_emplace(verdict.url);
    if (!added && it->second.checkedAt > verdict.checkedAt) return;
    verdict.url.clear();
    it->second = std::move(verdict);
}

void GridVerdicts::put(StoredVerdict verdict) {
    keep(std::move(verdict));
    if (!tell_.isActive()) tell_.start();
}

void GridVerdicts::putAll(std::vector<StoredVerdict> verdicts) {
    if (verdicts.empty()) return;
    for (StoredVerdict& v : verdicts) keep(std::move(v));
    if (!tell_.isActive()) tell_.start();
}

}  // namespace store

#include "app/ListRowIndex.h"

#include <string_view>
#include <utility>

#include "app/ListRowTrust.h"
#include "download/files/DlFileNames.h"

namespace app {
namespace {

std::uint64_t hashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }

std::uint64_t combined(std::uint64_t a, std::uint64_t b) {
    return a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
}

std::string titleFileName(const std::string& title) { return dl::SafeDestinationName(listFileName(title, 1)); }

// The n of listFileName(title, n) that gave `fileName`; 0 for a name it
// does not give.
int numberOf(const std::string& fileName, const std::string& title) {
    if (fileName == listFileName(title, 1)) return 1;
    const std::string head = title + " (", tail = ").mp3";
    if (fileName.size() <= head.size() + tail.size() || fileName.compare(0, head.size(), head) != 0 ||
        fileName.compare(fileName.size() - tail.size(), tail.size(), tail) != 0)
        return 0;
    const std::string digits = fileName.substr(head.size(), fileName.size() - head.size() - tail.size());
    if (digits.size() > 9 || digits.front() == '0') return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

}  // namespace

ListRowIndex::ListRowIndex(std::string folder, EntryOf entryOf)
    : folder_(std::move(folder)), entryOf_(std::move(entryOf)) {}

bool ListRowIndex::isActive(const store::ListEntry& entry) {
    return entry.state == store::ListState::Waiting || entry.state == store::ListState::Downloading;
}

bool ListRowIndex::isKept(const store::ListEntry& entry) {
    return isActive(entry) || entry.state == store::ListState::Finished;
}

std::uint64_t ListRowIndex::songKey(const std::string& url, const std::string& titleName) {
    return combined(hashOf(url), hashOf(titleName));
}

std::uint64_t ListRowIndex::fileKey(const std::string& safeName) { return hashOf(safeName); }

std::uint64_t ListRowIndex::titleKey(const std::string& title) { return hashOf(title); }

void ListRowIndex::eraseId(Ids& ids, std::uint64_t key, std::int64_t id) {
    auto& shard = ids.shard(key);
    auto [first, last] = shard.equal_range(key);
    for (auto at = first; at != last; ++at) {
        if (at->second == id) {
            shard.erase(at);
            return;
        }
    }
}

void ListRowIndex::insert(const store::ListEntry& entry) {
    if (!inFolder(entry) || !isKept(entry)) return;
    const std::uint64_t song = songKey(entry.url, titleFileName(entry.title));
    songs_.shard(song).emplace(song, entry.id);
    if (!isActive(entry)) return;
    const std::uint64_t file = fileKey(dl::SafeDestinationName(entry.fileName));
    files_.shard(file).emplace(file, entry.id);
}

void ListRowIndex::erase(const store::ListEntry& entry) {
    if (!inFolder(entry) || !isKept(entry)) return;
    eraseId(songs_, songKey(entry.url, titleFileName(entry.title)), entry.id);
    if (!isActive(entry)) return;
    eraseId(files_, fileKey(dl::SafeDestinationName(entry.fileName)), entry.id);
    // Its name is free again: the next song of its title may have it.
    const int n = numberOf(entry.fileName, entry.title);
    const auto hint = firstTry_.find(titleKey(entry.title));
    if (n <= 0 || hint == firstTry_.end() || hint->second <= n) return;
    if (n == 1) {
        firstTry_.erase(hint);
    } else {
        hint->second = n;
    }
}

void ListRowIndex::update(const store::ListEntry& before, const store::ListEntry& after) {
    if (before.id == after.id && before.url == after.url && before.title == after.title &&
        before.fileName == after.fileName && before.folder == after.folder && isActive(before) == isActive(after) &&
        isKept(before) == isKept(after))
        return;
    erase(before);
    insert(after);
}

void ListRowIndex::clear() {
    songs_.clear();
    files_.clear();
    firstTry_.clear();
}

std::vector<std::int64_t> ListRowIndex::songRows(const std::string& url, const std::string& titleName) const {
    std::vector<std::int64_t> rows;
    const std::uint64_t key = songKey(url, titleName);
    auto [first, last] = songs_.shard(key).equal_range(key);
    for (auto at = first; at != last; ++at) {
        const store::ListEntry* e = entryOf_(at->second);
        if (e && isKept(*e) && inFolder(*e) && e->url == url && titleFileName(e->title) == titleName)
            rows.push_back(e->id);
    }
    return rows;
}

std::int64_t ListRowIndex::fetching(const std::string& url, const std::string& safeName) const {
    const std::uint64_t key = fileKey(safeName);
    auto [first, last] = files_.shard(key).equal_range(key);
    for (auto at = first; at != last; ++at) {
        const store::ListEntry* e = entryOf_(at->second);
        if (e && isActive(*e) && inFolder(*e) && e->url == url && dl::SafeDestinationName(e->fileName) == safeName)
            return e->id;
    }
    return 0;
}

bool ListRowIndex::nameTaken(const std::string& safeName) const {
    const std::uint64_t key = fileKey(safeName);
    auto [first, last] = files_.shard(key).equal_range(key);
    for (auto at = first; at != last; ++at) {
        const store::ListEntry* e = entryOf_(at->second);
        if (e && isActive(*e) && inFolder(*e) && dl::SafeDestinationName(e->fileName) == safeName) return true;
    }
    return false;
}

std::string ListRowIndex::freeFileName(const std::string& title) {
    const std::uint64_t key = titleKey(title);
    const auto hint = firstTry_.find(key);
    int n = hint == firstTry_.end() ? 1 : hint->second;
    while (nameTaken(dl::SafeDestinationName(listFileName(title, n)))) ++n;
    // The next song of this title need not try the numbers below; a title
    // that has its plain name keeps no entry.
    if (n > 1) {
        firstTry_[key] = n;
    } else if (hint != firstTry_.end()) {
        firstTry_.erase(hint);
    }
    return listFileName(title, n);
}

}  // namespace app

#pragma once
// The words of a link's verdict, as the grid's tooltip and the downloads
// list show them: "可用：128 kbps，4:12，3.9 MB（2 分钟前检查）",
// "失效：HTTP 404（刚刚检查）". What the probe did not learn is left out.
#include <cstdint>

#include <QString>

#include "store/LinkVerdictStore.h"

namespace store {

// 可用, 不是歌曲, 失效, 暂时不可用.
QString verdictWord(LinkVerdictKind kind);

// Why the link is what it is, in a few words: "HTTP 404", "找不到服务器",
// "网页", "空的回答"; "错误 12345" for a failure without a name of its own;
// empty for a playable link, or when nothing is known.
QString verdictReason(const StoredVerdict& verdict);

// How long ago `checkedAt` was at `now` (both seconds since 1970):
// "刚刚检查" under a minute (and for a time still to come), then
// "N 分钟前检查", "N 小时前检查", "N 天前检查".
QString checkedAgo(std::int64_t checkedAt, std::int64_t now);

// The whole line: the word, what is known (bit rate, length, size for a
// playable link; the reason for the others) and when it was checked.
QString verdictDetails(const StoredVerdict& verdict, std::int64_t now);

// "4:12", "1:02:03"; "3.9 MB", "512 KB", "900 字节".
QString songLength(double seconds);
QString linkSize(std::int64_t bytes);

}  // namespace store

#pragma once
// The downloads list's own settings (下载设置...): how many songs download at
// once and how fast the list may take bytes, kept in the program's settings
// (ProgramSettings.h) and read at start-up. A value the file holds that is
// out of range reads as the default.
#include <cstdint>

namespace app {

struct ListSettings {
    static constexpr int kMinAtATime = 1;
    static constexpr int kMaxAtATime = 5;
    static constexpr int kDefaultAtATime = 2;
    // The limit a user may give, in KB/s (1 KB = 1024 bytes).
    // At least 10: shared by up to 5 songs, each keeps above the 1 KB/s
    // under which a transfer counts as stalled (InetSession.h).
    static constexpr int kMinLimitKBps = 10;
    static constexpr int kMaxLimitKBps = 1024 * 1024;
    static constexpr int kDefaultLimitKBps = 512;

    int atATime = kDefaultAtATime;
    // The list's downloads together take at most this much; off by default.
    bool limitSpeed = false;
    int limitKBps = kDefaultLimitKBps;

    // Bytes per second for the downloader; 0: no limit.
    std::int64_t bytesPerSecond() const { return limitSpeed ? std::int64_t(limitKBps) * 1024 : 0; }
    bool operator==(const ListSettings&) const = default;
};

ListSettings loadListSettings();
void saveListSettings(const ListSettings& settings);

}  // namespace app

#pragma once
// 检查链接 of the results grid: probes the addresses of the chosen rows on a
// thread of its own (LinkProber: many at once, a few per host), keeps each
// verdict in the store through a connection of its own, and hands each to
// the UI thread as it comes, where GridVerdicts shows it on the rows.
//
// A check asked for while one runs waits for it and runs next; an address
// already waiting or being probed is not probed twice, so a second 检查链接
// on the same rows adds nothing. Each check ends with one log line counting
// its verdicts. An address is requested as a download would request it
// (inet::browserUrl), and its verdict kept under the address as stored.
// Closing the window stops the probes under way; the verdicts
// already in are kept, what was not judged is not recorded.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <QObject>
#include <QString>
#include <QStringList>

#include "download/inet/LinkProber.h"

namespace store {
class GridVerdicts;
}

namespace app {

class GridLinkChecks {
public:
    using Log = std::function<void(const QString& line)>;

    // Made on the UI thread, which `verdicts` and `log` belong to.
    GridLinkChecks(std::string storePath, store::GridVerdicts& verdicts, Log log, inet::ProbeSettings settings = {});
    // Stops, and waits for the thread.
    ~GridLinkChecks();
    GridLinkChecks(const GridLinkChecks&) = delete;
    GridLinkChecks& operator=(const GridLinkChecks&) = delete;

    // UI thread: checks these addresses, after the checks asked for before.
    // Only http and https addresses are probed (one log line names how
    // many others were left); each address once.
    void check(const QStringList& urls);
    // Ends the check under way soon and drops those waiting; nothing more
    // is shown or logged. Any thread.
    void stop();
    // True when no check waits or runs (for tests).
    bool idle() const;

private:
    struct Check {
        std::vector<std::string> urls;
    };
    struct Tally {
        int audio = 0, notAudio = 0, dead = 0, unavailable = 0;
    };

    void run();
    void probe(const Check& check);
    void toUi(std::function<void()> call);

    const std::string path_;
    store::GridVerdicts& verdicts_;
    const Log log_;
    const inet::ProbeSettings settings_;
    // The UI thread's end of the hand-offs: gone with this object, and
    // every call still queued to it with it.
    QObject receiver_;
    // Calls for the UI thread, handed over under their own lock (which the
    // thread checkers see, unlike Qt's event queue); a posted drain runs them.
    std::mutex uiMutex_;
    std::deque<std::function<void()>> uiCalls_;
    void runUiCalls();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Check> waiting_;
    std::unordered_set<std::string> asked_;  // waiting or being probed
    bool running_ = false;
    bool stopping_ = false;
    inet::LinkProber* prober_ = nullptr;  // of the check under way, for stop()
    std::thread thread_;                  // last: runs on the members above
};

}  // namespace app

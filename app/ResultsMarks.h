#pragma once
// What the results grid's rows carry beside their fields: their links'
// verdicts (kept ones read from the store, new ones from 检查链接's probes)
// and the songs already downloaded (recorded when a download saves one,
// their files checked on a worker). Made on the UI thread, before the
// grid's model, which reads the two maps and must go first.
#include <functional>
#include <memory>
#include <string>

#include <QString>

namespace store {
class FinishedSongChecker;
class GridFinishedSongs;
class GridVerdictLoader;
class GridVerdicts;
}  // namespace store

namespace app {

class FinishedSongRecorder;
class GridLinkChecks;

class ResultsMarks {
public:
    using Log = std::function<void(const QString& line)>;

    ResultsMarks(const std::string& storePath, Log log);
    // Ends the probes and the readers, then writes what was recorded last,
    // within a second.
    ~ResultsMarks();
    ResultsMarks(const ResultsMarks&) = delete;
    ResultsMarks& operator=(const ResultsMarks&) = delete;

    store::GridVerdicts& verdicts() { return *verdicts_; }
    store::GridFinishedSongs& finishedSongs() { return *finished_; }
    store::GridVerdictLoader& verdictLoader() { return *verdictLoader_; }
    GridLinkChecks& linkChecks() { return *linkChecks_; }
    store::FinishedSongChecker& finishedChecker() { return *finishedChecker_; }
    // Told by the downloads list and the modal commands; outlives both.
    FinishedSongRecorder& recorder() { return *recorder_; }

    // The window closes: no probe or reading goes on.
    void stop();
    // The probes and the verdicts' reader go now: they hand work to the
    // window. The records stay until this goes.
    void endLinkWork();

private:
    std::unique_ptr<store::GridVerdicts> verdicts_;
    std::unique_ptr<store::GridFinishedSongs> finished_;
    std::unique_ptr<store::GridVerdictLoader> verdictLoader_;
    std::unique_ptr<GridLinkChecks> linkChecks_;
    std::unique_ptr<store::FinishedSongChecker> finishedChecker_;
    std::unique_ptr<FinishedSongRecorder> recorder_;
};

}  // namespace app

#include "app/ResultsMarks.h"

#include "app/FinishedSongRecorder.h"
#include "app/GridLinkChecks.h"
#include "store/view/FinishedSongChecker.h"
#include "store/view/GridFinishedSongs.h"
#include "store/view/GridVerdictLoader.h"
#include "store/view/GridVerdicts.h"

namespace app {

ResultsMarks::ResultsMarks(const std::string& storePath, Log log)
    : verdicts_(std::make_unique<store::GridVerdicts>()),
      finished_(std::make_unique<store::GridFinishedSongs>()),
      verdictLoader_(std::make_unique<store::GridVerdictLoader>(storePath, *verdicts_)),
      linkChecks_(std::make_unique<GridLinkChecks>(storePath, *verdicts_, std::move(log))),
      finishedChecker_(std::make_unique<store::FinishedSongChecker>(storePath, *finished_)),
      recorder_(std::make_unique<FinishedSongRecorder>(
          [checker = finishedChecker_.get()](store::FinishedSong song) { checker->record(std::move(song)); })) {}

ResultsMarks::~ResultsMarks() {
    endLinkWork();
    // The recorder tells the checker: it goes first.
    recorder_.reset();
    finishedChecker_.reset();
}

void ResultsMarks::stop() {
    if (linkChecks_) linkChecks_->stop();
    if (verdictLoader_) verdictLoader_->stop();
}

void ResultsMarks::endLinkWork() {
    linkChecks_.reset();
    verdictLoader_.reset();
}

}  // namespace app

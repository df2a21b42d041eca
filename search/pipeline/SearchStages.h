#pragma once
// The three relay stages of a search and the worker that announces its end.
#include <functional>
#include <string>
#include <thread>

#include "search/SearchState.h"
#include "search/pipeline/FetchBackOff.h"
#include "search/pipeline/PageFetcher.h"
#include "search/pipeline/SearchUi.h"
#include "search/pipeline/TStageThread.h"

namespace store {
class SongStore;
}

namespace search {

// Builds the address of the next result page, on the UI thread.
class TMakeURl : public TStageThread {
public:
    TMakeURl(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit, SearchState& state,
             SearchUi& ui);
    ~TMakeURl() override;

protected:
    void Step() override;

private:
    SearchState& state_;
    SearchUi& ui_;
};

// Fetches the current page; a failed fetch is logged and, after a pause, the
// relay goes on, until too many fail in a row: then `gaveUp` runs (on this
// stage's thread) instead.
class TReadWeb : public TStageThread {
public:
    TReadWeb(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit, SearchState& state,
             SearchUi& ui, PageFetcher& fetcher, FetchBackOff backOff = {},
             std::function<void()> gaveUp = {});
    ~TReadWeb() override;

protected:
    void Step() override;
    void OnHalt() override;

private:
    SearchState& state_;
    SearchUi& ui_;
    PageFetcher& fetcher_;
    FetchBackOff backOff_;
    std::function<void()> gaveUp_;
    int failuresInARow_ = 0;
};

// Cuts the page's song links into the store; reports when the limit is reached.
class TCutStr : public TStageThread {
public:
    TCutStr(EventPtr input, EventPtr output, std::chrono::milliseconds waitLimit, SearchState& state,
            SearchUi& ui, store::SongStore& store, std::function<void()> endOfSearch);
    ~TCutStr() override;

protected:
    void Step() override;

private:
    class Sink;
    SearchState& state_;
    SearchUi& ui_;
    store::SongStore& store_;
    std::function<void()> endOfSearch_;
};

// Announces the end of a search from a short-lived worker.
class TGetMp3 {
public:
    // Logs `line`. `abandon` tells the worker to give up waiting for the UI
    // thread; `wanted`, checked on the UI thread, drops an announcement that
    // has gone stale by the time it gets there.
    TGetMp3(SearchUi& ui, std::string line, std::function<bool()> abandon, std::function<bool()> wanted);
    ~TGetMp3();
    TGetMp3(const TGetMp3&) = delete;
    TGetMp3& operator=(const TGetMp3&) = delete;
    bool Finished() const { return finished_.load(); }

private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Texts the search writes to the log.
namespace texts {
inline const std::string kInitialising = "初始化网络连接，受网络速度影响，可能需要较长时间。";
inline const std::string kReadingPage = "准备读取数据:";
inline const std::string kConnecting = "正在连接服务器并读取数据，这个过程耗时稍长，请耐心稍候...";
inline const std::string kFetchFailed = "读取网页时出错!";
inline const std::string kAllFound = "所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。";
inline const std::string kServiceUnreachable = "无法连接到搜索服务：连续 " +
                                               std::to_string(FetchBackOff::kFailuresToGiveUp) +
                                               " 次读取网页出错，搜索已停止。请检查网络后再搜索。";
}  // namespace texts

}  // namespace search

#include "tools/demo-service/DemoService.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "tools/demo-service/ConnectionThreads.h"
#include "tools/demo-service/DemoMedia.h"
#include "tools/demo-service/DemoPages.h"

namespace demo {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
constexpr const char* kHtmlType = "text/html; charset=gbk";
// The slow song trickles out at 160 KiB/s, in tenths of a second.
constexpr std::size_t kSlowSlice = 16 * 1024;
constexpr auto kSlowPause = std::chrono::milliseconds(100);

}  // namespace

DemoService::DemoService() {
    // The library owns the queue it is handed and deletes it when serving ends.
    server_.new_task_queue = [] { return new ConnectionThreads; };
    server_.Get("/zsmp3", [this](const httplib::Request& request, httplib::Response& response) {
        handleResultPage(request, response);
    });
    // Song names are generated lower-case, so nothing else can be a song.
    // One trailing space (sent as %20) is allowed: a song address cut from
    // an anchor with target=_blank keeps the space before "target".
    server_.Get(R"(/songs/([a-z0-9-]{1,48})\.mp3 ?)",
                [this](const httplib::Request& request, httplib::Response& response) {
                    handleSong(request, response);
                });
    server_.Get("/songs/bg.gif", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(tinyGif(), "image/gif");
    });
    server_.Get("/songs/player.htm", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(playerPage(), kHtmlType);
    });
    // Every other path gets the library's plain 404.
}

int DemoService::bind(int port) {
    int bound = -1;
    if (port == 0) {
        bound = server_.bind_to_any_port(kLoopback);
    } else if (server_.bind_to_port(kLoopback, port)) {
        bound = port;
    }
    if (bound <= 0 || !server_.widenBacklog()) return -1;
    baseUrl_ = std::string("http://") + kLoopback + ":" + std::to_string(bound);
    return bound;
}

bool DemoService::run() { return server_.listen_after_bind(); }

void DemoService::stop() {
    stopping_ = true;
    server_.stop();
}

void DemoService::handleResultPage(const httplib::Request& request, httplib::Response& response) const {
    // The raw target, not the library's parsed parameters: the keyword comes
    // as raw GBK bytes and "+" in it is not a space.
    const std::string keyword = readKeyword(queryValue(request.target, "word").value_or(""));
    const int page = readPage(queryValue(request.target, "bg").value_or(""));
    response.set_content(resultPage(baseUrl_, keyword, page), kHtmlType);
}

void DemoService::handleSong(const httplib::Request& request, httplib::Response& response) const {
    const std::string name = request.matches[1];
    if (isListenSong(name)) {
        response.set_content(listenPage(), kHtmlType);
    } else if (isSlowSong(name)) {
        auto song = std::make_shared<const std::string>(silentFrames(kSlowMp3Frames));
        response.set_content_provider(
            song->size(), "audio/mpeg", [this, song](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (stopping_) return false;
                if (offset > 0) std::this_thread::sleep_for(kSlowPause);
                return sink.write(song->data() + offset, std::min(length, kSlowSlice));
            });
    } else {
        response.set_content(silentMp3(name), "audio/mpeg");
    }
}

}  // namespace demo

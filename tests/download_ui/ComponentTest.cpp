// The download component without its window, run as dlget runs it: the file
// name rules, the limits, what is and is not written, page mode, and the
// requests it makes. Every server is a loopback one of the test's own.
#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "download/ui/TDlWebHTTPGet.h"
#include "download/values/DlDateTime.h"
#include "tests/download_ui/UiTestSupport.h"

namespace fs = std::filesystem;
using uitest::filesIn;
using uitest::readFile;
using uitest::RouteServer;
using uitest::runWithoutWindow;
using uitest::ScopedWorkDir;
using uitest::writeFile;

namespace {

const std::string kSong = "ID3\x03 pretend song bytes \xff\xfb";
const std::string kBig(5000, 'b');
const std::string kLarge = [] {
    std::string bytes(9 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    return bytes;
}();
const std::time_t kTenDaysAgo = std::time(nullptr) - 10 * 86400;

std::string httpDate(std::time_t instant) {
    std::tm gmt{};
    gmtime_r(&instant, &gmt);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &gmt);
    return text;
}

std::time_t modified(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mtime : 0;
}

// A body sent without a length, in pieces with pauses between them.
void sendUnsized(httplib::Response& response, std::vector<std::string> pieces,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
    response.set_content_provider("audio/mpeg", [pieces, pause](std::size_t, httplib::DataSink& sink) {
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(pause);
            if (!sink.write(pieces[i].data(), pieces[i].size())) return false;
        }
        sink.done();
        return true;
    });
}

const char* const kPage =
    "<html><head><title>listen</title></head>\r\n"
    "<body background=\"bg.gif\">\r\n"
    "<img src=\"img.gif\"><img src=\"./img.gif\"><a href=\"other.htm\">more</a>\r\n"
    "<applet codebase=\"classes/\" code=\"Player.class\"></applet>\r\n"
    "<frameset><frame src=\"frame.htm\"></frameset>\r\n"
    "</body></html>\r\n";

void routes(httplib::Server& server) {
    server.Get("/music/song.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kSong, "audio/mpeg");
    });
    server.Get("/empty.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content("", "audio/mpeg"); });
    server.Get("/big.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content(kBig, "audio/mpeg"); });
    server.Get("/unsized.mp3", [](const httplib::Request&, httplib::Response& res) { sendUnsized(res, {kBig}); });
    // Under the limit at the first report, beyond it before the next.
    server.Get("/late.mp3", [](const httplib::Request&, httplib::Response& res) {
        sendUnsized(res, {std::string(40, 'l'), std::string(60, 'l')}, std::chrono::milliseconds(200));
    });
    server.Get("/old.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Last-Modified", httpDate(kTenDaysAgo));
        res.set_content(kSong, "audio/mpeg");
    });
    server.Get("/page.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content(kPage, "text/html"); });
    server.Get("/bad-link.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<body background=\"bg.gif\"><img src=\"x%zz.gif\"><frame src=\"frame.htm\">", "text/html");
    });
    server.Get("/bg.gif", [](const httplib::Request&, httplib::Response& res) { res.set_content("GIF89a-bg", "image/gif"); });
    server.Get("/img.gif", [](const httplib::Request&, httplib::Response& res) { res.set_content("GIF89a-img", "image/gif"); });
    server.Get("/frame.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html>frame</html>", "text/html");
    });
    server.Get("/classes/Player.class", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("\xca\xfe\xba\xbe", "application/java");
    });
    // Large: several staging buffers written through while they arrive.
    server.Get("/large.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content(kLarge, "audio/mpeg"); });
    server.Get("/short.mp3", [](const httplib::Request&, httplib::Response& res) {
        // Announces 64 MiB, sends 9 MiB and hangs up.
        res.set_content_provider(64 << 20, "audio/mpeg", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset >= kLarge.size()) return false;
            return sink.write(kLarge.data() + offset, std::min<std::size_t>(1 << 20, kLarge.size() - offset));
        });
    });
    server.Get("/slow-large.mp3", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(kLarge.size(), "audio/mpeg", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return sink.write(kLarge.data() + offset, std::min<std::size_t>(256 << 10, kLarge.size() - offset));
        });
    });
    server.Post("/form", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("posted:" + req.body + ";" + req.get_header_value("Content-Type"), "text/plain");
    });
}

struct Download {
    RouteServer server{routes};
    ScopedWorkDir work;
    dl::TDlWebHTTPGet get;
    Download() {
        get.DownloadDir = "downmp3/";
        // A song cut short is tried again: without waiting seconds here.
        get.Downloads().Attempts.pauses.fill(std::chrono::milliseconds(1));
    }
    bool run(const std::string& path) {
        get.URL = server.url(path);
        return runWithoutWindow(get);
    }
    dl::TDlDownloadItem& item(int i = 0) { return get.Downloads().Items(i); }
    fs::path folder() const { return work.path() / "downmp3"; }
};

}  // namespace

TEST(Component, SavesUnderTheNameRules) {
    struct Case {
        const char* dir;
        const char* destination;
        const char* file;  // relative to the working directory
    };
    const std::vector<Case> cases = {
        {"downmp3/", "abc.mp3", "downmp3/abc.mp3"},
        {"downmp3/", "", "downmp3/127.0.0.1_song.mp3"},
        {"downmp3/", "AC/DC.mp3", "downmp3/AC_DC.mp3"},
        {"downmp3/", "../../x.mp3", "downmp3/_._.._x.mp3"},
        {"downmp3/", ".hidden.mp3", "downmp3/_hidden.mp3"},
        {"a/../deep/er/", "月亮.mp3", "deep/er/月亮.mp3"},
        // Folder and name are joined as they are.
        {"out", "abc.mp3", "outabc.mp3"},
    };
    for (const Case& c : cases) {
        Download d;
        d.get.DownloadDir = c.dir;
        d.get.DestinationName = c.destination;
        ASSERT_TRUE(d.run("/music/song.mp3")) << c.file;
        const fs::path expected = d.work.path() / c.file;
        EXPECT_EQ(d.item().Progress.State.load(), dl::dsFinished) << c.file;
        EXPECT_EQ(readFile(expected), kSong) << c.file;
        EXPECT_EQ(d.item().Request.LocalFileName, expected.lexically_normal().string()) << c.file;
    }
}

TEST(Component, ASecondDownloadReplacesTheFile) {
    Download d;
    d.get.DestinationName = "abc.mp3";
    fs::create_directories(d.folder());
    writeFile(d.folder() / "abc.mp3", std::string(100000, 'o'));
    ASSERT_TRUE(d.run("/music/song.mp3"));
    EXPECT_EQ(readFile(d.folder() / "abc.mp3"), kSong);
    ASSERT_TRUE(d.run("/music/song.mp3"));
    EXPECT_EQ(readFile(d.folder() / "abc.mp3"), kSong);
    EXPECT_EQ(filesIn(d.folder()), std::vector<std::string>{"abc.mp3"});
}

TEST(Component, WritesNothingWhereThereIsNothingToWriteAndKeepsTheOlderFile) {
    struct Case {
        const char* name;
        const char* path;
        std::function<void(dl::TDlWebHTTPGet&)> setup;
        dl::TDlItemState state;
        std::int32_t code;
        const char* message;
        std::int64_t bytesRead;  // -1: not checked
    };
    const std::vector<Case> cases = {
        {"no data", "/empty.mp3", {}, dl::dsFinished, 0, "", 0},
        {"404", "/missing.mp3", {}, dl::dsFailed, 2, "File not found", 0},
        {"announced length over the limit",
         "/big.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadParams.SizeLimit = 1000; }, dl::dsFailed, 8, "Size limit", 0},
        {"received bytes over the limit",
         "/unsized.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadParams.SizeLimit = 1000; }, dl::dsFailed, 8, "Size limit", -1},
        {"over the limit only between two reports",
         "/late.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadParams.SizeLimit = 50; }, dl::dsFailed, 8, "Size limit", 100},
        {"older than allowed",
         "/old.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadParams.Older = 5; }, dl::dsFailed, 9, "URL is olded", 0},
        {"headers only",
         "/big.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadParams.CheckOnly = true; }, dl::dsFinished, 0, "", 0},
        {"no download folder", "/music/song.mp3", [](dl::TDlWebHTTPGet& g) { g.DownloadDir.clear(); },
         dl::dsFinished, 0, "", -1},
        {"a name the file system refuses",
         "/music/song.mp3", [](dl::TDlWebHTTPGet& g) { g.DestinationName = std::string(300, 'n'); }, dl::dsFailed, 12,
         "File name too long", -1},
    };
    for (const Case& c : cases) {
        Download d;
        d.get.DestinationName = "kept.mp3";
        fs::create_directories(d.folder());
        writeFile(d.folder() / "kept.mp3", "older file");
        if (c.setup) c.setup(d.get);
        ASSERT_TRUE(d.run(c.path)) << c.name;
        EXPECT_EQ(d.item().Progress.State.load(), c.state) << c.name;
        EXPECT_EQ(d.item().Progress.ErrorCode, c.code) << c.name;
        EXPECT_EQ(d.item().Progress.ErrorMessage, c.message) << c.name;
        if (c.bytesRead >= 0) {
            EXPECT_EQ(d.get.Downloads().BytesReceived.load(), c.bytesRead) << c.name;
        }
        EXPECT_TRUE(d.item().Request.LocalFileName.empty()) << c.name;
        EXPECT_EQ(readFile(d.folder() / "kept.mp3"), "older file") << c.name;
        EXPECT_EQ(filesIn(d.folder()), std::vector<std::string>{"kept.mp3"}) << c.name;
    }
}

TEST(Component, OlderLetsARecentEnoughResourceThroughWithItsTime) {
    Download d;
    d.get.DownloadParams.Older = 20;
    ASSERT_TRUE(d.run("/old.mp3"));
    ASSERT_EQ(d.item().Progress.ErrorCode, 0);
    EXPECT_EQ(readFile(d.folder() / "127.0.0.1_old.mp3"), kSong);
    EXPECT_EQ(modified(d.folder() / "127.0.0.1_old.mp3"), kTenDaysAgo);
}

TEST(Component, DocumentTakesTheFinishedSongsBytesOver) {
    Download d;
    ASSERT_TRUE(d.run("/music/song.mp3"));
    EXPECT_EQ(std::string(d.get.Document().View()), kSong);
    EXPECT_EQ(d.item().Progress.Data.Size(), 0u);
    EXPECT_EQ(d.item().Progress.Size.load(), 0u);
    // The next preparation empties it.
    d.get.Download(true, false);
    EXPECT_EQ(d.get.Document().Size(), 0u);
    ASSERT_NE(d.get.CurrentItem(), nullptr);
    EXPECT_EQ(d.get.Downloads().Count(), 1);
}

TEST(Component, PageModeFetchesWhatThePageNeedsAndPointsThePageAtIt) {
    struct Case {
        bool loadImages;
        std::vector<std::string> files;
        std::vector<std::string> fetched;
    };
    const std::vector<Case> cases = {
        {false,
         {"127.0.0.1_Player.class", "127.0.0.1_bg.gif", "127.0.0.1_frame.htm", "title.mp3.htm"},
         {"/page.mp3", "/bg.gif", "/classes/Player.class", "/frame.htm"}},
        // The second IMG names the same picture: it is fetched once.
        {true,
         {"127.0.0.1_Player.class", "127.0.0.1_bg.gif", "127.0.0.1_frame.htm", "127.0.0.1_img.gif", "title.mp3.htm"},
         {"/page.mp3", "/bg.gif", "/img.gif", "/classes/Player.class", "/frame.htm"}},
    };
    for (const Case& c : cases) {
        Download d;
        d.get.DestinationName = "title.mp3";
        d.get.DownloadParams.LoadImages = c.loadImages;
        ASSERT_TRUE(d.run("/page.mp3"));
        EXPECT_EQ(filesIn(d.folder()), c.files);
        EXPECT_EQ(d.server.paths(), c.fetched);
        for (int i = 0; i < d.get.Downloads().Count(); ++i) {
            EXPECT_EQ(d.item(i).Progress.State.load(), dl::dsFinished) << d.item(i).Request.URL;
            EXPECT_EQ(d.item(i).Request.Level, i == 0 ? 0 : -1);
            EXPECT_EQ(d.item(i).Request.IsLink, i > 0);
        }
        const std::string page = readFile(d.folder() / "title.mp3.htm");
        EXPECT_NE(page.find("<body background=\"127.0.0.1_bg.gif\">"), std::string::npos) << page;
        EXPECT_NE(page.find("<frame src=\"127.0.0.1_frame.htm\">"), std::string::npos) << page;
        // An applet's class is always written as its code.
        EXPECT_NE(page.find("code=\"Player.class\""), std::string::npos) << page;
        // Hyperlinks are never followed; they point at the server.
        EXPECT_NE(page.find("<a href=\"" + d.server.url("/other.htm") + "\">"), std::string::npos) << page;
        const std::string img = c.loadImages ? "127.0.0.1_img.gif" : d.server.url("/img.gif");
        EXPECT_NE(page.find("<img src=\"" + img + "\">"), std::string::npos) << page;
        EXPECT_EQ(readFile(d.folder() / "127.0.0.1_bg.gif"), "GIF89a-bg");
        // The frame is a page of its own, written beside the song's page.
        EXPECT_EQ(readFile(d.folder() / "127.0.0.1_frame.htm"), "<html>frame</html>");
    }
}

TEST(Component, ALinkThatCannotBeReadEndsThePagesResourcesButThePageIsSaved) {
    Download d;
    d.get.DownloadParams.LoadImages = true;
    ASSERT_TRUE(d.run("/bad-link.mp3"));
    // The background before the bad link is fetched, the frame after it not.
    EXPECT_EQ(d.server.paths(), (std::vector<std::string>{"/bad-link.mp3", "/bg.gif"}));
    EXPECT_EQ(filesIn(d.folder()), (std::vector<std::string>{"127.0.0.1_bad_link.mp3.htm", "127.0.0.1_bg.gif"}));
    EXPECT_NE(readFile(d.folder() / "127.0.0.1_bad_link.mp3.htm").find("background=\"127.0.0.1_bg.gif\""),
              std::string::npos);
}

TEST(Component, PreparationCarriesTheRequestSettings) {
    Download d;
    d.get.PostParams = {"name=a b&c", "flag", "empty="};
    ASSERT_TRUE(d.run("/form"));
    EXPECT_EQ(d.item().Request.Method, dl::dmPost);
    EXPECT_EQ(readFile(d.folder() / "127.0.0.1_form"),
              "posted:name=a%20b%26c&flag=&empty=;application/x-www-form-urlencoded");

    // A content type outside the accepted ones fails the item unread.
    d.get.PostParams.clear();
    d.get.AcceptTypes = {"audio/x-wav", "text/plain"};
    ASSERT_TRUE(d.run("/music/song.mp3"));
    EXPECT_EQ(d.item().Request.Method, dl::dmGet);
    EXPECT_EQ(d.item().Request.AcceptTypes, "audio/x-wav\r\ntext/plain");
    EXPECT_EQ(d.item().Progress.ErrorCode, 412);
    EXPECT_FALSE(fs::exists(d.folder() / "127.0.0.1_song.mp3"));
}

TEST(Component, EventsSeeEveryReportAndMayRenameTheFile) {
    Download d;
    std::vector<dl::TDlItemState> states;
    d.get.OnProgress = [&](dl::DownloadComponent& sender, dl::TDlDownloadItem& item) {
        EXPECT_EQ(&sender, &d.get);
        states.push_back(item.Progress.State);
    };
    d.get.OnGetFileName = [](dl::DownloadComponent&, dl::TDlDownloadItem& item, std::string& name) {
        EXPECT_EQ(name, "127.0.0.1_song.mp3");
        name = "renamed-" + std::to_string(item.Request.Level) + ".mp3";
    };
    ASSERT_TRUE(d.run("/music/song.mp3"));
    EXPECT_EQ(readFile(d.folder() / "renamed-0.mp3"), kSong);
    // Start, after the headers, the end (reading reports may come between).
    ASSERT_GE(states.size(), 3u);
    EXPECT_EQ(states.front(), dl::dsRunning);
    EXPECT_EQ(states.back(), dl::dsFinished);
}

TEST(Component, ARunOnTheCallingThreadWritesTheFileAfterwards) {
    Download d;
    d.get.URL = d.server.url("/page.mp3");
    d.get.DestinationName = "title.mp3";
    int processed = 0;
    d.get.OnProcessed = [&](dl::DownloadComponent&) { ++processed; };
    EXPECT_TRUE(d.get.Download(false, false));
    EXPECT_EQ(processed, 1);
    // Handled after the run, the page's resources wait for the next run.
    EXPECT_EQ(filesIn(d.folder()), std::vector<std::string>{"title.mp3.htm"});
    EXPECT_EQ(d.get.Downloads().Count(), 4);
    // The component's own handlers are back.
    EXPECT_TRUE(static_cast<bool>(d.get.Downloads().OnItemProgress));
    EXPECT_TRUE(static_cast<bool>(d.get.Downloads().OnAllDone));
}

TEST(Component, ALargeDownloadIsWrittenAsItArrivesAndNothingOfItStaysWhenItFails) {
    struct Case {
        const char* path;
        bool stopHalfway;
        bool complete;  // finished without error
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {"/large.mp3", false, true, {"big.mp3", "kept.mp3"}},
        {"/short.mp3", false, false, {"kept.mp3"}},
        {"/slow-large.mp3", true, false, {"kept.mp3"}},
    };
    for (const Case& c : cases) {
        Download d;
        d.get.DestinationName = "big.mp3";
        fs::create_directories(d.folder());
        writeFile(d.folder() / "kept.mp3", "older file");
        d.get.OnProgress = [&](dl::DownloadComponent& sender, dl::TDlDownloadItem& item) {
            if (c.stopHalfway && !item.Progress.HeaderPhase && item.Progress.Size > kLarge.size() / 2) sender.Downloads().Stop();
        };
        ASSERT_TRUE(d.run(c.path)) << c.path;
        EXPECT_EQ(d.item().Progress.State == dl::dsFinished && d.item().Progress.ErrorCode == 0, c.complete) << c.path;
        // Hidden files included: nothing made ready is left behind.
        EXPECT_EQ(filesIn(d.folder()), c.files) << c.path;
        if (c.complete) {
            EXPECT_TRUE(readFile(d.folder() / "big.mp3") == kLarge);
        }
    }
}

// Page mode against pages that misbehave, and files that cannot be written:
// the component without its window, as dlget runs it.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/ui/TDlWebHTTPGet.h"
#include "tests/download_ui/UiTestSupport.h"

namespace fs = std::filesystem;
using uitest::filesIn;
using uitest::readFile;
using uitest::RouteServer;
using uitest::runWithoutWindow;
using uitest::ScopedWorkDir;
using uitest::writeFile;

namespace {

void html(httplib::Response& res, const std::string& text) { res.set_content(text, "text/html"); }

void routes(httplib::Server& server) {
    // A page that frames itself; two that frame each other.
    server.Get("/self.htm", [](const httplib::Request&, httplib::Response& res) {
        html(res, "<frame src=\"self.htm\"><frame src=\"/self.htm#top\"><frame src=\"./self.htm?\">");
    });
    server.Get("/ping.htm", [](const httplib::Request&, httplib::Response& res) { html(res, "<frame src=\"pong.htm\">"); });
    server.Get("/pong.htm", [](const httplib::Request&, httplib::Response& res) {
        html(res, "<frame src=\"ping.htm\"><frame src=\"./ping.htm#again\">");
    });
    // Every page frames a page never seen before.
    server.Get(R"(/deep/(\d+)\.htm)", [](const httplib::Request& req, httplib::Response& res) {
        const int n = std::stoi(req.matches[1]);
        html(res, "<frame src=\"" + std::to_string(n + 1) + ".htm\">");
    });
    // More resources than a run takes.
    server.Get("/many.htm", [](const httplib::Request&, httplib::Response& res) {
        std::string page;
        for (int i = 0; i < 300; ++i) page += "<img src=\"img/" + std::to_string(i) + ".gif\">";
        html(res, page);
    });
    server.Get(R"(/img/(\d+)\.gif)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("GIF" + std::string(req.matches[1]), "image/gif");
    });
    // Local files and other schemes.
    server.Get("/local.htm", [](const httplib::Request&, httplib::Response& res) {
        html(res, "<body background=\"file:///etc/passwd\"><frame src=\"file:///proc/self/environ\">"
                  "<applet codebase=\"file:///etc/\" code=\"hostname\"></applet><frame src=\"ftp://127.0.0.1/x\">"
                  "<frame src=\"web.htm\">");
    });
    server.Get("/web.htm", [](const httplib::Request&, httplib::Response& res) { html(res, "<p>web</p>"); });
    // A page reached through a redirect: its links lead from where it is.
    server.Get("/pg", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/pg/"); });
    server.Get("/pg/", [](const httplib::Request&, httplib::Response& res) { html(res, "<frame src=\"left.html\">"); });
    server.Get("/pg/left.html", [](const httplib::Request&, httplib::Response& res) { html(res, "<p>left</p>"); });
    // A frame whose default name is the page's own.
    server.Get("/a/index.htm", [](const httplib::Request&, httplib::Response& res) {
        html(res, "<frame src=\"/b/index.htm\"><body background=\"/c/index.htm\">");
    });
    server.Get("/b/index.htm", [](const httplib::Request&, httplib::Response& res) { html(res, "<p>frame b</p>"); });
    server.Get("/c/index.htm", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("background c", "image/gif");
    });
    server.Get("/song.mp3", [](const httplib::Request&, httplib::Response& res) { res.set_content("song", "audio/mpeg"); });
}

struct Download {
    RouteServer server{routes};
    ScopedWorkDir work;
    dl::TDlWebHTTPGet get;
    Download() { get.DownloadDir = "downmp3/"; }
    bool run(const std::string& path) {
        get.URL = server.url(path);
        return runWithoutWindow(get, 30000);
    }
    fs::path folder() const { return work.path() / "downmp3"; }
    int count(const std::string& path) const {
        const auto paths = server.paths();
        return static_cast<int>(std::count(paths.begin(), paths.end(), path));
    }
};

}  // namespace

TEST(HostilePages, PageModeEnds) {
    struct Case {
        const char* name;
        const char* path;
        std::function<void(dl::TDlWebHTTPGet&)> setup;
        int items;
        std::vector<std::pair<std::string, int>> requests;  // path, times asked
    };
    const std::vector<Case> cases = {
        {"a page that frames itself", "/self.htm", nullptr, 1, {{"/self.htm", 1}}},
        {"two pages that frame each other", "/ping.htm", nullptr, 2, {{"/ping.htm", 1}, {"/pong.htm", 1}}},
        {"frames of ever new pages", "/deep/0.htm", nullptr, 1 + dl::TDlWebHTTPGet::kMaxFrameDepth,
         {{"/deep/0.htm", 1}, {"/deep/3.htm", 1}, {"/deep/4.htm", 0}}},
        {"more resources than a run takes", "/many.htm",
         [](dl::TDlWebHTTPGet& g) { g.DownloadParams.LoadImages = true; }, dl::TDlWebHTTPGet::kMaxRunItems,
         {{"/img/198.gif", 1}, {"/img/199.gif", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Download d;
        if (c.setup) c.setup(d.get);
        ASSERT_TRUE(d.run(c.path));
        EXPECT_EQ(d.get.Downloads().Count(), c.items);
        for (const auto& [path, times] : c.requests) EXPECT_EQ(d.count(path), times) << path;
        for (int i = 0; i < d.get.Downloads().Count(); ++i) {
            EXPECT_EQ(d.get.Downloads().Items(i).Progress.State.load(), dl::dsFinished) << d.get.Downloads().Items(i).Request.URL;
        }
    }
}

TEST(HostilePages, APageNeverHasALocalFileOrAnotherSchemeRead) {
    Download d;
    ASSERT_TRUE(d.run("/local.htm"));
    ASSERT_EQ(d.get.Downloads().Count(), 2);
    EXPECT_EQ(d.get.Downloads().Items(1).Request.URL, d.server.url("/web.htm"));
    // Only the page and its one web frame are saved; nothing of /etc or /proc.
    EXPECT_EQ(filesIn(d.folder()), (std::vector<std::string>{"127.0.0.1_local.htm", "127.0.0.1_web.htm"}));
    const std::string saved = readFile(d.folder() / "127.0.0.1_local.htm");
    EXPECT_NE(saved.find("file:///etc/passwd"), std::string::npos);  // left pointing where it pointed
    EXPECT_EQ(saved.find("root:"), std::string::npos);
}

TEST(HostilePages, LinksLeadFromTheAddressAfterRedirects) {
    Download d;
    ASSERT_TRUE(d.run("/pg"));
    ASSERT_EQ(d.get.Downloads().Count(), 2);
    const dl::TDlDownloadItem& frame = d.get.Downloads().Items(1);
    EXPECT_EQ(frame.Request.URL, d.server.url("/pg/left.html"));
    EXPECT_EQ(frame.Progress.State.load(), dl::dsFinished);
    EXPECT_EQ(d.get.Downloads().Items(0).Progress.ResponseURL(), d.server.url("/pg/"));
}

TEST(HostilePages, AResourceNeverTakesTheNameOfThePageOrAnotherItem) {
    Download d;
    ASSERT_TRUE(d.run("/a/index.htm"));
    ASSERT_EQ(d.get.Downloads().Count(), 3);
    EXPECT_EQ(filesIn(d.folder()),
              (std::vector<std::string>{"127.0.0.1_index.htm", "127.0.0.1_index_2.htm", "127.0.0.1_index_3.htm"}));
    // The page is the page, pointing at its frame's copy.
    const std::string page = readFile(d.folder() / "127.0.0.1_index.htm");
    EXPECT_NE(page.find("127.0.0.1_index_2.htm"), std::string::npos) << page;
    EXPECT_EQ(readFile(d.folder() / "127.0.0.1_index_2.htm"), "<p>frame b</p>");
    EXPECT_EQ(readFile(d.folder() / "127.0.0.1_index_3.htm"), "background c");
}

TEST(HostilePages, AFileThatCannotBeWrittenFailsItsItemAndKeepsTheOlderFile) {
    struct Case {
        const char* name;
        std::function<void(Download&)> setup;
        std::int32_t code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"the name \".\"", [](Download& d) { d.get.DestinationName = "."; }, 13, "Invalid file name"},
        {"the name \"..\"", [](Download& d) { d.get.DestinationName = ".."; }, 13, "Invalid file name"},
        {"a name over 255 bytes", [](Download& d) { d.get.DestinationName = std::string(256, 'n'); }, 12,
         "File name too long"},
        {"a name that is a folder",
         [](Download& d) {
             fs::create_directories(d.folder() / "taken.mp3");
             d.get.DestinationName = "taken.mp3";
         },
         13, "Invalid file name"},
        {"a folder that is a file",
         [](Download& d) {
             writeFile(d.work.path() / "plain", "a file");
             d.get.DownloadDir = "plain/";
         },
         13, "Invalid file name"},
        {"a folder that is a dangling link",
         [](Download& d) {
             fs::create_symlink(d.work.path() / "nowhere", d.work.path() / "dangling");
             d.get.DownloadDir = "dangling/";
         },
         13, "Invalid file name"},
        {"a folder nobody may write", [](Download& d) { d.get.DownloadDir = "/sys/"; }, 11, "Write access denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Download d;
        fs::create_directories(d.folder());
        writeFile(d.folder() / "kept.mp3", "older file");
        d.get.DestinationName = "kept.mp3";
        c.setup(d);
        ASSERT_TRUE(d.run("/song.mp3"));
        const dl::TDlDownloadItem& item = d.get.Downloads().Items(0);
        EXPECT_EQ(item.Progress.State.load(), dl::dsFailed);
        EXPECT_EQ(item.Progress.ErrorCode, c.code);
        EXPECT_EQ(item.Progress.ErrorMessage, c.message);
        EXPECT_TRUE(item.Request.LocalFileName.empty());
        EXPECT_EQ(readFile(d.folder() / "kept.mp3"), "older file");
        const auto names = filesIn(d.folder());
        EXPECT_TRUE(std::none_of(names.begin(), names.end(), [](const std::string& n) { return n.rfind(".brelvo-", 0) == 0; }));
    }
}

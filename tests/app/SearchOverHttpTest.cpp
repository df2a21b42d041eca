// The search end to end through the program's own HTTP client, against a
// loopback server that records the raw request bytes.
#include <future>

#include <QComboBox>
#include <QToolButton>
#include <gtest/gtest.h>

#include "app/TForm1.h"
#include "platform/GbkCodec.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "search/pipeline/SearchPipeline.h"
#include "store/SongStore.h"
#include "store/view/TDBGrid3D.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/DemoServiceProcess.h"
#include "tests/support/ScriptedTcpServer.h"

using apptest::pumpFor;
using apptest::pumpUntil;
using apptest::StoreFile;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;

namespace {

const QString kAllFound = QStringLiteral("所有歌曲都已经搜索完毕，请及时下载！过期可能会失效。");

std::string response(const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string pageWithSongs(int page) {
    std::string body = "<html><body>";
    for (int i = 0; i < 3; ++i) {
        body += "<a href=\"http://songs.test/p" + std::to_string(page) + "s" + std::to_string(i) +
                ".mp3\" target=_blank>\xd4\xc2\xc1\xc1 Song " + std::to_string(i) + "</a>\n";
    }
    return body + "</body></html>";
}

struct HttpSearch {
    StoreFile file;
    search::NetHttpPageFetcher* fetcher = nullptr;
    std::unique_ptr<app::TForm1> form;

    explicit HttpSearch(int port) {
        apptest::app();
        ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
        auto owned = std::make_unique<search::NetHttpPageFetcher>();
        fetcher = owned.get();
        form = std::make_unique<app::TForm1>(file.path, std::move(owned));
        ::unsetenv("BRELVOMP3_SEARCH_HOST");
        // Failed fetches pause the search; here a moment is enough.
        form->pipeline().setFetchBackOff({std::chrono::milliseconds(1), std::chrono::milliseconds(4)});
    }
    int count(const QString& line) { return form->logLines().count(line); }
};

}  // namespace

TEST(SearchOverHttp, SendsExactRequestsOnOneKeptAliveConnectionAndEndsAtPageEight) {
    ServerScript script;
    for (int page = 0; page <= 8; ++page) {
        const std::string cookie = page == 0 ? "Set-Cookie: sid=7; path=/\r\nSet-Cookie: other=1\r\n" : "";
        script.expectUntil("\r\n\r\n").send(response(pageWithSongs(page), cookie));
    }
    script.hold();
    ScriptedTcpServer server(script);
    HttpSearch search(server.port());
    search.form->ComboBox1->setEditText(QStringLiteral("月亮"));
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return search.count(kAllFound) == 1; }));
    EXPECT_TRUE(search.form->Button1->isEnabled());
    EXPECT_FALSE(search.form->Button2->isEnabled());
    EXPECT_EQ(server.connectionCount(), 1u);

    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    const std::string keyword = platform::utf8ToGbk("月亮");
    std::string expected;
    for (int page = 0; page <= 8; ++page) {
        expected += "GET /zsmp3?ty=1&word=" + keyword + "&class=mp3&bg=" + std::to_string(page) +
                    "&webid= HTTP/1.1\r\n"
                    "Host: " + host + "\r\n"
                    "Accept: text/html, */*\r\n"
                    "User-Agent: Mozilla/3.0 (compatible; BrelvoMP3)\r\n" +
                    (page > 0 ? "Cookie: sid=7\r\n" : "") + "\r\n";
    }
    EXPECT_EQ(server.received(0), expected);

    // Eight pages cut whole, three songs each; the ninth ends the search.
    EXPECT_EQ(search.form->songStore().Count(), 24);
    auto row = search.form->songStore().Row(0);
    ASSERT_TRUE(row);
    EXPECT_EQ(*row->title, "月亮 song 0");
    EXPECT_EQ(*row->url2, "http://songs.test/p0s0.mp3 ");
    EXPECT_EQ(*row->keys, "月亮");
    EXPECT_TRUE(server.failures().empty());
}

TEST(SearchOverHttp, StopInterruptsASilentServerAndTheNextSearchFetchesAtOnce) {
    std::vector<ServerScript> scripts(2);
    scripts[0].expectUntil("\r\n\r\n").hold();  // accepts and never answers
    scripts[1].expectUntil("\r\n\r\n").send(response("<html></html>")).hold();
    ScriptedTcpServer server(scripts);
    HttpSearch search(server.port());
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return server.connectionCount() == 1; }));
    pumpFor(100);
    const auto stopAt = std::chrono::steady_clock::now();
    search.form->Button2->click();
    search.form->Button1->click();
    // The second search's first page arrives over a new connection.
    ASSERT_TRUE(pumpUntil([&] { return search.form->logLines().count(QStringLiteral("当前歌曲数量：\u30000")) >= 2; }, 30000));
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(30));
    EXPECT_EQ(server.connectionCount(), 2u);
    EXPECT_EQ(search.count(QStringLiteral("读取网页时出错!")), 0);
    search.form->Button2->click();
}

TEST(SearchOverHttp, OversizedPageFailsTheFetchAndTheRelayGoesOn) {
    // The refused body is left unread, so the client opens a new connection.
    std::vector<ServerScript> scripts(2);
    scripts[0].expectUntil("\r\n\r\n").send(response(std::string(4096, 'x'))).hold();
    scripts[1].expectUntil("\r\n\r\n").send(response(pageWithSongs(1))).hold();
    ScriptedTcpServer server(scripts);
    HttpSearch search(server.port());
    search.fetcher->setMaxPageBytes(1024);
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return search.form->songStore().Count() == 3; }));
    EXPECT_EQ(search.count(QStringLiteral("读取网页时出错!")), 1);
    search.form->Button2->click();
}

// A host that refuses every connection: each page is one failed fetch, and
// the ninth in a row ends the search by itself, saying why.
TEST(SearchOverHttp, RefusedConnectionsEndTheSearchAfterNineFailedFetches) {
    int port = 0;
    {
        ScriptedTcpServer closed(ServerScript{});
        port = closed.port();
    }  // nothing listens there now
    HttpSearch search(port);
    search.form->Button1->click();
    const QString unreachable = QString::fromStdString(search::texts::kServiceUnreachable);
    ASSERT_TRUE(pumpUntil([&] { return search.count(unreachable) == 1; }, 30000));
    EXPECT_EQ(search.count(QStringLiteral("读取网页时出错!")), 9);
    EXPECT_EQ(search.count(QStringLiteral("准备读取数据:9")), 1);
    EXPECT_EQ(search.count(QStringLiteral("准备读取数据:10")), 0);
    EXPECT_EQ(search.count(kAllFound), 0);
    EXPECT_TRUE(search.form->Button1->isEnabled());
    EXPECT_FALSE(search.form->Button2->isEnabled());
}

TEST(SearchOverHttp, ClosingTheWindowDuringAFetchFromASilentServer) {
    ServerScript script;
    script.expectUntil("\r\n\r\n").hold();
    ScriptedTcpServer server(script);
    HttpSearch search(server.port());
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return server.connectionCount() == 1; }));
    pumpFor(100);
    const auto start = std::chrono::steady_clock::now();
    search.form->close();
    search.form.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(SearchOverHttp, HaltWhileWaitingForAnEarlierFetchIsNotMissed) {
    // A stage halted while its fetch still waits for an earlier (halted) one
    // must not go on to fetch: nobody would interrupt it again.
    std::vector<ServerScript> scripts(2);
    scripts[0].expectUntil("\r\n\r\n").hold();
    scripts[1].expectUntil("\r\n\r\n").hold();
    ScriptedTcpServer server(scripts);
    search::NetHttpPageFetcher fetcher;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/zsmp3?ty=1&word=x&class=mp3&bg=0&webid=";
    int first = 0, second = 0;
    std::atomic<bool> secondHalted{false};
    auto firstDone = std::async(std::launch::async, [&] {
        EXPECT_THROW(fetcher.fetch(url, &first, {}), net::ENetException);
    });
    ASSERT_TRUE(pumpUntil([&] { return server.connectionCount() == 1; }));
    auto secondDone = std::async(std::launch::async, [&] {
        EXPECT_ANY_THROW(fetcher.fetch(url, &second, [&] { return secondHalted.load(); }));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the second now waits for the first
    secondHalted = true;
    fetcher.interrupt(&second);
    fetcher.interrupt(&first);
    ASSERT_EQ(firstDone.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    const bool secondEnded = secondDone.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!secondEnded) fetcher.interrupt(&second);  // let the test end either way
    EXPECT_TRUE(secondEnded);
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST(SearchOverHttp, RequestLineCarriesBlanksAsPercent20AndEndsTheQueryAtHash) {
    const std::string zhou = platform::utf8ToGbk("周杰伦"), qing = platform::utf8ToGbk("晴天");
    const std::vector<std::pair<QString, std::string>> cases = {
        {QStringLiteral("周杰伦 晴天"), "GET /zsmp3?ty=1&word=" + zhou + "%20" + qing + "&class=mp3&bg=0&webid= HTTP/1.1"},
        {QStringLiteral("晴天#x y"), "GET /zsmp3?ty=1&word=" + qing + " HTTP/1.1"},
    };
    for (const auto& [keyword, requestLine] : cases) {
        ServerScript script;
        script.expectUntil("\r\n\r\n").send(response("<html></html>")).hold();
        ScriptedTcpServer server(script);
        HttpSearch search(server.port());
        search.form->ComboBox1->setEditText(keyword);
        search.form->Button1->click();
        ASSERT_TRUE(pumpUntil([&] { return search.form->logLines().count(QStringLiteral("当前歌曲数量：\u30000")) >= 2; }));
        search.form->Button2->click();
        const std::string received = server.received(0);
        EXPECT_EQ(received.substr(0, received.find("\r\n")), requestLine);
    }
}

// The search as a user runs it: a keyword with a blank against the demo
// service, to the end of the search.
TEST(SearchOverHttp, KeywordWithABlankFillsTheGridFromTheDemoService) {
    testsupport::DemoServiceProcess service({"--port", "0"});
    ASSERT_GT(service.port(), 0);
    HttpSearch search(service.port());
    search.form->ComboBox1->setEditText(QStringLiteral("周杰伦 晴天"));
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return search.count(kAllFound) == 1; }, 30000));
    EXPECT_EQ(search.count(QStringLiteral("读取网页时出错!")), 0);
    store::SongStore check(search.file.path);
    EXPECT_GT(check.Count(), 20);
    EXPECT_EQ(search.form->DBGrid1->model()->rowCount(), check.Count());
    for (int row = 0; row < check.Count(); ++row) {
        EXPECT_EQ(*check.Row(row)->keys, "周杰伦 晴天") << row;
        EXPECT_NE(check.Row(row)->title->find("周杰伦 晴天"), std::string::npos) << *check.Row(row)->title;
    }
}

TEST(SearchOverHttp, HeaderLinesWithoutEndFailThatFetchAndTheRelayGoesOn) {
    std::string endless = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 5000; ++i) endless += "X-Line-" + std::to_string(i) + ": more\r\n";
    std::vector<ServerScript> scripts(2);
    scripts[0].expectUntil("\r\n\r\n").send(endless).hold();
    scripts[1].expectUntil("\r\n\r\n").send(response(pageWithSongs(1))).hold();
    ScriptedTcpServer server(scripts);
    HttpSearch search(server.port());
    search.form->Button1->click();
    ASSERT_TRUE(pumpUntil([&] { return search.form->songStore().Count() == 3; }));
    EXPECT_EQ(search.count(QStringLiteral("读取网页时出错!")), 1);
    EXPECT_EQ(server.connectionCount(), 2u);
    search.form->Button2->click();
}

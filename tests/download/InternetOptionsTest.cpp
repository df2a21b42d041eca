// Connection settings: defaults, copying, local URLs, and what they do to a
// transfer (agent, proxy, time limits).
#include <chrono>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "download/engine/TDlInternetOptions.h"
#include "download/inet/InetSession.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/HostileScripts.h"
#include "tests/support/ScriptedTcpServer.h"

using namespace std::chrono_literals;
using dl::TDlInternetOptions;
using dltest::httpResponse;
using dltest::localUrl;
using dltest::OneItemRun;
using dltest::Recorder;
using dltest::ScopedEnv;
using testsupport::ScriptedTcpServer;
using testsupport::ServerScript;
using testsupport::UnansweredListener;

namespace {

class OtherSettings : public dl::TDlPersistent {
public:
    const char* ClassName() const override { return "TDlDownloadParams"; }
};

// Downloads `url` with `options`; returns the item's error code.
std::int32_t fetch(const std::string& url, const TDlInternetOptions& options) {
    OneItemRun run;
    dl::TDlDownloads& downloads = run.downloads;
    dltest::Recorder& recorder = run.recorder;
    dl::TDlDownloadItem& item = run.item;
    downloads.SetOptions(options);
    // One attempt: what these settings make of it.
    downloads.Attempts.maxFurther = 0;
    item.Request.URL = url;
    EXPECT_TRUE(recorder.runToEnd(20000));
    return item.Progress.ErrorCode;
}

ServerScript answer() { return dltest::answer(httpResponse("200 OK", "", "ok")); }

}  // namespace

TEST(InternetOptions, DefaultsAndCopy) {
    TDlInternetOptions o;
    EXPECT_EQ(o.ConnectRetries, 2);
    EXPECT_EQ(o.ConnectTimeout, 30);
    EXPECT_EQ(o.DataTimeout, 0);
    EXPECT_EQ(o.ServerThreads, 4);
    EXPECT_EQ(o.UserAgent, "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)");
    EXPECT_TRUE(o.UseDefaultBrowser);
    EXPECT_TRUE(o.UseIEDUNSettings);
    EXPECT_FALSE(o.UseProxy || o.UseDefaultOptions || o.ForceInternetCheck || o.ModemConnection || o.AutoDial);

    TDlInternetOptions source;
    source.ConnectRetries = 5;
    source.UseProxy = true;
    source.ProxyName = "proxy";
    source.ProxyPort = 3128;
    source.UserAgent = "";
    source.DUN = "dial";
    source.SocksProxy = true;
    source.SocksVersion = dl::sv5;
    source.ServerThreads = 9;
    source.OnInteractiveEvent = [](TDlInternetOptions&, dl::TDlInternetOptionsInteractiveAction) { return dl::IR_NO; };
    TDlInternetOptions copy;
    copy.Assign(source);
    EXPECT_EQ(copy.ConnectRetries, 5);
    EXPECT_TRUE(copy.UseProxy);
    EXPECT_EQ(copy.ProxyName, "proxy");
    EXPECT_EQ(copy.ProxyPort, 3128);
    EXPECT_EQ(copy.AgentName(), "DW");
    EXPECT_EQ(copy.DUN, "dial");
    EXPECT_TRUE(static_cast<bool>(copy.OnInteractiveEvent));
    // Not copied:
    EXPECT_FALSE(copy.SocksProxy);
    EXPECT_EQ(copy.SocksVersion, dl::sv4);
    EXPECT_EQ(copy.ServerThreads, 4);

    try {
        copy.Assign(OtherSettings());
        FAIL() << "a settings object of another kind was copied";
    } catch (const dl::EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TDlDownloadParams to a TDlInternetOptions");
    }
}

TEST(InternetOptions, LocalUrls) {
    struct Case {
        const char* url;
        bool local;
    };
    const Case cases[] = {
        {"", true},
        {"song.mp3", true},
        {"FILE:///tmp/a.mp3", true},
        {"http://LocalHost/a.mp3", true},
        {"http://user:pw@127.0.0.1:8080/a.mp3", true},
        {"http:\\\\localhost\\a.mp3", true},
        {"http://127.0.0.2/a.mp3", false},
        {"http://srv1/a.mp3", false},
        {"ftp://localhost.example/a.mp3", false},
    };
    for (const Case& c : cases) EXPECT_EQ(TDlInternetOptions::IsLocalURL(c.url), c.local) << c.url;
}

TEST(InternetOptions, AppliedToTheInternetHandle) {
    TDlInternetOptions o;
    auto session = inet::Session::open("a");
    TDlInternetOptions::ApplyInternetOptions(*session, o);
    EXPECT_EQ(session->settings().connectAttempts, 2);
    EXPECT_EQ(session->settings().connectTimeoutSeconds, 30);
    EXPECT_EQ(session->settings().dataTimeoutSeconds, inet::kDefaultDataTimeoutSeconds);
    EXPECT_EQ(session->settings().access, inet::AccessType::Direct);
    o.UseProxy = true;
    o.ProxyName = "proxy.lan";
    o.ProxyPort = 8080;
    TDlInternetOptions::ApplyInternetOptions(*session, o);
    EXPECT_EQ(session->settings().access, inet::AccessType::NamedProxy);
    EXPECT_EQ(session->settings().proxyList, "proxy.lan:8080");
}

TEST(InternetOptions, HangUpRuleNeedsAllThreeSettings) {
    TDlInternetOptions o;
    EXPECT_FALSE(TDlInternetOptions::HangUpAfterRun(o));
    o.ModemConnection = o.AutoDial = true;
    EXPECT_FALSE(TDlInternetOptions::HangUpAfterRun(o));
    o.AutoClose = true;
    EXPECT_TRUE(TDlInternetOptions::HangUpAfterRun(o));
    EXPECT_TRUE(TDlInternetOptions::IsConnectedToInternet());
}

TEST(InternetOptions, EmptyAgentIsSentAsDW) {
    ScriptedTcpServer server(answer());
    TDlInternetOptions o;
    o.UserAgent = "";
    EXPECT_EQ(fetch(localUrl(server.port(), "/a"), o), 0);
    EXPECT_NE(server.received().find("\r\nUser-Agent: DW\r\n"), std::string::npos);
}

TEST(InternetOptions, ProxySettingsDecideTheRoute) {
    ScriptedTcpServer target(answer());
    ScriptedTcpServer proxy(answer());
    const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.port());
    ScopedEnv httpProxy("http_proxy", proxyUrl.c_str());
    ScopedEnv noProxy("no_proxy", nullptr);
    ScopedEnv noProxyUpper("NO_PROXY", nullptr);

    // UseProxy false: a direct connection although the environment names a proxy.
    TDlInternetOptions direct;
    EXPECT_EQ(fetch(localUrl(target.port(), "/a"), direct), 0);
    EXPECT_EQ(target.connectionCount(), 1u);
    EXPECT_EQ(proxy.connectionCount(), 0u);

    // UseDefaultOptions: the environment's proxy.
    TDlInternetOptions platformDefaults;
    platformDefaults.UseDefaultOptions = true;
    EXPECT_EQ(fetch(localUrl(target.port(), "/b"), platformDefaults), 0);
    ASSERT_EQ(proxy.connectionCount(), 1u);
    EXPECT_NE(proxy.received(0).find("GET http://127.0.0.1:" + std::to_string(target.port()) + "/b HTTP/1.1"),
              std::string::npos);

    // UseProxy with credentials: the named proxy, and its credentials go with the request.
    TDlInternetOptions named;
    named.UseProxy = true;
    named.ProxyName = "127.0.0.1";
    named.ProxyPort = proxy.port();
    named.UseProxyAuth = true;
    named.ProxyUserName = "user";
    named.ProxyPassword = "secret";
    EXPECT_EQ(fetch("http://songs.example/c.mp3", named), 0);
    ASSERT_EQ(proxy.connectionCount(), 2u);
    EXPECT_NE(proxy.received(1).find("GET http://songs.example/c.mp3 HTTP/1.1"), std::string::npos);
    EXPECT_NE(proxy.received(1).find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ="), std::string::npos);
    EXPECT_EQ(target.connectionCount(), 1u);
}

TEST(InternetOptions, ConnectAndDataTimeoutsAreSeconds) {
    UnansweredListener unanswered;
    TDlInternetOptions o;
    o.ConnectRetries = 1;
    o.ConnectTimeout = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(localUrl(unanswered.port(), "/a"), o), 12002);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);

    ScriptedTcpServer silent(testsupport::hostile::sends("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab"));
    o.DataTimeout = 1;
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(localUrl(silent.port(), "/a"), o), 12002);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

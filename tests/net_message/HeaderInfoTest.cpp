#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "http/NetHTTPHeaderInfo.h"

using namespace net;

namespace {

class NetHeaderInfo : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Shanghai", 1);
        tzset();
    }

    static TDateTime at(int y, int mo, int d, int h, int mi, int s) {
        TDateTime date = 0;
        TDateTime time = 0;
        EXPECT_TRUE(tryEncodeDate(y, mo, d, date));
        EXPECT_TRUE(tryEncodeTime(h, mi, s, time));
        return date + time;
    }

    static void parse(TNetResponseHeaderInfo& response, std::string_view headers) {
        response.RawHeaders.setText(headers);
        response.ParseRawHeaders();
    }

    static constexpr double kSecond = 1.0 / 86400.0;
};

// A request record whose scheme object answers with a fixed value, as the
// client's record does with a real scheme.
class RequestWithCredentials : public TNetRequestHeaderInfo {
protected:
    std::string authorizationValue() override { return BasicAuthentication ? "Basic Og==" : ""; }
};

TEST_F(NetHeaderInfo, ProgramRequestHead) {
    TNetRequestHeaderInfo request;
    request.Host = "h";
    request.BuildRawHeaders();
    EXPECT_EQ(request.RawHeaders.text(),
              "Host: h\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; BrelvoMP3)\r\n");
}

TEST_F(NetHeaderInfo, RequestHeaderOrder) {
    RequestWithCredentials request;
    request.Connection = "keep-alive";
    request.ContentType = "text/plain";
    request.SetContentLength(0);
    request.LastModified = at(1994, 11, 6, 8, 49, 37);
    request.CustomHeaders.add("X-Custom: 1");
    request.CustomHeaders.add("Host: replaced");
    request.Host = "h:8080";
    request.ContentRangeStart = 100;
    request.BasicAuthentication = true;
    request.BuildRawHeaders();
    EXPECT_EQ(request.RawHeaders.text(),
              "Connection: keep-alive\r\n"
              "Content-Type: text/plain\r\n"
              "Content-Length: 0\r\n"
              "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
              "X-Custom: 1\r\n"
              "Host: h:8080\r\n"
              "Accept: text/html, */*\r\n"
              "User-Agent: Mozilla/3.0 (compatible; BrelvoMP3)\r\n"
              "If-Modified-Since: Sun, 6 Nov 1994 08:49:37 +0800\r\n"
              "Range: bytes=100-\r\n"
              "Authorization: Basic Og==\r\n");

    request.ContentRangeEnd = 200;
    request.SetContentLength(-1);
    request.BuildRawHeaders();
    EXPECT_EQ(request.RawHeaders.GetHeaderValue("Range"), "bytes=100-200");
    EXPECT_EQ(request.RawHeaders.IndexOfHeader("Content-Length"), -1);
}

TEST_F(NetHeaderInfo, EveryRequestHeaderInItsPlace) {
    TNetRequestHeaderInfo request;
    request.Connection = "c";
    request.ContentVersion = "v";
    request.ContentEncoding = "e";
    request.ContentLanguage = "l";
    request.ContentType = "t";
    request.SetContentLength(5);
    request.CacheControl = "cc";
    request.Date = at(2024, 1, 2, 0, 0, 0);
    request.Expires = at(2024, 1, 3, 0, 0, 0);
    request.LastModified = at(2024, 1, 4, 0, 0, 0);
    request.Pragma = "p";
    request.ProxyConnection = "pc";
    request.Host = "h";
    request.AcceptCharSet = "cs";
    request.AcceptEncoding = "ae";
    request.AcceptLanguage = "al";
    request.From = "f";
    request.Referer = "r";
    request.BuildRawHeaders();
    std::string names;
    for (std::int32_t i = 0; i < request.RawHeaders.count(); ++i) names += request.RawHeaders.NameOfLine(i) + ",";
    EXPECT_EQ(names,
              "CONNECTION,CONTENT-VERSION,CONTENT-ENCODING,CONTENT-LANGUAGE,CONTENT-TYPE,CONTENT-LENGTH,"
              "CACHE-CONTROL,DATE,EXPIRES,LAST-MODIFIED,PRAGMA,PROXY-CONNECTION,HOST,ACCEPT,ACCEPT-CHARSET,"
              "ACCEPT-ENCODING,ACCEPT-LANGUAGE,FROM,REFERER,USER-AGENT,IF-MODIFIED-SINCE,");
    EXPECT_EQ(request.RawHeaders.GetHeaderValue("Date"), "Tue, 2 Jan 2024 00:00:00 +0800");
    EXPECT_EQ(request.RawHeaders.GetHeaderValue("Expires"), "Wed, 3 Jan 2024 00:00:00 +0800");
    EXPECT_EQ(request.RawHeaders.GetHeaderValue("Last-Modified"), "Thu, 04 Jan 2024 00:00:00 GMT");
}

TEST_F(NetHeaderInfo, ResetKeepsTheCallersSettings) {
    TNetRequestHeaderInfo request;
    request.Accept = "x";
    request.UserAgent = "y";
    request.Referer = "r";
    request.CacheControl = "no-cache";
    request.SetContentLength(5);
    request.ResetFields();
    EXPECT_EQ(request.Accept, "text/html, */*");
    EXPECT_EQ(request.UserAgent, "Mozilla/3.0 (compatible; BrelvoMP3)");
    EXPECT_EQ(request.Referer, "r");
    EXPECT_EQ(request.CacheControl, "no-cache");
    EXPECT_EQ(request.ContentLength(), -1);
    EXPECT_TRUE(request.HasContentLength());

    TNetResponseHeaderInfo response;
    EXPECT_EQ(response.ContentType, "text/html");
    EXPECT_EQ(response.RawHeaders.foldLength, 1024);
    EXPECT_EQ(response.CustomHeaders.foldLength, 78);
}

TEST_F(NetHeaderInfo, ResponseFields) {
    TNetResponseHeaderInfo response;
    parse(response,
          "Server: demo\r\n"
          "Content-Length: 12\r\n"
          "Content-Length: 12\r\n"
          "Date: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
          "WWW-Authenticate: Basic realm=\"a\"\r\n"
          "www-authenticate: Digest x\r\n"
          "Content-Range: bytes 0-499/1234\r\n"
          "Set-Cookie: a=b\r\n");
    EXPECT_EQ(response.Server, "demo");
    EXPECT_EQ(response.ContentLength(), 12);
    EXPECT_TRUE(response.HasContentLength());
    EXPECT_EQ(response.ContentType, "");
    EXPECT_NEAR(response.Date, at(1994, 11, 6, 16, 49, 37), kSecond / 10);
    EXPECT_EQ(response.LastModified, 0);
    EXPECT_EQ(response.Expires, 0);
    EXPECT_EQ(response.WWWAuthenticate.lines(), (std::vector<std::string>{"Basic realm=\"a\"", "Digest x"}));
    EXPECT_EQ(response.ContentRangeStart, 0u);
    EXPECT_EQ(response.ContentRangeEnd, 499u);

    // The next block recomputes every field.
    parse(response, "Content-Length : 12\r\ncontent-type: text/plain\r\n");
    EXPECT_EQ(response.ContentLength(), -1);
    EXPECT_FALSE(response.HasContentLength());
    EXPECT_EQ(response.ContentType, "text/plain");
    EXPECT_EQ(response.Server, "");
    EXPECT_EQ(response.ContentRangeEnd, 0u);
    EXPECT_TRUE(response.WWWAuthenticate.empty());

    parse(response, "Content-Length:\r\n   7\r\n");
    EXPECT_EQ(response.ContentLength(), 7);
}

TEST_F(NetHeaderInfo, ContentLengthIsOnePlainNumber) {
    const struct {
        const char* headers;
        std::int64_t length;
    } valid[] = {
        {"", -1},
        {"content-length: 0\r\n", 0},
        {"Content-Length: 3000000000\r\n", 3000000000},
        {"Content-Length: 9223372036854775807\r\n", INT64_MAX},
        {"Content-Length: 007\r\n", 7},
        {"Content-Length: 7\r\nContent-Length: 7\r\n", 7},
        {"Content-Length: 7, 7\r\n", 7},
        // A blank before the colon: not this header at all.
        {"Content-Length : 12\r\n", -1},
    };
    TNetResponseHeaderInfo response;
    for (const auto& c : valid) {
        parse(response, c.headers);
        EXPECT_EQ(response.ContentLength(), c.length) << c.headers;
        EXPECT_EQ(response.HasContentLength(), c.length >= 0) << c.headers;
    }

    const char* const invalid[] = {
        "Content-Length: 12\r\nContent-Length: 99\r\n",
        "Content-Length: 5, 6\r\n",
        "Content-Length: 5,\r\n",
        "Content-Length: -1\r\n",
        "Content-Length: +5\r\n",
        "Content-Length: twelve\r\n",
        "Content-Length: 1 2\r\n",
        "Content-Length: 0x10\r\n",
        "Content-Length: 9223372036854775808\r\n",
        "Content-Length:\r\n",
    };
    for (const char* headers : invalid) EXPECT_THROW(parse(response, headers), ENetInvalidContentLength) << headers;
    // The request record reads lengths by the same rule.
    TNetRequestHeaderInfo request;
    request.RawHeaders.setText("Content-Length: 1\r\nContent-Length: 2\r\n");
    EXPECT_THROW(request.ParseRawHeaders(), ENetInvalidContentLength);
}

TEST_F(NetHeaderInfo, ExpiresForms) {
    TNetResponseHeaderInfo response;
    parse(response, "Expires: 3661\r\n");
    EXPECT_NEAR(response.Expires - nowLocal(), 3661 * kSecond, 5 * kSecond);

    parse(response, "Expires: Thu, 01 Dec 1994 16:00:00 GMT\r\n");
    EXPECT_NEAR(response.Expires, at(1994, 12, 2, 0, 0, 0), kSecond / 10);

    // Zero seconds, and anything that is neither a time of day in seconds
    // nor a date, mean already expired: the moment the header was read.
    for (const char* value : {"0", "-1", "86400", "-2", "99999999999999999999", "never",
                              "Sun, 06 November 1994 08:49:37 GMT"}) {
        const TDateTime before = nowLocal();
        parse(response, std::string("Expires: ") + value + "\r\n");
        EXPECT_GE(response.Expires, before - kSecond) << value;
        EXPECT_LE(response.Expires, nowLocal() + kSecond) << value;
    }
}

TEST_F(NetHeaderInfo, DatesThatDoNotParseCountAsAbsent) {
    TNetResponseHeaderInfo response;
    parse(response, "Date: yesterday\r\nLast-Modified: Sun, 31 Feb 1994 08:49:37 GMT\r\n");
    EXPECT_EQ(response.Date, 0);
    EXPECT_EQ(response.LastModified, 0);
    parse(response, "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n");
    EXPECT_NEAR(response.LastModified, at(1994, 11, 6, 16, 49, 37), kSecond / 10);
}

TEST_F(NetHeaderInfo, ContentRangeMustBeNumeric) {
    TNetResponseHeaderInfo response;
    EXPECT_THROW(parse(response, "Content-Range: bytes */1234\r\n"), ConversionError);
    EXPECT_THROW(parse(response, "Content-Range: bytes 5-x/10\r\n"), ConversionError);
    parse(response, "Content-Range: bytes 4294967295-4294967295/*\r\n");
    EXPECT_EQ(response.ContentRangeStart, 4294967295u);
}

TEST_F(NetHeaderInfo, RequestParserForServers) {
    TNetRequestHeaderInfo request;
    request.RawHeaders.setText("Host: h\r\nRange: bytes=10-20\r\nUser-Agent: t\r\n");
    request.ParseRawHeaders();
    EXPECT_EQ(request.Host, "h");
    EXPECT_EQ(request.UserAgent, "t");
    EXPECT_EQ(request.Accept, "");
    EXPECT_EQ(request.ContentRangeStart, 10u);
    EXPECT_EQ(request.ContentRangeEnd, 20u);
}

TEST_F(NetHeaderInfo, Assignment) {
    TNetRequestHeaderInfo source;
    source.Accept = "a";
    source.Username = "u";
    source.BasicAuthentication = true;
    source.Host = "not copied";
    source.ContentType = "not copied";
    TNetRequestHeaderInfo target;
    target.Assign(source);
    EXPECT_EQ(target.Accept, "a");
    EXPECT_EQ(target.Username, "u");
    EXPECT_TRUE(target.BasicAuthentication);
    EXPECT_EQ(target.Host, "");
    EXPECT_EQ(target.ContentType, "");

    TNetResponseHeaderInfo response;
    parse(response, "Content-Type: text/plain\r\nContent-Length: 3\r\nServer: s\r\n");
    TNetResponseHeaderInfo copy;
    copy.Assign(response);
    EXPECT_EQ(copy.ContentType, "text/plain");
    EXPECT_EQ(copy.ContentLength(), 3);
    EXPECT_EQ(copy.RawHeaders.count(), 3);
    EXPECT_EQ(copy.Server, "");
}

TEST_F(NetHeaderInfo, ProxyCredentialsBelongToOneProxy) {
    TNetProxyConnectionInfo proxy;
    proxy.SetProxyServer("Proxy.local");
    proxy.SetProxyPort(3128);
    // Any owned object stands in for a scheme object here.
    auto token = std::make_shared<int>(1);
    std::weak_ptr<int> watch = token;
    proxy.Authentication = std::shared_ptr<TNetAuthentication>(token, nullptr);
    token.reset();

    proxy.SetProxyServer("proxy.LOCAL");
    proxy.SetProxyPort(3128);
    EXPECT_FALSE(watch.expired());
    proxy.SetProxyServer("other");
    EXPECT_TRUE(watch.expired());

    TNetProxyConnectionInfo copy;
    proxy.ProxyUsername = "u";
    proxy.BasicAuthentication = true;
    copy.Assign(proxy);
    EXPECT_EQ(copy.ProxyServer(), "other");
    EXPECT_EQ(copy.ProxyPort(), 3128);
    EXPECT_EQ(copy.ProxyUsername, "u");
    EXPECT_TRUE(copy.BasicAuthentication);
    copy.Clear();
    EXPECT_EQ(copy.ProxyServer(), "");
    EXPECT_EQ(copy.ProxyPort(), 0);
    EXPECT_EQ(copy.ProxyUsername, "");
}

}  // namespace

// Header readers, texts, the curl error table and the item's data buffer.
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <curl/curl.h>
#include <cstring>

#include <gtest/gtest.h>

#include "download/engine/DlHeaderParsing.h"
#include "download/engine/ReceiveBuffer.h"
#include "download/engine/TDlDownloads.h"
#include "download/engine/TDlPersistent.h"
#include "download/inet/InetErrors.h"
#include "download/texts/DlTexts.h"

using dl::EncodeDateTime;
using dl::ParseLastModified;
using dl::ParseSetCookies;

namespace {

// The HTTP dates are GMT; the values are local: pin the zone (+8, no DST).
class ShanghaiTime {
public:
    ShanghaiTime() {
        if (const char* tz = std::getenv("TZ")) old_ = tz;
        ::setenv("TZ", "Asia/Shanghai", 1);
        ::tzset();
    }
    ~ShanghaiTime() {
        if (old_.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", old_.c_str(), 1);
        ::tzset();
    }

private:
    std::string old_;
};

}  // namespace

TEST(ParseLastModified, ReadsGmtAsTheLocalDateTime) {
    ShanghaiTime zone;
    const double nov15 = EncodeDateTime(1994, 11, 15, 16, 12, 31);
    struct Case {
        const char* text;
        double want;
    };
    const Case cases[] = {
        {"Tue, 15 Nov 1994 08:12:31 GMT", nov15},
        {"Tuesday, 15-Nov-94 08:12:31 GMT", nov15},    // two-digit year, dashes
        {"tue,15 nov 1994 8:12:31", nov15},           // case and blanks do not matter
        {"Tue 15 Nov 1994 08:12:31 GMT", nov15},      // no comma
        {"x: , 15 Nov 1994 08:12:31", nov15},         // one ":" after the first token
        {"Thu, 01 Jan 1970 00:00:00 GMT", EncodeDateTime(1970, 1, 1, 8, 0, 0)},
        {"Fri, 01 Jan 99 00:00:00 GMT", EncodeDateTime(1999, 1, 1, 8, 0, 0)},
        {"Fri, 31 Dec 1999 23:59:59 GMT", EncodeDateTime(2000, 1, 1, 7, 59, 59)},
        {"Tue Nov 15 08:12:31 1994", 0},              // asctime form
        {"Tue, 15 Nowember 1994 08:12:31 GMT", 0},    // no month
        {"Tue, 32 Nov 1994 08:12:31 GMT", 0},         // no such day of any month
        {"Tue, 0 Nov 1994 08:12:31 GMT", 0},
        {"", 0},
        {"Tue,", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(ParseLastModified(c.text), c.want);
    }
}

TEST(ParseLastModified, ImpossibleDatesAndMissingNumbersRaise) {
    const char* const texts[] = {
        "Sun, 29 Feb 2015 00:00:00 GMT",   // not a leap year
        "Tue, 15 Nov 1994 25:00:00 GMT",
        "Tue, 15 Nov 1994 08:60:00 GMT",
        "Tue, 15 Nov 1994",                // no time
        "Tue, 15 Nov , 08:12:31",          // no year
        "Tue, 15 Nov 99999999999 08:12:31",
        "Tue, 15 Nov 12000 08:12:31",
    };
    for (const char* text : texts) EXPECT_THROW(ParseLastModified(text), dl::EConvertError) << text;
}

TEST(ParseSetCookies, CollectsEntriesOfEverySetCookieLine) {
    using std::string_literals::operator""s;
    struct Case {
        const char* name;
        std::string raw;
        bool strip;
        std::vector<std::string> want;
    };
    const std::vector<Case> cases = {
        {"NUL-separated raw headers", "HTTP/1.1 200 OK\0Set-Cookie: a=1; Path=/; Domain=x\0Content-Length: 1\0\0"s, true,
         {"a=1"}},
        {"kept attributes without strip", "Set-Cookie: a=1; Path=/; expires=Wed, 09 Jun 2021 10:18:14 GMT", false,
         {"a=1", "Path=/", "expires=Wed, 09 Jun 2021 10:18:14 GMT"}},
        {"CR LF lines, any case, leading blanks", "X: y\r\n\tSET-COOKIE: b=2\r\nset-cookie: c=3; HttpOnly", true,
         {"b=2", "c=3", "HttpOnly"}},
        {"lines joined with ; and empty pieces dropped", "Set-Cookie: a=1;\0Set-Cookie: b=2"s, true, {"a=1", "b=2"}},
        {"no blank after the colon is no cookie line", "Set-Cookie:a=1\r\nCookie: b=2", true, {}},
        {"nothing", "", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dl::TDlCookiesList list;
        ParseSetCookies(c.raw, list, c.strip);
        EXPECT_EQ(list.Entries(), c.want);
    }
}

TEST(ParseSetCookies, AppendsAndStripsOverTheWholeList) {
    dl::TDlCookiesList list;
    list.Add("path=/old");
    list.Add("keep=1");
    ParseSetCookies("Set-Cookie: new=2; DOMAIN=x", list, true);
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"keep=1", "new=2"}));
    EXPECT_EQ(list.Name(1), "new");
    EXPECT_EQ(list.Value(1), "2");
}

TEST(Texts, ErrorAndStatusTexts) {
    EXPECT_EQ(dl::InternetErrorText(0), "");
    EXPECT_EQ(dl::InternetErrorText(6), "Stopped");
    EXPECT_EQ(dl::InternetErrorText(12007), "Name not resolved");
    EXPECT_EQ(dl::InternetErrorText(12033), "Invalid proxy request");
    EXPECT_EQ(dl::InternetErrorText(12045), "Internet Error: 12045");
    EXPECT_EQ(dl::HttpStatusText(404), "File not found");
    EXPECT_EQ(dl::HttpStatusText(504), "Gateway timeout");
    EXPECT_EQ(dl::HttpStatusText(302), "HTTP Error: 302");
}

TEST(Texts, CurlFailuresMapOntoThePlatformNumbers) {
    struct Case {
        int curlCode;
        long osErrno;
        int want;
    };
    const Case cases[] = {
        {CURLE_OK, 0, 0},
        {CURLE_COULDNT_RESOLVE_HOST, 0, 12007},
        {CURLE_COULDNT_CONNECT, 0, 12029},
        {CURLE_OPERATION_TIMEDOUT, 0, 12002},
        {CURLE_URL_MALFORMAT, 0, 12005},
        {CURLE_UNSUPPORTED_PROTOCOL, 0, 12152},
        {CURLE_RECV_ERROR, ECONNRESET, 12031},
        {CURLE_RECV_ERROR, EPIPE, 12030},
        {CURLE_PARTIAL_FILE, 0, 12030},
        {CURLE_PEER_FAILED_VERIFICATION, 0, 12045},
        {CURLE_BAD_CONTENT_ENCODING, 0, 13000 + CURLE_BAD_CONTENT_ENCODING},
    };
    for (const Case& c : cases) EXPECT_EQ(inet::errorFromCurl(c.curlCode, c.osErrno), c.want) << c.curlCode;
}

TEST(ReceiveBuffer, HoldsBytesAtTheirOffsetsAndHandsThemOver) {
    dl::ReceiveBuffer buffer;
    EXPECT_EQ(buffer.View(), "");
    buffer.WriteAt(0, "abc", 3);
    buffer.WriteAt(5, "xy", 2);  // a gap reads as zeros
    EXPECT_EQ(std::string(buffer.View()), std::string("abc\0\0xy", 7));
    // Growing past the huge-page size keeps what was written.
    const std::string block(1 << 20, 'q');
    for (int i = 0; i < 5; ++i) buffer.WriteAt(7 + static_cast<std::size_t>(i) * block.size(), block.data(), block.size());
    EXPECT_EQ(buffer.Size(), 7 + 5 * block.size());
    EXPECT_EQ(std::string(buffer.View().substr(0, 7)), std::string("abc\0\0xy", 7));
    EXPECT_EQ(buffer.View().substr(7 + 3 * block.size(), 4), "qqqq");

    dl::ReceiveBuffer reserved;
    ASSERT_TRUE(reserved.Reserve(3u << 20));
    const std::size_t capacity = reserved.Capacity();
    reserved.WriteAt(0, block.data(), block.size());
    EXPECT_EQ(reserved.Capacity(), capacity);  // sized once

    dl::TDlDownloads downloads;
    dl::TDlDownloadItem& item = downloads.AddItem();
    std::size_t room = 0;
    char* place = item.Progress.Data.WritableTail(3, room);
    ASSERT_GE(room, 3u);
    std::memcpy(place, "abc", 3);
    ASSERT_EQ(item.Progress.Data.Commit(3), 0);
    item.Progress.Size = 3;
    const char* bytes = item.Progress.Data.Data();
    dl::ItemData taken = item.ReleaseData();
    EXPECT_EQ(taken.Data(), bytes);  // moved, not copied
    EXPECT_EQ(taken.View(), "abc");
    EXPECT_EQ(item.Progress.Data.Size(), 0u);
    EXPECT_EQ(item.Progress.Size.load(), 0u);
}

TEST(ReceiveBuffer, BytesCutOffByAShorterCommitReadAsZerosInALaterGap) {
    dl::ReceiveBuffer buffer;
    std::size_t room = 0;
    char* place = buffer.WritableAt(0, 8192, room);
    std::memset(place, 'o', 8192);  // placed, but only two bytes taken
    buffer.Commit(2);
    buffer.WriteAt(4096, "cd", 2);
    EXPECT_EQ(buffer.Size(), 4098u);
    EXPECT_EQ(std::string(buffer.View().substr(2, 4094)), std::string(4094, '\0'));
}

TEST(DownloadItem, CopyTakesTheRequestSettings) {
    dl::TDlDownloads downloads;
    dl::TDlDownloadItem& source = downloads.AddItem();
    source.Request.URL = "http://h/a.mp3";
    source.Request.AcceptTypes = "audio/mpeg";
    source.Request.Level = -1;
    source.Request.Method = dl::dmPost;
    source.Request.PostData = std::string("a=1");
    source.Request.UserName = "u";
    source.Request.NoRedirect = true;
    source.Request.RemoveWhenDone = true;
    source.Request.RejectTypes = {"text/html"};
    source.Request.SendCookies.Add("c=1");
    source.Request.Options.UserAgent = "agent";
    source.Progress.StatusCode = 404;
    source.Progress.State = dl::dsFailed;
    dl::TDlDownloadItem& copy = downloads.AddItem();
    copy.Assign(source);
    EXPECT_EQ(copy.Request.URL, source.Request.URL);
    EXPECT_EQ(copy.Request.Name, source.Request.URL);  // no name: the URL
    EXPECT_EQ(copy.Request.AcceptTypes, "audio/mpeg");
    EXPECT_EQ(copy.Request.Level, -1);
    EXPECT_EQ(copy.Request.Method, dl::dmPost);
    EXPECT_EQ(std::get<std::string>(copy.Request.PostData), "a=1");
    EXPECT_EQ(copy.Request.UserName, "u");
    EXPECT_TRUE(copy.Request.NoRedirect && copy.Request.RemoveWhenDone);
    EXPECT_EQ(copy.Request.RejectTypes, source.Request.RejectTypes);
    EXPECT_EQ(copy.Request.SendCookies, source.Request.SendCookies);
    EXPECT_EQ(copy.Request.Options.UserAgent, "agent");
    EXPECT_EQ(copy.Progress.StatusCode, 0);  // state is not copied
    EXPECT_EQ(copy.Progress.State.load(), dl::dsWaiting);
}

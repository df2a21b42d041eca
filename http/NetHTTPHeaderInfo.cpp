#include "http/NetHTTPHeaderInfo.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace net {

namespace {

const char* const kDefaultAccept = "text/html, */*";
const char* const kDefaultUserAgent = "Mozilla/3.0 (compatible; BrelvoMP3)";
const char* const kDefaultResponseContentType = "text/html";

void setIfNotEmpty(TNetHeaderList& headers, std::string_view name, const std::string& value) {
    if (!value.empty()) headers.SetHeaderValue(name, value);
}

// The client does not act on these dates, so one that does not parse must
// not cost the page: the field stays unset (0).
TDateTime parseDateHeader(const TNetHeaderList& headers, std::string_view name) {
    TDateTime value = 0;
    return TryParseHttpDate(headers.GetHeaderValue(name), value) ? value : 0;
}

// "Expires" may be a number of seconds from now, valid only as a time of
// day, or a date. Any other value means already expired (RFC 9111): the
// moment it was read.
TDateTime parseExpires(const TNetHeaderList& headers) {
    const std::string value = headers.GetHeaderValue("Expires");
    if (value.empty()) return 0;
    const TDateTime now = nowLocal();
    std::int64_t seconds = 0;
    if (tryStrToInt64(value, seconds) && seconds != -1) {
        TDateTime timeOfDay = 0;
        if (seconds >= 0 && seconds < 86400 &&
            tryEncodeTime(static_cast<int>(seconds / 3600), static_cast<int>(seconds % 3600 / 60),
                          static_cast<int>(seconds % 60), timeOfDay))
            return now + timeOfDay;
        return now;
    }
    TDateTime date = 0;
    return TryParseHttpDate(value, date) ? date : now;
}

// One "Content-Length" item: digits only, within 63 bits.
bool parseLengthItem(std::string_view item, std::int64_t& length) {
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (item.empty()) return false;
    std::int64_t value = 0;
    for (const char c : item) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) return false;
        value = value * 10 + digit;
    }
    length = value;
    return true;
}

// Every "Content-Length" line, and every item of a comma-separated list in
// one, must give the same plain number; -1 when there is none.
std::int64_t contentLengthOf(const TNetHeaderList& headers) {
    std::vector<std::string> values;
    headers.ExtractValues("Content-Length", &values);
    std::int64_t length = -1;
    for (const std::string& value : values) {
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            std::int64_t item = 0;
            if (!parseLengthItem(rest.substr(0, comma), item) || (length >= 0 && item != length))
                throw ENetInvalidContentLength(value);
            length = item;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return length;
}

void copyLines(const TNetHeaderList& from, TNetHeaderList& to) {
    to.clear();
    for (const std::string& line : from.lines()) to.add(line);
}

std::string rangeText(std::uint32_t start, std::uint32_t end) {
    std::string text = "bytes=" + std::to_string(start) + "-";
    if (end != 0) text += std::to_string(end);
    return text;
}

std::uint32_t uint32Def(std::string_view text) {
    std::uint32_t value = 0;
    return tryStrToUInt32(text, value) ? value : 0;
}

}  // namespace

// ---- entity ----------------------------------------------------------------

ENetInvalidContentLength::ENetInvalidContentLength(std::string_view value)
    : ENetException("Invalid Content-Length: " + std::string(value.substr(0, 64))) {}

TNetEntityHeaderInfo::TNetEntityHeaderInfo() { resetEntityFields(); }

void TNetEntityHeaderInfo::SetContentLength(std::int64_t value) {
    contentLength_ = value;
    hasContentLength_ = value >= 0;
}

void TNetEntityHeaderInfo::resetEntityFields() {
    Connection.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    contentLength_ = -1;
    ContentRangeEnd = 0;
    ContentRangeStart = 0;
    ContentType.clear();
    ContentVersion.clear();
    Date = 0;
    Expires = 0;
    LastModified = 0;
    RawHeaders.clear();
}

void TNetEntityHeaderInfo::ResetFields() { resetEntityFields(); }

void TNetEntityHeaderInfo::buildEntityHeaders() {
    RawHeaders.clear();
    setIfNotEmpty(RawHeaders, "Connection", Connection);
    setIfNotEmpty(RawHeaders, "Content-Version", ContentVersion);
    setIfNotEmpty(RawHeaders, "Content-Encoding", ContentEncoding);
    setIfNotEmpty(RawHeaders, "Content-Language", ContentLanguage);
    setIfNotEmpty(RawHeaders, "Content-Type", ContentType);
    if (contentLength_ >= 0) RawHeaders.SetHeaderValue("Content-Length", std::to_string(contentLength_));
    setIfNotEmpty(RawHeaders, "Cache-control", CacheControl);
    if (Date > 0) RawHeaders.SetHeaderValue("Date", FormatHttpDate(Date, false));
    if (Expires > 0) RawHeaders.SetHeaderValue("Expires", FormatHttpDate(Expires, false));
    if (LastModified > 0) RawHeaders.SetHeaderValue("Last-Modified", FormatHttpDateGMT(LastModified));
    setIfNotEmpty(RawHeaders, "Pragma", Pragma);
    // Custom lines go out as given, without folding.
    if (!CustomHeaders.empty()) RawHeaders.setText(RawHeaders.text() + CustomHeaders.text());
}

void TNetEntityHeaderInfo::BuildRawHeaders() { buildEntityHeaders(); }

void TNetEntityHeaderInfo::parseEntityHeaders() {
    Connection = RawHeaders.GetHeaderValue("Connection");
    ContentVersion = RawHeaders.GetHeaderValue("Content-Version");
    ContentEncoding = RawHeaders.GetHeaderValue("Content-Encoding");
    ContentLanguage = RawHeaders.GetHeaderValue("Content-Language");
    ContentType = RawHeaders.GetHeaderValue("Content-Type");
    SetContentLength(contentLengthOf(RawHeaders));
    Date = parseDateHeader(RawHeaders, "Date");
    LastModified = parseDateHeader(RawHeaders, "Last-Modified");
    Expires = parseExpires(RawHeaders);
    Pragma = RawHeaders.GetHeaderValue("Pragma");
}

void TNetEntityHeaderInfo::ParseRawHeaders() { parseEntityHeaders(); }

void TNetEntityHeaderInfo::assignEntity(const TNetEntityHeaderInfo& source) {
    if (&source == this) return;
    copyLines(source.RawHeaders, RawHeaders);
    ContentEncoding = source.ContentEncoding;
    ContentLanguage = source.ContentLanguage;
    SetContentLength(source.contentLength_);
    ContentRangeEnd = source.ContentRangeEnd;
    ContentRangeStart = source.ContentRangeStart;
    ContentType = source.ContentType;
    ContentVersion = source.ContentVersion;
    Date = source.Date;
    Expires = source.Expires;
    LastModified = source.LastModified;
}

void TNetEntityHeaderInfo::Assign(const TNetEntityHeaderInfo& source) { assignEntity(source); }

// ---- request ---------------------------------------------------------------

TNetRequestHeaderInfo::TNetRequestHeaderInfo() { TNetRequestHeaderInfo::ResetFields(); }

void TNetRequestHeaderInfo::ResetFields() {
    resetEntityFields();
    Accept = kDefaultAccept;
    AcceptCharSet.clear();
    UserAgent = kDefaultUserAgent;
    BasicAuthentication = false;
}

void TNetRequestHeaderInfo::BuildRawHeaders() {
    buildEntityHeaders();
    setIfNotEmpty(RawHeaders, "Proxy-Connection", ProxyConnection);
    setIfNotEmpty(RawHeaders, "Host", Host);
    setIfNotEmpty(RawHeaders, "Accept", Accept);
    setIfNotEmpty(RawHeaders, "Accept-Charset", AcceptCharSet);
    setIfNotEmpty(RawHeaders, "Accept-Encoding", AcceptEncoding);
    setIfNotEmpty(RawHeaders, "Accept-Language", AcceptLanguage);
    setIfNotEmpty(RawHeaders, "From", From);
    setIfNotEmpty(RawHeaders, "Referer", Referer);
    setIfNotEmpty(RawHeaders, "User-Agent", UserAgent);
    if (LastModified > 0) RawHeaders.SetHeaderValue("If-Modified-Since", FormatHttpDate(LastModified, false));
    if (ContentRangeStart != 0 || ContentRangeEnd != 0)
        RawHeaders.SetHeaderValue("Range", rangeText(ContentRangeStart, ContentRangeEnd));
    setIfNotEmpty(RawHeaders, "Authorization", authorizationValue());
}

void TNetRequestHeaderInfo::ParseRawHeaders() {
    Accept = RawHeaders.GetHeaderValue("Accept");
    AcceptCharSet = RawHeaders.GetHeaderValue("Accept-Charset");
    AcceptEncoding = RawHeaders.GetHeaderValue("Accept-Encoding");
    AcceptLanguage = RawHeaders.GetHeaderValue("Accept-Language");
    Host = RawHeaders.GetHeaderValue("Host");
    From = RawHeaders.GetHeaderValue("From");
    Referer = RawHeaders.GetHeaderValue("Referer");
    UserAgent = RawHeaders.GetHeaderValue("User-Agent");
    std::string range = RawHeaders.GetHeaderValue("Range");
    CutToken(range, "=");
    ContentRangeStart = uint32Def(CutToken(range, "-"));
    ContentRangeEnd = uint32Def(CutToken(range, " "));
    parseEntityHeaders();
}

void TNetRequestHeaderInfo::Assign(const TNetEntityHeaderInfo& source) {
    const auto* request = dynamic_cast<const TNetRequestHeaderInfo*>(&source);
    if (request == nullptr) {
        assignEntity(source);
        return;
    }
    if (request == this) return;
    Accept = request->Accept;
    AcceptCharSet = request->AcceptCharSet;
    AcceptEncoding = request->AcceptEncoding;
    AcceptLanguage = request->AcceptLanguage;
    From = request->From;
    Password = request->Password;
    Referer = request->Referer;
    UserAgent = request->UserAgent;
    Username = request->Username;
    BasicAuthentication = request->BasicAuthentication;
}

// ---- response --------------------------------------------------------------

TNetResponseHeaderInfo::TNetResponseHeaderInfo() { TNetResponseHeaderInfo::ResetFields(); }

void TNetResponseHeaderInfo::ResetFields() {
    resetEntityFields();
    ContentType = kDefaultResponseContentType;
    Location.clear();
    Server.clear();
    WWWAuthenticate.clear();
    ProxyAuthenticate.clear();
}

void TNetResponseHeaderInfo::ParseRawHeaders() {
    Location = RawHeaders.GetHeaderValue("Location");
    Server = RawHeaders.GetHeaderValue("Server");
    ProxyConnection = RawHeaders.GetHeaderValue("Proxy-Connection");

    std::string range = RawHeaders.GetHeaderValue("Content-Range");
    if (range.empty()) {
        ContentRangeStart = 0;
        ContentRangeEnd = 0;
    } else {
        CutToken(range, " ");  // the unit
        const std::uint32_t start = strToUInt32(CutToken(range, "-"));
        const std::uint32_t end = strToUInt32(CutToken(range, "/"));
        ContentRangeStart = start;
        ContentRangeEnd = end;
    }

    WWWAuthenticate.clear();
    RawHeaders.ExtractValues("WWW-Authenticate", &WWWAuthenticate);
    ProxyAuthenticate.clear();
    RawHeaders.ExtractValues("Proxy-Authenticate", &ProxyAuthenticate);

    parseEntityHeaders();
}

// ---- proxy -----------------------------------------------------------------

void TNetProxyConnectionInfo::Clear() {
    SetProxyServer({});
    ProxyUsername.clear();
    ProxyPassword.clear();
    SetProxyPort(0);
}

void TNetProxyConnectionInfo::Assign(const TNetProxyConnectionInfo& source) {
    if (&source == this) return;
    SetProxyServer(source.proxyServer_);
    SetProxyPort(source.proxyPort_);
    ProxyUsername = source.ProxyUsername;
    ProxyPassword = source.ProxyPassword;
    BasicAuthentication = source.BasicAuthentication;
}

void TNetProxyConnectionInfo::SetProxyServer(std::string value) {
    if (!sameText(value, proxyServer_)) Authentication.reset();
    proxyServer_ = std::move(value);
}

void TNetProxyConnectionInfo::SetProxyPort(std::int32_t value) {
    if (value != proxyPort_) Authentication.reset();
    proxyPort_ = value;
}

}  // namespace net

#pragma once
// The parsed form of HTTP headers: one typed field per known header, plus the
// record's own raw header list. The client fills the request's raw list from
// its fields before sending (BuildRawHeaders) and the response's fields from
// the raw lines after reading them (ParseRawHeaders).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "http/NetGlobal.h"
#include "http/NetHeaderList.h"

namespace net {

// Authentication schemes are defined with the client; records only keep the
// scheme object they are given.
class TNetAuthentication;

inline constexpr std::int32_t kRawHeaderFoldLength = 1024;

// A "Content-Length" that cannot frame the body: not a plain non-negative
// decimal number, or several values that differ. Nothing after such a head
// can be trusted, so the connection it came on is closed.
class ENetInvalidContentLength : public ENetException {
public:
    explicit ENetInvalidContentLength(std::string_view value);
    const char* ClassName() const override { return "ENetInvalidContentLength"; }
};

class TNetEntityHeaderInfo {
public:
    TNetEntityHeaderInfo();
    virtual ~TNetEntityHeaderInfo() = default;
    TNetEntityHeaderInfo(const TNetEntityHeaderInfo&) = delete;
    TNetEntityHeaderInfo& operator=(const TNetEntityHeaderInfo&) = delete;

    virtual void ResetFields();
    // Empties RawHeaders and fills it from the fields.
    virtual void BuildRawHeaders();
    // Fills the fields from RawHeaders. Throw ENetInvalidContentLength (see
    // there) and, in a response, ConversionError for a "Content-Range" whose
    // bounds are not numbers. Date headers that do not parse never fail: the
    // field counts as absent, and "Expires" as already expired (the moment
    // it was read).
    virtual void ParseRawHeaders();
    // Copies the raw list and the content fields of source.
    virtual void Assign(const TNetEntityHeaderInfo& source);

    std::int64_t ContentLength() const { return contentLength_; }
    // Also sets HasContentLength to (value >= 0).
    void SetContentLength(std::int64_t value);
    bool HasContentLength() const { return hasContentLength_; }
    void SetHasContentLength(bool value) { hasContentLength_ = value; }

    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::uint32_t ContentRangeEnd = 0;
    std::uint32_t ContentRangeStart = 0;
    std::string ContentType;
    std::string ContentVersion;
    TNetHeaderList CustomHeaders;  // appended to the raw list unchanged
    TDateTime Date = 0;            // 0 or less: not set
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    std::string Pragma;
    TNetHeaderList RawHeaders{kRawHeaderFoldLength};

protected:
    void resetEntityFields();
    void buildEntityHeaders();
    void parseEntityHeaders();
    void assignEntity(const TNetEntityHeaderInfo& source);

private:
    std::int64_t contentLength_ = -1;
    bool hasContentLength_ = false;
};

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
public:
    TNetRequestHeaderInfo();

    void ResetFields() override;
    void BuildRawHeaders() override;
    // The server side: request fields and "Range", then the entity part.
    void ParseRawHeaders() override;
    // From another request record only the client's own settings are copied
    // (Accept..., From, Referer, UserAgent, credentials and the basic flag);
    // from any other record the entity part.
    void Assign(const TNetEntityHeaderInfo& source) override;

    std::string Accept;
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string From;
    std::string Host;
    std::string Referer;
    std::string UserAgent;
    std::string Username;
    std::string Password;
    bool BasicAuthentication = false;
    std::string ProxyConnection;
    // The scheme object answering the server's challenges, or none.
    std::shared_ptr<TNetAuthentication> Authentication;

protected:
    // Value for "Authorization", the last header BuildRawHeaders sets. The
    // client's request record, which knows the scheme classes, overrides this:
    // the header value of Authentication when there is one, otherwise, with
    // BasicAuthentication, that of a new Basic scheme object made from
    // Username and Password and kept in Authentication. Empty: no header.
    virtual std::string authorizationValue() { return {}; }
};

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
public:
    TNetResponseHeaderInfo();

    void ResetFields() override;
    void ParseRawHeaders() override;

    std::string Location;
    std::string Server;
    std::string ProxyConnection;
    TNetHeaderList WWWAuthenticate;    // every "WWW-Authenticate" value
    TNetHeaderList ProxyAuthenticate;  // every "Proxy-Authenticate" value
};

class TNetProxyConnectionInfo {
public:
    TNetProxyConnectionInfo() = default;
    TNetProxyConnectionInfo(const TNetProxyConnectionInfo&) = delete;
    TNetProxyConnectionInfo& operator=(const TNetProxyConnectionInfo&) = delete;

    // Server, user name and password empty, port 0.
    void Clear();
    // Copies server, port, user name, password and the basic flag.
    void Assign(const TNetProxyConnectionInfo& source);

    const std::string& ProxyServer() const { return proxyServer_; }
    std::int32_t ProxyPort() const { return proxyPort_; }
    // A different server (ignoring case) or port drops Authentication: its
    // credentials were for the old proxy.
    void SetProxyServer(std::string value);
    void SetProxyPort(std::int32_t value);

    std::string ProxyUsername;
    std::string ProxyPassword;
    bool BasicAuthentication = false;
    std::shared_ptr<TNetAuthentication> Authentication;

private:
    std::string proxyServer_;
    std::int32_t proxyPort_ = 0;
};

}  // namespace net

#pragma once
// The download's connection settings: agent name, time limits, proxy, the
// connected-state check and the dial-up rule. The collection owns one; each
// item takes a copy when a download thread picks it up, and its transfer
// applies that copy to its internet handle.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "download/engine/TDlPersistent.h"

namespace inet {
class RateLimit;
class Connection;
class Session;
}  // namespace inet

namespace dl {

enum TDlSocksVersion : std::uint8_t { sv4, sv4A, sv5 };
enum TDlInternetOptionsInteractiveAction : std::uint8_t { IA_DIAL_QUERY };
enum TDlInternetOptionsInteractiveResult : std::uint8_t { IR_YES, IR_NO };

class TDlInternetOptions;
using TDlInternetOptionsInteractiveEvent = std::function<TDlInternetOptionsInteractiveResult(
    TDlInternetOptions& sender, TDlInternetOptionsInteractiveAction action)>;

class TDlInternetOptions : public TDlPersistent {
public:
    static constexpr const char* kDefaultUserAgent = "Mozilla/4.0 (compatible; MSIE 5.01; Windows NT 5.0)";
    // The agent name used when UserAgent is empty.
    static constexpr const char* kFallbackUserAgent = "DW";

    TDlInternetOptions() = default;
    TDlInternetOptions(const TDlInternetOptions& other) : TDlPersistent() { Assign(other); }
    TDlInternetOptions& operator=(const TDlInternetOptions& other) {
        Assign(other);
        return *this;
    }

    const char* ClassName() const override { return "TDlInternetOptions"; }
    // Copies every setting but SocksProxy, SocksVersion and ServerThreads.
    void Assign(const TDlPersistent& source) override;

    std::int32_t ConnectRetries = 2;
    std::int32_t ConnectTimeout = 30;  // seconds; 0 = the platform's 60
    std::int32_t DataTimeout = 0;      // seconds without a byte; 0 = the platform's 30
    // Below LowSpeedLimit bytes a second for LowSpeedTime seconds on end, a
    // transfer has stalled (12002), as one that fell silent has; either 0:
    // no such limit.
    std::int32_t LowSpeedLimit = 1024;
    std::int32_t LowSpeedTime = 60;
    bool UseProxy = false;
    bool SocksProxy = false;            // no effect
    TDlSocksVersion SocksVersion = sv4; // no effect
    std::string ProxyName;
    std::int32_t ProxyPort = 0;
    bool UseProxyAuth = false;
    std::string ProxyUserName;
    std::string ProxyPassword;
    std::string UserAgent = kDefaultUserAgent;
    // The speed limit the run's transfers share (InetRateLimit.h), whatever
    // UseDefaultOptions says; none: no limit. A copy shares the same limit.
    std::shared_ptr<inet::RateLimit> RateLimit;
    bool UseDefaultOptions = false;
    std::int32_t ServerThreads = 4;  // no effect
    bool ModemConnection = false;
    bool UseDefaultBrowser = true;   // no effect
    bool AutoDial = false;
    bool AutoClose = false;
    bool ForceInternetCheck = false;
    bool UseIEDUNSettings = true;    // no effect
    std::string DUN;                 // no effect
    TDlInternetOptionsInteractiveEvent OnInteractiveEvent;  // stored and copied, never raised

    // The agent name a transfer opens its internet handle with.
    std::string AgentName() const { return UserAgent.empty() ? kFallbackUserAgent : UserAgent; }

    // Linux has no connected-state query, so the answer is true unless a
    // query is installed (tests install one to play an offline machine).
    static bool IsConnectedToInternet();
    static void SetConnectedStateQuery(std::function<bool()> query);

    // No scheme, scheme "file", or host "localhost" / "127.0.0.1" (any case).
    // The address is split by its text (SplitSchemeAndHost).
    static bool IsLocalURL(const std::string& url);

    // Connect attempts, time limits and the proxy, onto the internet handle.
    static void ApplyInternetOptions(inet::Session& handle, const TDlInternetOptions& options);
    // The proxy credentials onto the connection, with UseProxy and UseProxyAuth.
    static void ApplyProxyCredentials(inet::Connection& connection, const TDlInternetOptions& options);
    // The dial-up hang-up rule after a run. Returns whether its three
    // conditions held; there is no dial-up connection to hang up on Linux.
    static bool HangUpAfterRun(const TDlInternetOptions& options);
};

}  // namespace dl

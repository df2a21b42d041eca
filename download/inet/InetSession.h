#pragma once
// The internet handle: an agent name and the settings every request made
// through it inherits (connect attempts and time limits, proxy). Closing it
// from any thread makes every blocked call made through it return at once.
#include <memory>
#include <string>

#include "download/inet/InetAbortSignal.h"
#include "download/inet/InetRateLimit.h"

namespace inet {

// How requests reach the server.
enum class AccessType {
    Preconfigured = 0,  // curl's own handling of the proxy environment variables
    Direct = 1,         // no proxy, whatever the environment names
    NamedProxy = 3,     // the proxy list of the session
};

// The platform's own time limits, which a setting of 0 leaves in force:
// connecting (the name lookup included), and silence once connected (no
// byte of the answer, its head included, for this long).
constexpr int kDefaultConnectTimeoutSeconds = 60;
constexpr int kDefaultDataTimeoutSeconds = 30;
// A transfer slower than this many bytes a second for this many seconds on
// end has stalled, as one that fell silent has: a trickle (a byte every few
// seconds) must not hold a download for ever.
constexpr int kDefaultLowSpeedBytes = 1024;
constexpr int kDefaultLowSpeedSeconds = 60;

struct SessionSettings {
    int connectAttempts = 1;       // at least one
    int connectTimeoutSeconds = kDefaultConnectTimeoutSeconds;
    int dataTimeoutSeconds = kDefaultDataTimeoutSeconds;
    int lowSpeedBytes = kDefaultLowSpeedBytes;      // 0: no such limit
    int lowSpeedSeconds = kDefaultLowSpeedSeconds;  // 0: no such limit
    AccessType access = AccessType::Preconfigured;
    std::string proxyList;         // "host:port", for NamedProxy
    // Shared with other sessions: their bodies are read no faster than it
    // allows together (InetRateLimit.h); none: as fast as they come.
    std::shared_ptr<RateLimit> rateLimit;
};

class Session {
public:
    // Opens an internet handle; it never fails on this platform.
    static std::shared_ptr<Session> open(std::string agent);

    explicit Session(std::string agent);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& agent() const { return agent_; }

    // Set by the thread that uses the handle, before it makes requests.
    void setConnectRetries(int retries);
    // 0 or less: the platform's default limit.
    void setConnectTimeout(int seconds);
    void setDataTimeout(int seconds);
    // Below `bytes` a second for `seconds` on end: stalled (12002). Either
    // 0 or less: no such limit.
    void setLowSpeedLimit(int bytes, int seconds);
    void setProxy(AccessType access, std::string proxyList);
    void setRateLimit(std::shared_ptr<RateLimit> limit) { settings_.rateLimit = std::move(limit); }
    const SessionSettings& settings() const { return settings_; }

    // Any thread.
    void close();
    bool closed() const { return signal_->aborted(); }
    const std::shared_ptr<AbortSignal>& signal() const { return signal_; }

private:
    std::string agent_;
    SessionSettings settings_;
    std::shared_ptr<AbortSignal> signal_;
};

}  // namespace inet

#include "download/inet/InetSession.h"

#include <algorithm>
#include <mutex>

#include <curl/curl.h>

#include "download/inet/InetErrors.h"

namespace inet {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

std::shared_ptr<Session> Session::open(std::string agent) {
    initCurlOnce();
    return std::make_shared<Session>(std::move(agent));
}

Session::Session(std::string agent) : agent_(std::move(agent)), signal_(std::make_shared<AbortSignal>()) {}

void Session::setConnectRetries(int retries) { settings_.connectAttempts = std::max(1, retries); }

void Session::setConnectTimeout(int seconds) {
    settings_.connectTimeoutSeconds = seconds > 0 ? seconds : kDefaultConnectTimeoutSeconds;
}

void Session::setDataTimeout(int seconds) {
    settings_.dataTimeoutSeconds = seconds > 0 ? seconds : kDefaultDataTimeoutSeconds;
}

void Session::setLowSpeedLimit(int bytes, int seconds) {
    settings_.lowSpeedBytes = std::max(0, bytes);
    settings_.lowSpeedSeconds = std::max(0, seconds);
}

void Session::setProxy(AccessType access, std::string proxyList) {
    settings_.access = access;
    settings_.proxyList = std::move(proxyList);
}

void Session::close() { signal_->abort(); }

}  // namespace inet

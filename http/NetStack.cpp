#include "http/NetStack.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <memory>
#include <mutex>

#include "http/NetStackPosix.h"

namespace net {
namespace {

struct ErrorTextRow {
    int code;
    const char* text;
};

constexpr ErrorTextRow kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

// This thread's last failed socket call (the stack is shared by threads).
thread_local int tLastError = 0;

// A whole non-negative decimal number of at most `limit`; false otherwise.
bool parseAddressPart(const std::string& text, std::uint64_t limit, std::uint64_t& value) {
    if (text.empty()) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        // Leading zeros may make the text long; only the value must fit.
        if (v > limit) return false;
    }
    value = v;
    return true;
}

// The text up to the next "." (all of it when there is none); `rest` keeps
// what follows the ".".
std::string cutAtDot(std::string& rest) {
    const auto dot = rest.find('.');
    if (dot == std::string::npos) {
        std::string part = std::move(rest);
        rest.clear();
        return part;
    }
    std::string part = rest.substr(0, dot);
    rest.erase(0, dot + 1);
    return part;
}

std::mutex gStackMutex;
int gLiveCount = 0;
std::unique_ptr<TNetStack> gStackOwner;
std::atomic<TNetStack*> gStack{nullptr};

}  // namespace

// ---- error texts

const char* TNetStack::ErrorCodeText(int code) {
    for (const auto& row : kErrorTexts)
        if (row.code == code) return row.text;
    return "";
}

std::string TNetStack::SockErrorText(int code) {
    return "Socket Error # " + std::to_string(code) + "\r\n" + ErrorCodeText(code);
}

bool TNetStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
    if (result != kSocketError) return false;
    const int code = SockLastError();
    tLastError = code;
    if (std::find(tolerated.begin(), tolerated.end(), code) != tolerated.end()) return true;
    RaiseSocketFailure(code);
}

void TNetStack::RaiseSocketFailure(int code) {
    throw ENetSocketError(code, SockErrorText(code));
}

int TNetStack::LastError() const { return tLastError; }

TNetSocket TNetStack::NewSocket(int type, int protocol) {
    const TNetSocket s = SockCreate(kAddressFamilyIPv4, type, protocol);
    if (s == kInvalidSocket) {
        tLastError = SockLastError();
        throw ENetInvalidSocket();
    }
    return s;
}

// ---- addresses

TNetAddressInfo TNetStack::ClassifyAddress(const std::string& text) {
    std::string rest = text;
    const std::string p1 = cutAtDot(rest);
    const std::string p2 = cutAtDot(rest);
    const std::string p3 = cutAtDot(rest);
    const std::string p4 = rest;

    TNetAddressInfo info;
    std::uint64_t a = 0, b = 0, c = 0, d = 0;
    if (p2.empty()) {
        if (!parseAddressPart(p1, 0xFFFFFFFFull, a)) return info;
        info.kind = akNumeric;
        info.bytes = {static_cast<std::uint8_t>(a >> 24), static_cast<std::uint8_t>(a >> 16),
                      static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
        return info;
    }
    if (p3.empty()) {
        if (!parseAddressPart(p1, 255, a) || !parseAddressPart(p2, 0xFFFFFF, b)) return info;
        info.kind = akDotted;
        info.bytes = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b >> 16),
                      static_cast<std::uint8_t>(b >> 8), static_cast<std::uint8_t>(b)};
        info.addressClass = acA;
        return info;
    }
    if (p4.empty()) {
        if (!parseAddressPart(p1, 255, a) || !parseAddressPart(p2, 255, b) ||
            !parseAddressPart(p3, 0xFFFF, c))
            return info;
        info.kind = akDotted;
        info.bytes = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                      static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
        info.addressClass = acB;
        return info;
    }
    if (!parseAddressPart(p1, 255, a) || !parseAddressPart(p2, 255, b) ||
        !parseAddressPart(p3, 255, c) || !parseAddressPart(p4, 255, d))
        return info;
    info.kind = akDotted;
    info.bytes = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                  static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)};
    if (a < 128)
        info.addressClass = acA;
    else if (a < 192)
        info.addressClass = acB;
    else if (a < 224)
        info.addressClass = acC;
    else if (a < 240)
        info.addressClass = acD;
    else
        info.addressClass = acE;
    return info;
}

bool TNetStack::IsIPAddress(const std::string& text) { return ClassifyAddress(text).kind != akInvalid; }

TNetIPv4Bytes TNetStack::ParseAddress(const std::string& text) {
    const TNetAddressInfo info = ClassifyAddress(text);
    if (info.kind == akInvalid) throw ENetInvalidIPAddress(text);
    return info.bytes;
}

std::string TNetStack::AddressToText(const TNetIPv4Bytes& bytes) {
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

TNetIPv4Bytes TNetStack::TextToAddress(const std::string& text) { return ParseAddress(text); }

std::string TNetStack::ResolveHostAddress(const std::string& host) {
    std::string upper = host;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "LOCALHOST") return "127.0.0.1";
    if (IsIPAddress(host)) return host;
    std::string ip = SockHostByName(host);
    if (ip.empty()) CheckSocketResult(kSocketError, {});
    return ip;
}

// ---- local addresses

const std::vector<std::string>& TNetStack::LocalAddressList() {
    if (!localAddresses_) {
        localAddresses_ = std::make_unique<std::vector<std::string>>();
        FillLocalAddresses(*localAddresses_);
    }
    return *localAddresses_;
}

std::string TNetStack::FirstLocalAddress() {
    const auto& list = LocalAddressList();
    return list.empty() ? std::string() : list.front();
}

// ---- the shared stack

TNetStack& GStack() {
    // Readers run while their own lease keeps the stack alive, so the pointer
    // cannot change under them.
    TNetStack* stack = gStack.load();
    if (!stack) throw ENetStackError("No socket stack: no network component is alive.");
    return *stack;
}

TNetStackLease::TNetStackLease() {
    std::lock_guard lock(gStackMutex);
    if (gLiveCount == 0) {
        gStackOwner = std::make_unique<TNetStackPosix>();
        gStack.store(gStackOwner.get());
    }
    ++gLiveCount;
}

TNetStackLease::~TNetStackLease() {
    std::lock_guard lock(gStackMutex);
    if (--gLiveCount == 0) {
        gStack.store(nullptr);
        gStackOwner.reset();
    }
}

int TNetStackLease::LiveCount() {
    std::lock_guard lock(gStackMutex);
    return gLiveCount;
}

}  // namespace net


#include "http/NetAuthentication.h"

#include <algorithm>
#include <cctype>
#include <mutex>

namespace net {

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

std::string_view firstWord(std::string_view text) {
    const auto blank = text.find(' ');
    return blank == std::string_view::npos ? text : text.substr(0, blank);
}

}  // namespace

std::string TNetEncoderMIME::Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

// --- AuthParamList -----------------------------------------------------------

std::string AuthParamList::value(std::string_view name) const {
    for (const auto& [n, v] : entries_)
        if (equalsNoCase(n, name)) return v;
    return {};
}

bool AuthParamList::contains(std::string_view name) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const auto& e) { return equalsNoCase(e.first, name); });
}

void AuthParamList::setValue(std::string_view name, std::string value) {
    for (auto& [n, v] : entries_) {
        if (equalsNoCase(n, name)) {
            v = std::move(value);
            return;
        }
    }
    entries_.emplace_back(std::string(name), std::move(value));
}

// --- TNetAuthentication ------------------------------------------------------

AuthNextStep TNetAuthentication::next() {
    const AuthNextStep step = doNext();
    if (step == AuthNextStep::send) ++currentStep_;
    return step;
}

void TNetAuthentication::reset() {
    triedCount_ = 0;
    currentStep_ = 0;
}

// --- Basic -------------------------------------------------------------------

namespace {
std::unique_ptr<TNetAuthentication> createBasic() {
    return std::make_unique<TNetBasicAuthentication>();
}
constexpr AuthSchemeClass kBasicClass{"TNetBasicAuthentication", &createBasic};
}  // namespace

TNetAuthenticationClass TNetBasicAuthentication::Class() { return &kBasicClass; }

std::string TNetBasicAuthentication::headerValue() const {
    return "Basic " + TNetEncoderMIME::Encode(username() + ":" + password());
}

void TNetBasicAuthentication::takeChallengeParams() {
    for (const std::string& challenge : challenges()) {
        if (!equalsNoCase(firstWord(challenge), "Basic")) continue;
        const auto blank = challenge.find(' ');
        std::string_view rest;
        if (blank != std::string::npos) rest = std::string_view(challenge).substr(blank + 1);
        while (!rest.empty()) {
            const auto sep = rest.find(", ");
            const std::string_view item = rest.substr(0, sep);
            rest = sep == std::string_view::npos ? std::string_view{} : rest.substr(sep + 2);
            const auto eq = item.find('=');
            if (eq == std::string_view::npos) continue;
            const std::string_view name = item.substr(0, eq);
            std::string value(item.substr(eq + 1));
            // The challenge must not be able to overwrite our own credentials.
            if (equalsNoCase(name, "Username") || equalsNoCase(name, "Password") ||
                equalsNoCase(name, "Authorization"))
                continue;
            if (equalsNoCase(name, "realm"))
                value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string{};
            params.setValue(name, std::move(value));
        }
        return;
    }
}

AuthNextStep TNetBasicAuthentication::doNext() {
    takeChallengeParams();
    switch (currentStep()) {
        case 0:
            noteTried();
            return username().empty() ? AuthNextStep::ask : AuthNextStep::send;
        case 1:
            return AuthNextStep::fail;
        default:
            return AuthNextStep::send;
    }
}

// --- registry ----------------------------------------------------------------

namespace {

struct TAuthListObject {
    std::string name;
    TNetAuthenticationClass cls;
};

class AuthRegistry {
public:
    AuthRegistry() { entries_.push_back({"Basic", TNetBasicAuthentication::Class()}); }

    void add(const std::string& name, TNetAuthenticationClass cls) {
        std::lock_guard lock(mutex_);
        if (const TAuthListObject* found = find(name))
            throw ENetAlreadyRegisteredAuthenticationMethod(
                "This authentication method is already registered with class name " +
                std::string(found->cls->className) + ".");
        entries_.push_back({name, cls});
    }

    void remove(const std::string& name) {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&](const TAuthListObject& e) { return equalsNoCase(e.name, name); });
    }

    TNetAuthenticationClass lookup(std::string_view name) const {
        std::lock_guard lock(mutex_);
        const TAuthListObject* found = find(name);
        return found ? found->cls : nullptr;
    }

private:
    const TAuthListObject* find(std::string_view name) const {
        for (const auto& e : entries_)
            if (equalsNoCase(e.name, name)) return &e;
        return nullptr;
    }

    mutable std::mutex mutex_;
    std::vector<TAuthListObject> entries_;
};

AuthRegistry& registry() {
    static AuthRegistry instance;
    return instance;
}

}  // namespace

void RegisterAuthenticationMethod(const std::string& methodName, TNetAuthenticationClass cls) {
    registry().add(methodName, cls);
}

void UnregisterAuthenticationMethod(const std::string& methodName) { registry().remove(methodName); }

TNetAuthenticationClass FindAuthClass(const std::string& methodName) {
    return registry().lookup(methodName);
}

TNetAuthenticationClass FindSchemeForChallenges(const std::vector<std::string>& challenges) {
    for (const std::string& challenge : challenges)
        if (TNetAuthenticationClass cls = FindAuthClass(std::string(firstWord(challenge))))
            return cls;
    return nullptr;
}

}  // namespace net

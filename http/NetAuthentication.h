#pragma once
// HTTP authentication schemes ("Basic" and any registered later) and the
// process-wide registry that maps a challenge's scheme word to a scheme class.
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/NetException.h"

namespace net {

// Base64 with the standard alphabet, "=" padding and no line breaks.
class TNetEncoderMIME {
public:
    static std::string Encode(std::string_view bytes);
};

// What a scheme wants the client to do after looking at a challenge.
enum class AuthNextStep { send, ask, fail };

// Ordered name=value parameters of a scheme; names compare case-insensitively.
class AuthParamList {
public:
    std::string value(std::string_view name) const;
    void setValue(std::string_view name, std::string value);
    bool contains(std::string_view name) const;
    std::size_t size() const { return entries_.size(); }
    const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

class TNetAuthentication {
public:
    TNetAuthentication() = default;
    TNetAuthentication(const TNetAuthentication&) = delete;
    TNetAuthentication& operator=(const TNetAuthentication&) = delete;
    virtual ~TNetAuthentication() = default;

    virtual const char* ClassName() const = 0;
    // Value of the "Authorization" (or "Proxy-Authorization") header.
    virtual std::string headerValue() const = 0;
    // Number of request/challenge rounds the scheme needs.
    virtual int steps() const = 0;

    // Looks at the current challenges and says what to do; a "send" answer
    // completes one step.
    AuthNextStep next();
    virtual void reset();

    std::string username() const { return params.value("Username"); }
    std::string password() const { return params.value("Password"); }
    void setUsername(std::string value) { params.setValue("Username", std::move(value)); }
    void setPassword(std::string value) { params.setValue("Password", std::move(value)); }

    // The challenge header values of the last response, one per header line.
    void setChallenges(std::vector<std::string> values) { challenges_ = std::move(values); }
    const std::vector<std::string>& challenges() const { return challenges_; }

    int triedCount() const { return triedCount_; }
    int currentStep() const { return currentStep_; }
    bool stepsCompleted() const { return currentStep_ == steps(); }

    AuthParamList params;

protected:
    virtual AuthNextStep doNext() = 0;
    void noteTried() { ++triedCount_; }

private:
    std::vector<std::string> challenges_;
    int triedCount_ = 0;
    int currentStep_ = 0;
};

// A class reference: the scheme's class name and a way to create one.
struct AuthSchemeClass {
    const char* className;
    std::unique_ptr<TNetAuthentication> (*create)();
};
using TNetAuthenticationClass = const AuthSchemeClass*;

class TNetBasicAuthentication : public TNetAuthentication {
public:
    static TNetAuthenticationClass Class();

    const char* ClassName() const override { return "TNetBasicAuthentication"; }
    std::string headerValue() const override;
    int steps() const override { return 1; }

protected:
    AuthNextStep doNext() override;

private:
    void takeChallengeParams();
};

class ENetAlreadyRegisteredAuthenticationMethod : public ENetException {
public:
    using ENetException::ENetException;
    const char* ClassName() const override { return "ENetAlreadyRegisteredAuthenticationMethod"; }
};

// Registry of scheme names. "Basic" is registered before first use.
void RegisterAuthenticationMethod(const std::string& methodName, TNetAuthenticationClass cls);
void UnregisterAuthenticationMethod(const std::string& methodName);
// The class registered for a scheme name (case-insensitive), or nullptr.
TNetAuthenticationClass FindAuthClass(const std::string& methodName);

// The first challenge whose scheme word is registered, or nullptr.
TNetAuthenticationClass FindSchemeForChallenges(const std::vector<std::string>& challenges);

}  // namespace net

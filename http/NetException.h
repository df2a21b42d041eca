#pragma once
// Root of every failure the page-fetch client and its transport raise. Each
// unit declares its own subclasses next to the code that throws them.
#include <stdexcept>
#include <string>

namespace net {

class ENetException : public std::runtime_error {
public:
    explicit ENetException(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
    // Name of the concrete class, for tools that report failures.
    virtual const char* ClassName() const { return "ENetException"; }
};

// Raised to unwind without being reported to the user.
class ENetSilentException : public ENetException {
public:
    using ENetException::ENetException;
    const char* ClassName() const override { return "ENetSilentException"; }
};

}  // namespace net

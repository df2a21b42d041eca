#pragma once
// Failures of the socket stack, the socket handle and the TCP connection.
// Every message is fixed text; callers may show it as it stands.
#include <cstdint>
#include <string>

#include "http/NetException.h"

namespace net {

#define NET_EXCEPTION_CLASS_NAME(name) \
    const char* ClassName() const override { return #name; }

// ---- socket stack -------------------------------------------------------

// A failed socket call; the message is "Socket Error # <code>" CR LF <text>.
class ENetSocketError : public ENetException {
public:
    ENetSocketError(int code, const std::string& message) : ENetException(message), code_(code) {}
    int LastError() const { return code_; }
    NET_EXCEPTION_CLASS_NAME(ENetSocketError)

private:
    int code_;
};

class ENetStackError : public ENetException {
public:
    using ENetException::ENetException;
    NET_EXCEPTION_CLASS_NAME(ENetStackError)
};

class ENetStackInitializationFailed : public ENetStackError {
public:
    ENetStackInitializationFailed() : ENetStackError("Winsock Initialization Error.") {}
    NET_EXCEPTION_CLASS_NAME(ENetStackInitializationFailed)
};

class ENetStackSetSizeExceeded : public ENetStackError {
public:
    ENetStackSetSizeExceeded() : ENetStackError("Set Size Exceeded.") {}
    NET_EXCEPTION_CLASS_NAME(ENetStackSetSizeExceeded)
};

class ENetInvalidIPAddress : public ENetStackError {
public:
    explicit ENetInvalidIPAddress(const std::string& text)
        : ENetStackError(text + " is not a valid IP address.") {}
    NET_EXCEPTION_CLASS_NAME(ENetInvalidIPAddress)
};

class ENetInvalidSocket : public ENetException {
public:
    ENetInvalidSocket() : ENetException("Cannot allocate socket.") {}
    NET_EXCEPTION_CLASS_NAME(ENetInvalidSocket)
};

class ENetInvalidServiceName : public ENetException {
public:
    explicit ENetInvalidServiceName(const std::string& name)
        : ENetException(name + " is not a valid service.") {}
    NET_EXCEPTION_CLASS_NAME(ENetInvalidServiceName)
};

// ---- socket handle ------------------------------------------------------

class ENetSocketHandleError : public ENetException {
public:
    using ENetException::ENetException;
    NET_EXCEPTION_CLASS_NAME(ENetSocketHandleError)
};

class ENetCouldNotBindSocket : public ENetSocketHandleError {
public:
    ENetCouldNotBindSocket()
        : ENetSocketHandleError("Could not bind socket. Address and port are already in use.") {}
    NET_EXCEPTION_CLASS_NAME(ENetCouldNotBindSocket)
};

class ENetCanNotBindPortInRange : public ENetSocketHandleError {
public:
    ENetCanNotBindPortInRange(int low, int high)
        : ENetSocketHandleError("Can not bind in port range (" + std::to_string(low) + " - " +
                                std::to_string(high) + ")") {}
    NET_EXCEPTION_CLASS_NAME(ENetCanNotBindPortInRange)
};

class ENetInvalidPortRange : public ENetSocketHandleError {
public:
    ENetInvalidPortRange(int low, int high)
        : ENetSocketHandleError("Invalid Port Range (" + std::to_string(low) + " - " +
                                std::to_string(high) + ")") {}
    NET_EXCEPTION_CLASS_NAME(ENetInvalidPortRange)
};

// ---- TCP connection -----------------------------------------------------

// The peer closed the connection (or the socket is gone).
class ENetConnClosedGracefully : public ENetSilentException {
public:
    ENetConnClosedGracefully() : ENetSilentException("Connection Closed Gracefully.") {}
    NET_EXCEPTION_CLASS_NAME(ENetConnClosedGracefully)
};

// Another thread called Interrupt() on the connection while it was, or was
// about to be, blocked in connect, read or write.
class ENetInterrupted : public ENetSilentException {
public:
    ENetInterrupted() : ENetSilentException("Connection interrupted.") {}
    NET_EXCEPTION_CLASS_NAME(ENetInterrupted)
};

class ENetAlreadyConnected : public ENetException {
public:
    ENetAlreadyConnected() : ENetException("Already connected.") {}
    NET_EXCEPTION_CLASS_NAME(ENetAlreadyConnected)
};

class ENetReadTimeout : public ENetException {
public:
    ENetReadTimeout() : ENetException("Read Timeout") {}
    NET_EXCEPTION_CLASS_NAME(ENetReadTimeout)
};

class ENetReadLnMaxLineLengthExceeded : public ENetException {
public:
    ENetReadLnMaxLineLengthExceeded() : ENetException("Max line length exceeded.") {}
    NET_EXCEPTION_CLASS_NAME(ENetReadLnMaxLineLengthExceeded)
};

class ENetClosedSocket : public ENetException {
public:
    ENetClosedSocket() : ENetException("Disconnected.") {}
    NET_EXCEPTION_CLASS_NAME(ENetClosedSocket)
};

class ENetConnectTimeout : public ENetException {
public:
    ENetConnectTimeout() : ENetException("Connect timed out.") {}
    NET_EXCEPTION_CLASS_NAME(ENetConnectTimeout)
};

// A timed connect failed on its connect thread; carries that failure's message.
class ENetConnectException : public ENetException {
public:
    using ENetException::ENetException;
    NET_EXCEPTION_CLASS_NAME(ENetConnectException)
};

class ENetTCPConnectionError : public ENetException {
public:
    using ENetException::ENetException;
    NET_EXCEPTION_CLASS_NAME(ENetTCPConnectionError)
};

class ENetNotConnected : public ENetTCPConnectionError {
public:
    ENetNotConnected() : ENetTCPConnectionError("Not Connected") {}
    NET_EXCEPTION_CLASS_NAME(ENetNotConnected)
};

class ENetNotEnoughDataInBuffer : public ENetTCPConnectionError {
public:
    ENetNotEnoughDataInBuffer() : ENetTCPConnectionError("Not enough data in buffer.") {}
    NET_EXCEPTION_CLASS_NAME(ENetNotEnoughDataInBuffer)
};

class ENetNoDataToRead : public ENetTCPConnectionError {
public:
    ENetNoDataToRead() : ENetTCPConnectionError("No data to read.") {}
    NET_EXCEPTION_CLASS_NAME(ENetNoDataToRead)
};

class ENetIOHandlerPropInvalid : public ENetTCPConnectionError {
public:
    ENetIOHandlerPropInvalid() : ENetTCPConnectionError("IOHandler value is not valid") {}
    NET_EXCEPTION_CLASS_NAME(ENetIOHandlerPropInvalid)
};

class ENetFileNotFound : public ENetTCPConnectionError {
public:
    using ENetTCPConnectionError::ENetTCPConnectionError;
    NET_EXCEPTION_CLASS_NAME(ENetFileNotFound)
};

// A protocol reply with a numeric code (the HTTP client derives its status
// failure from this).
class ENetProtocolReplyError : public ENetException {
public:
    ENetProtocolReplyError(int replyCode, const std::string& message)
        : ENetException(message), replyCode_(replyCode) {}
    int ReplyCode() const { return replyCode_; }
    NET_EXCEPTION_CLASS_NAME(ENetProtocolReplyError)

private:
    int replyCode_;
};

class ENetSSLProtocolReplyError : public ENetProtocolReplyError {
public:
    using ENetProtocolReplyError::ENetProtocolReplyError;
    NET_EXCEPTION_CLASS_NAME(ENetSSLProtocolReplyError)
};

#undef NET_EXCEPTION_CLASS_NAME

}  // namespace net

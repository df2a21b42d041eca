#include "tests/support/MemoryIOHandler.h"

#include <algorithm>
#include <cstring>

#include "http/NetSocketErrors.h"
#include "http/NetStack.h"

namespace testsupport {

MemoryIOHandler::MemoryIOHandler(std::string input, std::vector<std::size_t> chunkSizes) {
    setInput(std::move(input), std::move(chunkSizes));
}

void MemoryIOHandler::setInput(std::string input, std::vector<std::size_t> chunkSizes) {
    input_ = std::move(input);
    position_ = 0;
    chunkSizes_ = std::move(chunkSizes);
    nextChunk_ = 0;
}

void MemoryIOHandler::appendInput(const std::string& more) { input_ += more; }

void MemoryIOHandler::HandlerConnect(const std::string& host, int port, const std::string&, int,
                                     int, int, int) {
    ++connectCalls_;
    host_ = host;
    port_ = port;
}

bool MemoryIOHandler::HandlerReadable(int) {
    if (!active_) throw net::ENetConnClosedGracefully();
    return position_ < input_.size() || end_ != End::Silence;
}

int MemoryIOHandler::HandlerReceive(void* buffer, int length) {
    if (!active_) throw net::ENetClosedSocket();
    ++receiveCalls_;
    if (position_ < input_.size()) {
        std::size_t n = std::min(static_cast<std::size_t>(std::max(length, 0)),
                                 input_.size() - position_);
        if (!chunkSizes_.empty()) {
            n = std::min(n, std::max<std::size_t>(chunkSizes_[nextChunk_], 1));
            nextChunk_ = (nextChunk_ + 1) % chunkSizes_.size();
        }
        std::memcpy(buffer, input_.data() + position_, n);
        position_ += n;
        return static_cast<int>(n);
    }
    switch (end_) {
        case End::Close:
            return 0;
        case End::Error:
            net::GStack().SockSetLastError(errorCode_);
            return net::kSocketError;
        case End::Silence:
            break;
    }
    net::GStack().SockSetLastError(net::wsa::kWouldBlock);
    return net::kSocketError;
}

int MemoryIOHandler::HandlerSend(const void* buffer, int length) {
    if (!active_) throw net::ENetClosedSocket();
    if (sendErrorCode_ != 0) {
        net::GStack().SockSetLastError(sendErrorCode_);
        return net::kSocketError;
    }
    written_.append(static_cast<const char*>(buffer), static_cast<std::size_t>(std::max(length, 0)));
    return length;
}

}  // namespace testsupport

#pragma once
// A transport without sockets: feeds given bytes to the connection (in given
// chunk sizes), then reports a close, silence or a receive failure; captures
// every byte written. Lets line and body parsers run in tests and fuzz
// targets without the network.
#include <cstddef>
#include <string>
#include <vector>

#include "http/NetIOHandler.h"

namespace testsupport {

class MemoryIOHandler : public net::TNetIOHandler {
public:
    enum class End { Close, Silence, Error };

    MemoryIOHandler() = default;
    explicit MemoryIOHandler(std::string input, std::vector<std::size_t> chunkSizes = {});

    // Bytes to deliver; receives take at most the next chunk size (the sizes
    // repeat; none = whatever the receive asks for; a size of 0 counts as 1).
    void setInput(std::string input, std::vector<std::size_t> chunkSizes = {});
    void appendInput(const std::string& more);
    // What happens once the input is used up (default: the peer closes).
    void endWithClose() { end_ = End::Close; }
    void endWithSilence() { end_ = End::Silence; }
    void endWithError(int socketErrorCode) {
        end_ = End::Error;
        errorCode_ = socketErrorCode;
    }
    // Makes every send fail with this socket error code (0 = sends succeed).
    void failSendsWith(int socketErrorCode) { sendErrorCode_ = socketErrorCode; }

    const std::string& written() const { return written_; }
    void clearWritten() { written_.clear(); }
    std::size_t unreadInput() const { return input_.size() - position_; }
    int receiveCalls() const { return receiveCalls_; }
    int connectCalls() const { return connectCalls_; }
    const std::string& connectedHost() const { return host_; }
    int connectedPort() const { return port_; }

    void HandlerConnect(const std::string& host, int port, const std::string& boundIP,
                        int boundPort, int boundPortMin, int boundPortMax, int timeout) override;
    bool HandlerReadable(int timeout) override;
    int HandlerReceive(void* buffer, int length) override;
    int HandlerSend(const void* buffer, int length) override;

private:
    std::string input_;
    std::size_t position_ = 0;
    std::vector<std::size_t> chunkSizes_;
    std::size_t nextChunk_ = 0;
    End end_ = End::Close;
    int errorCode_ = 0;
    int sendErrorCode_ = 0;
    std::string written_;
    int receiveCalls_ = 0;
    int connectCalls_ = 0;
    std::string host_;
    int port_ = 0;
};

}  // namespace testsupport

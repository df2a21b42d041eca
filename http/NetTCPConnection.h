#pragma once
// A TCP connection with an input buffer: lines, counted blocks and
// read-until-close on the receiving side; optional write buffering on the
// sending side.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "http/NetBuffer.h"
#include "http/NetComponent.h"
#include "http/NetIOHandler.h"
#include "http/NetSocketHandle.h"
#include "http/NetStream.h"

namespace net {

class TNetTCPConnection;
class TNetIOHandlerSocket;

enum TNetMaxLineAction { maException, maSplit };

using TNetInterceptStreamEvent = std::function<void(TNetBaseComponent* sender, TNetStream& stream)>;

// Sees every byte a connection sends and receives and may change it; may pass
// on to one further intercept.
class TNetConnectionIntercept : public TNetBaseComponent {
public:
    TNetConnectionIntercept() = default;
    ~TNetConnectionIntercept() override;

    TNetNotifyEvent OnConnect;
    TNetNotifyEvent OnDisconnect;
    TNetInterceptStreamEvent OnReceive;
    TNetInterceptStreamEvent OnSend;

    virtual void Connect(TNetTCPConnection* connection);
    virtual void Disconnect();
    // `buffer` holds the bytes at position 0; whatever size it has afterwards
    // is what the connection uses.
    virtual void Receive(TNetStream& buffer);
    virtual void Send(TNetStream& buffer);

    TNetConnectionIntercept* Intercept() const { return next_; }
    void SetIntercept(TNetConnectionIntercept* next);
    TNetTCPConnection* Connection() const { return connection_; }

protected:
    void Notification(TNetBaseComponent* component) override;

private:
    TNetConnectionIntercept* next_ = nullptr;
    TNetTCPConnection* connection_ = nullptr;
};

class TNetTCPConnection : public TNetComponent {
public:
    static constexpr int kDefaultMaxLineLength = 16384;
    static constexpr int kDefaultRecvBufferSize = 32768;
    static constexpr int kDefaultSendBufferSize = 32768;

    TNetTCPConnection();
    ~TNetTCPConnection() override;

    // ---- properties
    bool ASCIIFilter() const { return asciiFilter_; }
    void SetASCIIFilter(bool value) { asciiFilter_ = value; }
    TNetConnectionIntercept* Intercept() const { return intercept_; }
    void SetIntercept(TNetConnectionIntercept* intercept);
    // The transport (not owned when set here; one created by OpenConnection is).
    TNetIOHandler* IOHandler() const { return ioHandler_; }
    void SetIOHandler(TNetIOHandler* handler);
    TNetMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TNetMaxLineAction action) { maxLineAction_ = action; }
    int MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int length) { maxLineLength_ = length; }
    // ms for each single wait of a read; 0 = no limit.
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int timeout) { readTimeout_ = timeout; }
    int RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(int size);
    int SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int size);
    // How the last ReadLine ended.
    bool LineSplit() const { return lineSplit_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    TNetManagedBuffer& InputBuffer() { return inputBuffer_; }
    bool WriteBufferingActive() const { return writeBuffer_ != nullptr; }

    TNetNotifyEvent OnDisconnected;

    // ---- interrupt (any thread)
    // Makes the connect, read or write blocked on this connection (or the
    // next one) fail promptly with ENetInterrupted and drops the socket.
    // Checks that do not raise on a close (IsConnected, PollPeerClosed(false))
    // just see the connection closed. Lasts until the next OpenConnection or
    // ClearInterrupt.
    void Interrupt();
    void ClearInterrupt();
    bool Interrupted() const;

    // ---- state
    virtual void DoOnDisconnected();
    // Empties the input buffer and clears the peer-closed flag.
    virtual void ResetConnectionState();
    virtual void CheckPeerClosed(bool raiseIfClosed = true, bool ignoreBuffer = false);
    // Waits at most 1 ms for data, takes what came, notices a close.
    virtual void PollPeerClosed(bool raiseIfClosed = true);
    virtual bool IsConnected();
    virtual void CloseConnection();
    // Closes the socket without events.
    virtual void DropSocket();

    // ---- reading
    // Appends one receive to the input buffer: bytes appended, 0 = peer
    // closed, -1 = timed out (only when raiseOnTimeout is false). Timeout -1 =
    // ReadTimeout (0 there = no limit), -2 = no limit.
    virtual int FillInputBuffer(bool raiseIfClosed = true, int timeout = -1,
                                bool raiseOnTimeout = true);
    // The next line without its terminator (empty terminator = LF; for LF a CR
    // in front of it goes too). maxLength -1 = MaxLineLength, 0 = no limit.
    virtual std::string ReadLine(std::string_view terminator = "\n", int timeout = -1,
                                 int maxLength = -1);
    std::string ReadNonEmptyLine(int attempts);
    // Blocks until `count` bytes are buffered, copies them out, removes them.
    void ReadExact(void* buffer, std::int64_t count);
    // Appends byteCount bytes (or, untilClosed, everything until the peer
    // closes) to the stream; byteCount -1 without untilClosed reads a 4-byte
    // count in network order first. A close before the end raises
    // ENetConnClosedGracefully; the incomplete last piece then stays buffered.
    void ReadIntoStream(TNetStream& stream, std::int64_t byteCount = -1, bool untilClosed = false);
    // One receive when connected, then the whole input buffer.
    std::string TakeAvailable();
    virtual std::string ReadUntilClosed();
    std::int32_t ReadInt32(bool convert = true);

    // ---- writing
    void WriteBytes(const void* buffer, std::int64_t count, bool writeNow = false);
    void WriteBytes(std::string_view bytes, bool writeNow = false) {
        WriteBytes(bytes.data(), static_cast<std::int64_t>(bytes.size()), writeNow);
    }
    virtual void WriteText(std::string_view text);
    virtual void WriteLine(std::string_view text);
    void WriteInt32(std::int32_t value, bool convert = true);
    // Sends the stream from its start (all) or position, `size` bytes (0 = to
    // the end), in SendBufferSize pieces.
    virtual void WriteFromStream(TNetStream& stream, bool all = true, std::int64_t size = 0,
                                 bool writeCountFirst = false);
    // Later writes collect in memory; with threshold > 0 they go out whenever
    // that many are collected.
    void BeginWriteBuffering(int threshold = -1);
    // Sends what was collected and stops buffering (the buffer goes also when
    // the send fails).
    void EndWriteBuffering();
    void FlushWriteBuffering(std::int64_t count = -1);
    void DiscardWriteBuffering();
    // Drops what was collected and stops buffering: later writes go out.
    void CancelWriteBuffering();

protected:
    void Notification(TNetBaseComponent* component) override;
    // Creates the socket transport on demand (for OpenConnection).
    void ensureTransport();
    bool ownsTransport() const { return ownedTransport_ != nullptr; }
    void freeOwnedTransport();
    // Raises ENetInterrupted after dropping the socket when interrupted.
    void checkInterrupted();
    // Treats the interrupted socket as closed by the peer; raises
    // ENetInterrupted when `raise`.
    void noticeInterrupt(bool raise);

    bool peerClosed_ = false;

private:
    std::string lineTooLong(int maxLength);
    // Receives up to `remaining` bytes into the stream without passing them
    // through the input buffer; returns what is still missing.
    std::int64_t receiveDirect(TNetStream& stream, std::int64_t remaining, std::int64_t piece,
                               bool untilClosed);
    void commitPiece(TNetStream& stream, const char* bytes, std::int64_t count, bool inPlace);
    // One receive for receiveDirect: bytes received, 0 = closed by the peer.
    int receiveOnce(void* buffer, int length, bool haveBuffered);
    bool canReceiveDirect() const;

    bool asciiFilter_ = false;
    TNetManagedBuffer inputBuffer_;
    TNetConnectionIntercept* intercept_ = nullptr;
    TNetIOHandler* ioHandler_ = nullptr;
    std::unique_ptr<TNetIOHandler> ownedTransport_;
    TNetMaxLineAction maxLineAction_ = maException;
    int maxLineLength_ = kDefaultMaxLineLength;
    bool lineSplit_ = false;
    bool lineTimedOut_ = false;
    int readTimeout_ = 0;
    int recvBufferSize_ = kDefaultRecvBufferSize;
    TNetSimpleBuffer recvScratch_;
    int sendBufferSize_ = kDefaultSendBufferSize;
    TNetIOHandlerSocket* socketTransport_ = nullptr;
    std::unique_ptr<TNetSimpleBuffer> writeBuffer_;
    int writeThreshold_ = 0;
    std::shared_ptr<TNetInterruptGate> gate_;
};

}  // namespace net

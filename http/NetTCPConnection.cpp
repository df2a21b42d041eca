#include "http/NetTCPConnection.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "http/NetIOHandlerSocket.h"
#include "http/NetSocketErrors.h"

namespace net {
namespace {

// Runs NoteWorkEnd when a counted read or write ends, also by an exception.
class WorkScope {
public:
    WorkScope(TNetComponent& component, TWorkMode mode, std::int64_t size)
        : component_(component), mode_(mode) {
        component_.NoteWorkBegin(mode_, size);
    }
    ~WorkScope() { component_.NoteWorkEnd(mode_); }
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

private:
    TNetComponent& component_;
    TWorkMode mode_;
};

bool isBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

// ---- TNetConnectionIntercept

TNetConnectionIntercept::~TNetConnectionIntercept() = default;

void TNetConnectionIntercept::Connect(TNetTCPConnection* connection) {
    connection_ = connection;
    if (OnConnect) OnConnect(this);
    if (next_) next_->Connect(connection);
}

void TNetConnectionIntercept::Disconnect() {
    if (next_) next_->Disconnect();
    if (OnDisconnect) OnDisconnect(this);
    connection_ = nullptr;
}

void TNetConnectionIntercept::Receive(TNetStream& buffer) {
    if (next_) next_->Receive(buffer);
    if (OnReceive) OnReceive(this, buffer);
    buffer.SetPosition(0);
}

void TNetConnectionIntercept::Send(TNetStream& buffer) {
    if (OnSend) OnSend(this, buffer);
    buffer.SetPosition(0);
    if (next_) next_->Send(buffer);
}

void TNetConnectionIntercept::SetIntercept(TNetConnectionIntercept* next) {
    if (next_ == next) return;
    if (next_) next_->RemoveFreeNotification(this);
    next_ = next;
    if (next_) next_->FreeNotification(this);
}

void TNetConnectionIntercept::Notification(TNetBaseComponent* component) {
    if (component == next_) next_ = nullptr;
}

// ---- TNetTCPConnection: life and properties

TNetTCPConnection::TNetTCPConnection() : gate_(std::make_shared<TNetInterruptGate>()) {
    // Read progress counts bytes consumed from the input buffer.
    inputBuffer_.OnRemove = [this](std::int64_t n) { NoteWork(wmRead, n); };
}

TNetTCPConnection::~TNetTCPConnection() {
    TNetTCPConnection::DropSocket();
    freeOwnedTransport();
    if (ioHandler_) ioHandler_->RemoveFreeNotification(this);
    if (intercept_) intercept_->RemoveFreeNotification(this);
}

void TNetTCPConnection::SetIntercept(TNetConnectionIntercept* intercept) {
    if (intercept_ == intercept) return;
    if (intercept_) intercept_->RemoveFreeNotification(this);
    intercept_ = intercept;
    if (intercept_) intercept_->FreeNotification(this);
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
    if (handler == ioHandler_) return;
    if (ioHandler_ && !ownedTransport_) ioHandler_->RemoveFreeNotification(this);
    freeOwnedTransport();
    ioHandler_ = handler;
    socketTransport_ = dynamic_cast<TNetIOHandlerSocket*>(handler);
    if (ioHandler_) {
        ioHandler_->FreeNotification(this);
        ioHandler_->SetInterruptGate(gate_);
    }
}

void TNetTCPConnection::SetRecvBufferSize(int size) { recvBufferSize_ = std::max(size, 1); }

void TNetTCPConnection::SetSendBufferSize(int size) { sendBufferSize_ = std::max(size, 1); }

void TNetTCPConnection::Notification(TNetBaseComponent* component) {
    if (component == intercept_) intercept_ = nullptr;
    if (component == ioHandler_) {
        ioHandler_ = nullptr;
        socketTransport_ = nullptr;
    }
    TNetComponent::Notification(component);
}

void TNetTCPConnection::ensureTransport() {
    if (ioHandler_) return;
    auto transport = std::make_unique<TNetIOHandlerSocket>();
    transport->OnStatus = OnStatus;
    transport->SetInterruptGate(gate_);
    ioHandler_ = transport.get();
    socketTransport_ = transport.get();
    ownedTransport_ = std::move(transport);
}

void TNetTCPConnection::freeOwnedTransport() {
    if (!ownedTransport_) return;
    ioHandler_ = nullptr;
    socketTransport_ = nullptr;
    ownedTransport_.reset();
}

// ---- interrupt

void TNetTCPConnection::Interrupt() { gate_->Interrupt(); }

void TNetTCPConnection::ClearInterrupt() { gate_->Clear(); }

bool TNetTCPConnection::Interrupted() const { return gate_->Interrupted(); }

void TNetTCPConnection::checkInterrupted() {
    if (!gate_->Interrupted()) return;
    noticeInterrupt(true);
}

void TNetTCPConnection::noticeInterrupt(bool raise) {
    // The socket was shut down under us: handle it like a close by the peer.
    peerClosed_ = true;
    CheckPeerClosed(false, false);
    if (raise) throw ENetInterrupted();
}

// ---- state

void TNetTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TNetTCPConnection::ResetConnectionState() {
    inputBuffer_.Clear();
    peerClosed_ = false;
}

void TNetTCPConnection::CheckPeerClosed(bool raiseIfClosed, bool ignoreBuffer) {
    if (!ioHandler_) return;
    // An interrupted socket was shut down under us: it counts as closed.
    const bool interrupted = gate_->Interrupted();
    if (interrupted) peerClosed_ = true;
    bool closed;
    if (peerClosed_) {
        if (ioHandler_->HandlerIsConnected()) {
            DropSocket();
            SignalStatus(hsDisconnected);
            DoOnDisconnected();
        }
        closed = true;
    } else {
        closed = !ioHandler_->HandlerIsConnected();
    }
    if (closed && raiseIfClosed && interrupted) throw ENetInterrupted();
    if (closed && raiseIfClosed && (inputBuffer_.Size() == 0 || ignoreBuffer))
        throw ENetConnClosedGracefully();
}

void TNetTCPConnection::PollPeerClosed(bool raiseIfClosed) { FillInputBuffer(raiseIfClosed, 1, false); }

bool TNetTCPConnection::IsConnected() {
    CheckPeerClosed(false, false);
    return ioHandler_ && ioHandler_->HandlerIsConnected();
}

void TNetTCPConnection::CloseConnection() {
    const bool wasConnected = IsConnected();
    if (wasConnected) {
        SignalStatus(hsDisconnecting);
        DropSocket();
    }
    freeOwnedTransport();
    if (wasConnected) {
        DoOnDisconnected();
        SignalStatus(hsDisconnected);
    }
}

void TNetTCPConnection::DropSocket() {
    if (!ioHandler_) return;
    peerClosed_ = true;
    if (intercept_) intercept_->Disconnect();
    ioHandler_->HandlerClose();
}

// ---- reading

int TNetTCPConnection::FillInputBuffer(bool raiseIfClosed, int timeout, bool raiseOnTimeout) {
    if (timeout == -1) timeout = readTimeout_ == 0 ? -2 : readTimeout_;
    if (gate_->Interrupted()) {
        noticeInterrupt(raiseIfClosed);
        return 0;
    }
    CheckPeerClosed(raiseIfClosed, false);
    if (!IsConnected()) {
        if (raiseIfClosed) throw ENetNotConnected();
        return 0;
    }
    for (;;) {
        bool readable = false;
        try {
            readable = ioHandler_->HandlerReadable(timeout);
        } catch (const ENetSocketError&) {
            readable = false;  // a failed wait counts as nothing to read
        }
        if (gate_->Interrupted()) {
            noticeInterrupt(raiseIfClosed);
            return 0;
        }
        if (!readable) {
            if (raiseOnTimeout) throw ENetReadTimeout();
            return -1;
        }

        if (recvScratch_.Size() < recvBufferSize_) recvScratch_.SetSize(recvBufferSize_);
        int n = ioHandler_->HandlerReceive(recvScratch_.Memory(), recvBufferSize_);
        if (gate_->Interrupted()) {
            noticeInterrupt(raiseIfClosed);
            return 0;
        }
        peerClosed_ = n == 0;
        if (n == kSocketError) {
            TNetStack& stack = GStack();
            stack.CheckSocketResult(n, {wsa::kShutdown, wsa::kConnectionAborted});
            const int code = stack.LastError();
            DropSocket();
            if (inputBuffer_.Size() == 0) stack.RaiseSocketFailure(code);
            n = 0;
        }
        if (n > 0) {
            const char* bytes = recvScratch_.Memory();
            TNetSimpleBuffer filtered;
            if (intercept_) {
                filtered.Write(bytes, n);
                filtered.SetPosition(0);
                intercept_->Receive(filtered);
                n = static_cast<int>(filtered.Size());
                bytes = filtered.Memory();
            }
            if (asciiFilter_) {
                char* writable = const_cast<char*>(bytes);
                for (int i = 0; i < n; ++i) writable[i] = static_cast<char>(writable[i] & 0x7F);
            }
            inputBuffer_.Append(bytes, n);
        }
        CheckPeerClosed(raiseIfClosed, false);
        if (n != 0 || !IsConnected()) return n;
    }
}

std::string TNetTCPConnection::ReadLine(std::string_view terminator, int timeout, int maxLength) {
    if (maxLength < 0) maxLength = maxLineLength_;
    if (terminator.empty()) terminator = "\n";
    lineSplit_ = false;
    lineTimedOut_ = false;
    const auto termLength = static_cast<std::int64_t>(terminator.size());
    std::int64_t termPos = -1;  // 0-based start of the terminator in the buffer
    std::int64_t scanned = 0;   // bytes already searched

    for (;;) {
        const std::int64_t size = inputBuffer_.Size();
        if (size > scanned) {
            // A terminator may begin in bytes searched before and end in new ones.
            const std::int64_t from = std::max<std::int64_t>(0, scanned - (termLength - 1));
            const char* data = inputBuffer_.Memory();
            if (termLength == 1) {
                const void* hit = std::memchr(data + from, terminator[0],
                                              static_cast<std::size_t>(size - from));
                if (hit) termPos = static_cast<const char*>(hit) - data;
            } else {
                const std::string_view window(data + from, static_cast<std::size_t>(size - from));
                const auto hit = window.find(terminator);
                if (hit != std::string_view::npos) termPos = from + static_cast<std::int64_t>(hit);
            }
            scanned = size;
        }
        if (termPos >= 0) {
            if (maxLength != 0 && termPos > maxLength) return lineTooLong(maxLength);
            break;
        }
        // Without a terminator the line holds at least the bytes that cannot
        // be the start of a terminator.
        if (maxLength != 0 && scanned - (termLength - 1) > maxLength) return lineTooLong(maxLength);
        CheckPeerClosed(true, true);
        if (FillInputBuffer(true, timeout, timeout == -1) == -1) {
            lineTimedOut_ = true;
            return {};
        }
    }

    std::string line = inputBuffer_.TakeFront(termPos + termLength);
    line.resize(static_cast<std::size_t>(termPos));
    if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TNetTCPConnection::lineTooLong(int maxLength) {
    if (maxLineAction_ == maException) throw ENetReadLnMaxLineLengthExceeded();
    lineSplit_ = true;
    return inputBuffer_.TakeFront(maxLength);
}

std::string TNetTCPConnection::ReadNonEmptyLine(int attempts) {
    std::string line;
    for (int i = 0; i < attempts; ++i) {
        line = ReadLine("\n", -1, -1);
        const auto first = std::find_if_not(line.begin(), line.end(), isBlankOrControl);
        const auto last = std::find_if_not(line.rbegin(), line.rend(), isBlankOrControl).base();
        line = first < last ? std::string(first, last) : std::string();
        if (!line.empty()) return line;
    }
    return line;
}

void TNetTCPConnection::ReadExact(void* buffer, std::int64_t count) {
    if (count <= 0 || !buffer) return;
    while (inputBuffer_.Size() < count) {
        FillInputBuffer(true, -1, true);
        CheckPeerClosed(true, true);
    }
    std::memcpy(buffer, inputBuffer_.Memory(), static_cast<std::size_t>(count));
    inputBuffer_.DiscardFront(count);
}

bool TNetTCPConnection::canReceiveDirect() const {
    return ioHandler_ && !intercept_ && !asciiFilter_;
}

void TNetTCPConnection::ReadIntoStream(TNetStream& stream, std::int64_t byteCount, bool untilClosed) {
    if (byteCount == -1 && !untilClosed) byteCount = ReadInt32(true);
    // Set the storage up once for a known length (a length no stream can
    // reach asks for the most there is).
    if (byteCount > 0)
        stream.ReserveCapacity(byteCount > INT64_MAX - stream.Position() ? INT64_MAX
                                                                         : stream.Position() + byteCount);

    std::int64_t remaining = untilClosed ? INT64_MAX : byteCount;
    WorkScope work(*this, wmRead, untilClosed ? 0 : byteCount);
    struct CutAtPosition {
        TNetStream& stream;
        ~CutAtPosition() {
            if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
        }
    } cut{stream};

    if (inputBuffer_.Size() > 0 && remaining > 0) {
        const std::int64_t k = std::min(inputBuffer_.Size(), remaining);
        stream.Write(inputBuffer_.Memory(), k);
        inputBuffer_.DiscardFront(k);
        remaining -= k;
    }
    const std::int64_t piece = std::min<std::int64_t>(remaining, recvBufferSize_);

    if (canReceiveDirect()) {
        remaining = receiveDirect(stream, remaining, piece, untilClosed);
    } else {
        std::vector<char> scratch(static_cast<std::size_t>(std::max<std::int64_t>(piece, 0)));
        while (remaining > 0 && IsConnected()) {
            std::int64_t k = std::min(remaining, piece);
            try {
                ReadExact(scratch.data(), k);
            } catch (const ENetConnClosedGracefully&) {
                if (!untilClosed) throw;
                // Every byte up to the close belongs to the stream.
                k = inputBuffer_.Size();
                std::memcpy(scratch.data(), inputBuffer_.Memory(), static_cast<std::size_t>(k));
                inputBuffer_.DiscardFront(k);
            }
            if (k > 0) {
                stream.Write(scratch.data(), k);
                remaining -= k;
            }
        }
    }
    // A counted read that found the connection already closed is short too.
    if (!untilClosed && remaining > 0) throw ENetConnClosedGracefully();
}

int TNetTCPConnection::receiveOnce(void* buffer, int length, bool haveBuffered) {
    if (gate_->Interrupted()) noticeInterrupt(true);
    if (!ioHandler_->HandlerIsConnected()) return 0;
    const int timeout = readTimeout_ == 0 ? -2 : readTimeout_;
    // A blocking receive is the wait itself when there is no limit.
    const bool skipWait = socketTransport_ && timeout == -2 && !TNetAntiFreezeBase::InUse();
    if (!skipWait) {
        bool readable = false;
        try {
            readable = ioHandler_->HandlerReadable(timeout);
        } catch (const ENetSocketError&) {
            readable = false;
        }
        if (gate_->Interrupted()) noticeInterrupt(true);
        if (!readable) throw ENetReadTimeout();
    }
    int n = ioHandler_->HandlerReceive(buffer, length);
    if (gate_->Interrupted()) noticeInterrupt(true);
    if (n == kSocketError) {
        TNetStack& stack = GStack();
        stack.CheckSocketResult(n, {wsa::kShutdown, wsa::kConnectionAborted});
        const int code = stack.LastError();
        DropSocket();
        if (!haveBuffered && inputBuffer_.Size() == 0) stack.RaiseSocketFailure(code);
        return 0;
    }
    if (n == 0) peerClosed_ = true;
    return n;
}

std::int64_t TNetTCPConnection::receiveDirect(TNetStream& stream, std::int64_t remaining,
                                              std::int64_t piece, bool untilClosed) {
    // Same outcome as piecewise ReadExact through the input buffer, without
    // the copies: bytes land in the stream's storage and are committed one
    // complete piece at a time; an incomplete piece at a close (counted read)
    // or a failure goes back to the input buffer.
    while (remaining > 0 && IsConnected()) {
        const std::int64_t want = std::min(remaining, piece);
        char* target = stream.BeginDirectWrite(want);
        std::vector<char> fallback;
        if (!target) {
            fallback.resize(static_cast<std::size_t>(want));
            target = fallback.data();
        }
        std::int64_t got = 0;
        try {
            while (got < want) {
                const int n = receiveOnce(target + got, static_cast<int>(want - got), got > 0);
                if (n == 0) break;
                got += n;
            }
        } catch (...) {
            inputBuffer_.Append(target, got);
            throw;
        }
        if (got < want) {
            // Closed by the peer before the piece was complete.
            if (untilClosed) {
                commitPiece(stream, target, got, fallback.empty());
                remaining -= got;
                CheckPeerClosed(false, false);
                return remaining;
            }
            inputBuffer_.Append(target, got);
            CheckPeerClosed(false, false);
            throw ENetConnClosedGracefully();
        }
        commitPiece(stream, target, got, fallback.empty());
        remaining -= got;
    }
    return remaining;
}

void TNetTCPConnection::commitPiece(TNetStream& stream, const char* bytes, std::int64_t count,
                                    bool inPlace) {
    if (count <= 0) return;
    if (inPlace)
        stream.CommitDirectWrite(count);
    else
        stream.Write(bytes, count);
    NoteWork(wmRead, count);
}

std::string TNetTCPConnection::TakeAvailable() {
    if (IsConnected()) FillInputBuffer(false, -1, true);
    return inputBuffer_.TakeFront(inputBuffer_.Size());
}

std::string TNetTCPConnection::ReadUntilClosed() {
    WorkScope work(*this, wmRead, 0);
    std::string result;
    while (IsConnected()) result += TakeAvailable();
    // Bytes that came with the close are part of it too.
    result += inputBuffer_.TakeFront(inputBuffer_.Size());
    return result;
}

std::int32_t TNetTCPConnection::ReadInt32(bool convert) {
    std::uint32_t raw = 0;
    ReadExact(&raw, sizeof raw);
    if (convert) raw = GStack().SockNetToHost32(raw);
    return static_cast<std::int32_t>(raw);
}

// ---- writing

void TNetTCPConnection::WriteBytes(const void* buffer, std::int64_t count, bool writeNow) {
    if (count <= 0 || !buffer) return;
    CheckPeerClosed(true, true);
    if (!IsConnected()) throw ENetNotConnected();

    if (writeBuffer_ && !writeNow) {
        writeBuffer_->Append(buffer, count);
        if (writeThreshold_ > 0 && writeBuffer_->Size() >= writeThreshold_)
            FlushWriteBuffering(writeThreshold_);
        return;
    }

    const char* bytes = static_cast<const char*>(buffer);
    TNetSimpleBuffer filtered;
    if (intercept_) {
        filtered.Write(bytes, count);
        filtered.SetPosition(0);
        intercept_->Send(filtered);
        count = filtered.Size();
        bytes = filtered.Memory();
    }
    std::int64_t pos = 0;
    while (pos < count) {
        checkInterrupted();
        const int length = static_cast<int>(std::min<std::int64_t>(count - pos, INT_MAX));
        const int n = ioHandler_ ? ioHandler_->HandlerSend(bytes + pos, length) : 0;
        TNetAntiFreezeBase::DoProcess();
        checkInterrupted();
        peerClosed_ = n == 0;
        CheckPeerClosed(true, false);
        if (n == kSocketError) {
            TNetStack& stack = GStack();
            stack.CheckSocketResult(n, {wsa::kShutdown, wsa::kConnectionAborted,
                                        wsa::kConnectionReset});
            const int code = stack.LastError();
            DropSocket();
            stack.RaiseSocketFailure(code);
        }
        NoteWork(wmWrite, n);
        pos += n;
    }
}

void TNetTCPConnection::WriteText(std::string_view text) {
    if (!text.empty()) WriteBytes(text.data(), static_cast<std::int64_t>(text.size()), false);
}

void TNetTCPConnection::WriteLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    WriteText(line);
}

void TNetTCPConnection::WriteInt32(std::int32_t value, bool convert) {
    std::uint32_t raw = static_cast<std::uint32_t>(value);
    if (convert) raw = GStack().SockHostToNet32(raw);
    WriteBytes(&raw, sizeof raw, false);
}

void TNetTCPConnection::WriteFromStream(TNetStream& stream, bool all, std::int64_t size,
                                        bool writeCountFirst) {
    if (all) stream.SetPosition(0);
    const std::int64_t start = stream.Position();
    const std::int64_t end = size != 0 ? start + size : stream.Size();
    if (writeCountFirst) WriteInt32(static_cast<std::int32_t>(end - start), true);
    WorkScope work(*this, wmWrite, end - start);
    std::vector<char> scratch(
        static_cast<std::size_t>(std::clamp<std::int64_t>(end - start, 0, sendBufferSize_)));
    for (;;) {
        const std::int64_t k = std::min<std::int64_t>(end - stream.Position(), sendBufferSize_);
        if (k <= 0) break;
        const std::int64_t got = stream.Read(scratch.data(), k);
        if (got == 0) throw ENetNoDataToRead();
        WriteBytes(scratch.data(), got, false);
    }
}

void TNetTCPConnection::BeginWriteBuffering(int threshold) {
    // A second Begin keeps what the first one collected.
    if (!writeBuffer_) writeBuffer_ = std::make_unique<TNetSimpleBuffer>();
    writeThreshold_ = threshold;
}

void TNetTCPConnection::EndWriteBuffering() {
    struct DropBuffer {
        std::unique_ptr<TNetSimpleBuffer>& buffer;
        ~DropBuffer() { buffer.reset(); }
    } drop{writeBuffer_};
    FlushWriteBuffering(-1);
}

void TNetTCPConnection::FlushWriteBuffering(std::int64_t count) {
    if (!writeBuffer_ || writeBuffer_->Size() == 0) return;
    if (count >= 0 && writeBuffer_->Size() >= count) {
        WriteBytes(writeBuffer_->Memory(), count, true);
        writeBuffer_->DiscardFront(count);
    } else {
        WriteBytes(writeBuffer_->Memory(), writeBuffer_->Size(), true);
        DiscardWriteBuffering();
    }
}

void TNetTCPConnection::DiscardWriteBuffering() {
    if (writeBuffer_) writeBuffer_->Clear();
}

void TNetTCPConnection::CancelWriteBuffering() { writeBuffer_.reset(); }

}  // namespace net

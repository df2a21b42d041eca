#pragma once
// The socket transport: one TNetSocketHandle, plain or timed connect.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "http/NetIOHandler.h"
#include "http/NetSocketHandle.h"

namespace net {

// Runs one blocking connect of a socket handle on its own thread so that the
// caller can give up after a time limit. The thread is joined when the object
// goes, so it never outlives the handle it uses.
class TNetConnectThread {
public:
    explicit TNetConnectThread(TNetSocketHandle& handle);
    ~TNetConnectThread();
    TNetConnectThread(const TNetConnectThread&) = delete;
    TNetConnectThread& operator=(const TNetConnectThread&) = delete;

    // Waits until the connect ends or `timeout` ms pass (-2 = no limit);
    // true when it ended.
    bool WaitFor(int timeout);
    // Asks the thread to stop and wakes its connect by shutting the socket
    // down; then waits for the thread.
    void Terminate();
    // The failure the connect ended with, if any (socket errors 10009 and
    // 10038, caused by the socket going away under it, are not kept).
    const std::optional<std::string>& FailureMessage() const { return failure_; }

private:
    void run();

    TNetSocketHandle& handle_;
    std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
    bool stopRequested_ = false;
    std::optional<std::string> failure_;
    std::thread thread_;
};

class TNetIOHandlerSocket : public TNetIOHandler {
public:
    // Milliseconds a connect may take while a UI-responsiveness object is in use.
    static constexpr int kAntiFreezeConnectTimeout = 120000;

    TNetIOHandlerSocket();
    ~TNetIOHandlerSocket() override;

    void HandlerClose() override;
    void HandlerConnect(const std::string& host, int port, const std::string& boundIP,
                        int boundPort, int boundPortMin, int boundPortMax, int timeout) override;
    bool HandlerIsConnected() override;
    void HandlerOpen() override;
    bool HandlerReadable(int timeout) override;
    int HandlerReceive(void* buffer, int length) override;
    int HandlerSend(const void* buffer, int length) override;
    void SetInterruptGate(std::shared_ptr<TNetInterruptGate> gate) override;

    // The socket handle (none before the first HandlerOpen).
    TNetSocketHandle* Binding() { return binding_.get(); }
    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool useNagle) { useNagle_ = useNagle; }

private:
    void timedConnect(int timeout);

    std::unique_ptr<TNetSocketHandle> binding_;
    bool useNagle_ = true;
};

}  // namespace net

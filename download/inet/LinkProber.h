#pragma once
// Probing song links: for each, one GET of its first 16 KiB (Range, no
// compression, never HEAD), a short time limit, and a second GET of the
// bytes where the audio starts when an ID3v2 tag reaches past the first.
// Many links at once over one curl multi handle, with a cap on all and on
// each host; a link never costs more than maxBytes of its body, whatever
// the server sends. The verdicts are probe::judgeLink's.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/probe/LinkVerdict.h"

namespace inet {

struct ProbeSettings {
    long connectTimeoutMs = 5000;
    long totalTimeoutMs = 10000;  // each request, from when it starts
    std::size_t maxProbes = 16;   // requests in flight
    std::size_t maxPerHost = 4;
    std::size_t firstBytes = 16384;
    std::size_t maxBytes = 128 * 1024;  // body bytes read per link, all requests together
    std::string agent = "BrelvoMP3";
    // Keep the bytes the first request brought from the file's start (at
    // most firstBytes): enough to tell whether two links serve one file.
    bool keepFirstBytes = false;
};

struct ProbeOutcome {
    probe::LinkVerdict verdict;
    std::uint64_t bodyBytes = 0;  // read from the server, for this link
    int requests = 0;
    // With keepFirstBytes, an answer 200 or 206 from byte 0: its first bytes.
    std::string firstBytes;
};

class LinkProber {
public:
    using OnVerdict = std::function<void(std::size_t index, const ProbeOutcome& outcome)>;

    explicit LinkProber(ProbeSettings settings = {});
    LinkProber(const LinkProber&) = delete;
    LinkProber& operator=(const LinkProber&) = delete;

    // Probes every URL on this thread; `onVerdict` hears each as it ends (in
    // any order). Returns the outcomes in the order of `urls`. After stop(),
    // the links not yet judged end Unavailable with kErrOperationCancelled.
    std::vector<ProbeOutcome> probeAll(const std::vector<std::string>& urls, const OnVerdict& onVerdict = {});

    // Any thread: ends probeAll soon.
    void stop();

private:
    ProbeSettings settings_;
    std::atomic<bool> stopped_{false};
    // The multi handle of the probeAll under way, for stop() to wake.
    std::mutex multiMutex_;
    void* multi_ = nullptr;
};

}  // namespace inet

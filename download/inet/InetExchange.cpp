#include "download/inet/InetExchange.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <curl/curl.h>

#include "download/inet/InetErrors.h"
#include "download/values/AsciiCase.h"

namespace inet {

namespace {

// curl's receive buffer: larger than a read, so fewer trips through the
// loop, and small, since every song at once holds one.
constexpr long kReceiveBuffer = 64 * 1024;
// Bytes that arrive beyond what the reader asked for wait here; past this
// much (two of curl's deliveries), curl is paused until the reader catches up.
constexpr std::size_t kSpillLimit = 2 * kReceiveBuffer;
// Upper bound of one wait; curl shortens it for its own timers, and closing a
// handle wakes it at once.
constexpr int kPollMs = 1000;

// Tests trust their own certificate authority through this variable.
constexpr const char* kCaFileVariable = "BRELVOMP3_CA_FILE";

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CURLM* multiOf(void* p) { return static_cast<CURLM*>(p); }
CURL* easyOf(void* p) { return static_cast<CURL*>(p); }

std::string trimmed(std::string_view text) {
    const auto notBlank = [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; };
    auto begin = std::find_if(text.begin(), text.end(), notBlank);
    auto end = std::find_if(text.rbegin(), text.rend(), notBlank).base();
    return begin < end ? std::string(begin, end) : std::string();
}

}  // namespace

Exchange::Exchange(std::vector<std::shared_ptr<AbortSignal>> signals) : signals_(std::move(signals)) {
    multi_ = curl_multi_init();
    if (multi_) {
        for (const auto& s : signals_) s->attach(multi_);
    }
}

Exchange::~Exchange() {
    dropTransfer();
    if (multi_) {
        for (const auto& s : signals_) s->detach(multi_);
        curl_multi_cleanup(multiOf(multi_));
    }
}

void Exchange::dropTransfer() {
    if (easy_) {
        curl_multi_remove_handle(multiOf(multi_), easyOf(easy_));
        curl_easy_cleanup(easyOf(easy_));
        easy_ = nullptr;
    }
    if (headerList_) {
        curl_slist_free_all(static_cast<curl_slist*>(headerList_));
        headerList_ = nullptr;
    }
}

bool Exchange::aborted() const {
    return std::any_of(signals_.begin(), signals_.end(), [](const auto& s) { return s->aborted(); });
}

Result<void> Exchange::start(const ExchangeSetup& setup) {
    dropTransfer();
    setup_ = setup;
    resetState();
    if (aborted()) return dl::kErrOperationCancelled;
    if (!multi_) return dl::kErrInternalError;
    CURL* easy = curl_easy_init();
    if (!easy) return dl::kErrInternalError;
    easy_ = easy;
    setTransferOptions(easy);
    setHeaderLines(easy);
    setMethodAndBody(easy);
    setCredentials(easy);
    setProxy(easy);
    if (curl_multi_add_handle(multiOf(multi_), easy) != CURLM_OK) {
        dropTransfer();
        return dl::kErrInternalError;
    }
    return {};
}

void Exchange::resetState() {
    httpLike_ = setup_.protocols.rfind("http", 0) == 0;
    finished_ = false;
    result_ = CURLE_OK;
    osErrno_ = 0;
    headComplete_ = false;
    head_ = ResponseHead();
    lastServerLine_.clear();
    dataTimeoutMs_ = static_cast<long>(setup_.settings.dataTimeoutSeconds) * 1000;
    connected_ = false;
    lastActivity_ = nowMs();
    spill_.clear();
    spillHead_ = 0;
    ahead_ = nullptr;
    aheadCount_ = 0;
    paused_ = false;
    targetFilled_ = 0;
}

// What every transfer has: the URL and protocols, the callbacks, the
// receive buffer, no redirects of curl's own, the time limit to connect.
void Exchange::setTransferOptions(void* handle) {
    CURL* easy = easyOf(handle);
    curl_easy_setopt(easy, CURLOPT_URL, setup_.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, setup_.protocols.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A name lookup still running when the transfer is dropped is left to
    // end by itself instead of being waited for: Cancel must not wait for a
    // resolver that hangs. Its thread touches nothing but its own data.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Exchange::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);  // followed by the request, see InetRequest
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Exchange::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Exchange::onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    // The name lookup counts towards it.
    if (setup_.settings.connectTimeoutSeconds > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(setup_.settings.connectTimeoutSeconds));
    // A trickle counts as a stall (curl's low-speed check; a paused transfer,
    // one waiting for its reader, is not checked).
    const bool lowSpeed = setup_.settings.lowSpeedBytes > 0 && setup_.settings.lowSpeedSeconds > 0;
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, lowSpeed ? static_cast<long>(setup_.settings.lowSpeedBytes) : 0L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, lowSpeed ? static_cast<long>(setup_.settings.lowSpeedSeconds) : 0L);
    if (const char* caFile = std::getenv(kCaFileVariable); caFile && *caFile)
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile);
}

void Exchange::setHeaderLines(void* handle) {
    CURL* easy = easyOf(handle);
    if (!setup_.agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, setup_.agent.c_str());
    if (!setup_.referer.empty()) curl_easy_setopt(easy, CURLOPT_REFERER, setup_.referer.c_str());
    curl_slist* list = nullptr;
    for (const std::string& line : setup_.headers) list = curl_slist_append(list, line.c_str());
    // No "Expect: 100-continue" pause before a body.
    if (httpLike_) list = curl_slist_append(list, "Expect:");
    headerList_ = list;
    if (list) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
}

void Exchange::setMethodAndBody(void* handle) {
    CURL* easy = easyOf(handle);
    if (setup_.headOnly) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(easy, CURLOPT_FILETIME, 1L);
    } else if (setup_.verb == "POST") {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(setup_.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, setup_.body.data());
    } else if (setup_.verb == "GET" && !setup_.hasBody) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        if (setup_.hasBody) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(setup_.body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, setup_.body.data());
        }
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, setup_.verb.c_str());
    }
}

void Exchange::setCredentials(void* handle) {
    CURL* easy = easyOf(handle);
    if (setup_.userName.empty()) return;
    curl_easy_setopt(easy, CURLOPT_USERNAME, setup_.userName.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, setup_.password.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
}

void Exchange::setProxy(void* handle) {
    CURL* easy = easyOf(handle);
    switch (setup_.settings.access) {
        case AccessType::Preconfigured:
            break;  // curl reads http_proxy, https_proxy and no_proxy itself
        case AccessType::Direct:
            curl_easy_setopt(easy, CURLOPT_PROXY, "");
            break;
        case AccessType::NamedProxy:
            curl_easy_setopt(easy, CURLOPT_PROXY, setup_.settings.proxyList.c_str());
            curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
            break;
    }
    if (!setup_.proxyUserName.empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, setup_.proxyUserName.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, setup_.proxyPassword.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
}

std::size_t Exchange::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* x = static_cast<Exchange*>(self);
    const std::size_t length = size * count;
    std::string_view line(data, length);
    x->lastActivity_ = nowMs();
    if (!x->httpLike_) {
        // FTP and the like: the server's reply lines.
        const std::string text = trimmed(line);
        if (!text.empty()) x->lastServerLine_ = text;
        return length;
    }
    // Anything but the whole length refuses the response (CURLE_WRITE_ERROR).
    if (!x->head_.takeLine(line)) return 0;
    if (x->head_.complete()) x->headComplete_ = true;
    return length;
}

int Exchange::onConnected(void* self, char*, char*, int, int) {
    auto* x = static_cast<Exchange*>(self);
    x->connected_ = true;
    x->lastActivity_ = nowMs();
    return CURL_PREREQFUNC_OK;
}

std::size_t Exchange::onWrite(char* data, std::size_t size, std::size_t count, void* self) {
    auto* x = static_cast<Exchange*>(self);
    const std::size_t length = size * count;
    // Body bytes mean the head is over (and stand for it where there is none).
    x->headComplete_ = true;
    x->head_.bodyBegins();
    x->lastActivity_ = nowMs();
    const std::size_t room = x->target_ ? x->targetSize_ - x->targetFilled_ : 0;
    if (room == 0 && x->spilled() + length > kSpillLimit) {
        // Returning this keeps the bytes with curl, which offers them again later.
        x->paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    const std::size_t direct = std::min(room, length);
    if (direct > 0) {
        std::memcpy(x->target_ + x->targetFilled_, data, direct);
        x->targetFilled_ += direct;
    }
    if (direct < length) x->spill_.insert(x->spill_.end(), data + direct, data + length);
    return length;
}

void Exchange::collectMessages() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multiOf(multi_), &left)) {
        if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
        finished_ = true;
        result_ = msg->data.result;
        curl_easy_getinfo(easyOf(easy_), CURLINFO_OS_ERRNO, &osErrno_);
    }
}

std::optional<long> Exchange::silenceLeft() const {
    if (dataTimeoutMs_ <= 0 || !connected_ || paused_) return std::nullopt;
    return std::max<long>(0, dataTimeoutMs_ - static_cast<long>(nowMs() - lastActivity_));
}

template <typename Done>
Result<void> Exchange::pump(Done done) {
    for (;;) {
        if (done() || finished_) return {};
        if (aborted()) return dl::kErrOperationCancelled;
        int running = 0;
        if (curl_multi_perform(multiOf(multi_), &running) != CURLM_OK) return dl::kErrInternalError;
        collectMessages();
        if (done() || finished_) return {};
        if (aborted()) return dl::kErrOperationCancelled;
        const std::optional<long> left = silenceLeft();
        if (left && *left == 0) return dl::kErrTimeout;
        const int wait = left ? static_cast<int>(std::min<long>(kPollMs, *left)) : kPollMs;
        curl_multi_poll(multiOf(multi_), nullptr, 0, std::max(wait, 1), nullptr);
    }
}

Result<void> Exchange::resultError() const {
    // Refused by the head's bounds: curl only saw the callback decline.
    if (head_.refused()) return dl::kErrInvalidServerResponse;
    const dl::DownloadError error = errorFromCurl(result_, osErrno_);
    if (error == dl::kErrExtendedError) return extendedError(lastServerLine_);
    if (error != dl::kErrNone) return error;
    return {};
}

Result<void> Exchange::waitForHead() {
    if (!easy_) return dl::kErrIncorrectHandleState;
    if (auto pumped = pump([this] { return headComplete_; }); !pumped) return pumped;
    if (headComplete_) return {};
    // A head that began and was cut short is no answer, however curl saw it.
    if (httpLike_ && head_.begun()) return dl::kErrInvalidServerResponse;
    if (auto ended = resultError(); !ended) return ended;
    // Ended cleanly without a head: an empty body.
    headComplete_ = true;
    return {};
}

Result<void> Exchange::waitForEnd() {
    if (!easy_) return dl::kErrIncorrectHandleState;
    if (auto pumped = pump([] { return false; }); !pumped) return pumped;
    return resultError();
}

bool Exchange::failedToConnect() const {
    if (!finished_ || !easy_) return false;
    if (result_ == CURLE_COULDNT_CONNECT) return true;
    if (result_ != CURLE_OPERATION_TIMEDOUT) return false;
    curl_off_t connected = 0;
    curl_easy_getinfo(easyOf(easy_), CURLINFO_CONNECT_TIME_T, &connected);
    return connected == 0;
}

std::size_t Exchange::takeSpill(char* buffer, std::size_t size) {
    const std::size_t n = std::min(size, spilled());
    std::memcpy(buffer, spill_.data() + spillHead_, n);
    spillHead_ += n;
    if (spillHead_ == spill_.size()) {
        spill_.clear();
        spillHead_ = 0;
    }
    return n;
}

std::size_t Exchange::charged(std::size_t bytes) {
    if (const auto& limit = setup_.settings.rateLimit) (void)limit->take(bytes, nowMs());
    return bytes;
}

bool Exchange::waitForRate() {
    const auto& limit = setup_.settings.rateLimit;
    if (!limit) return true;
    bool waited = false;
    for (std::int64_t left = limit->waitLeft(nowMs()); left > 0; left = limit->waitLeft(nowMs())) {
        if (aborted()) return false;
        const std::chrono::milliseconds slice(std::min(left, RateLimit::kSliceMs));
        if (signals_.empty()) {
            std::this_thread::sleep_for(slice);
        } else if (signals_.front()->waitFor(slice)) {
            return false;
        }
        waited = true;
    }
    // The time spent waiting was the limit's, not the server's silence.
    if (waited) lastActivity_ = nowMs();
    return true;
}

Result<std::size_t> Exchange::read(char* buffer, std::size_t size, std::size_t room) {
    if (!easy_) return dl::kErrIncorrectHandleState;
    if (size == 0) return std::size_t{0};
    if (!waitForRate()) return dl::kErrOperationCancelled;
    room = std::max(room, size);
    // In arrival order: what was placed ahead, then what was kept, then new bytes.
    if (aheadCount_ > 0) {
        const std::size_t received = std::min(size, aheadCount_);
        if (buffer != ahead_) std::memmove(buffer, ahead_, received);
        ahead_ += received;
        aheadCount_ -= received;
        return charged(received);
    }
    if (spilled() > 0) return charged(takeSpill(buffer, size));
    target_ = buffer;
    targetSize_ = room;
    targetFilled_ = 0;
    if (paused_) {
        // Everything held back has been read: let curl deliver again. The
        // time it was paused was the reader's, not the server's silence.
        paused_ = false;
        lastActivity_ = nowMs();
        curl_easy_pause(easyOf(easy_), CURLPAUSE_CONT);
    }
    const Result<void> pumped = pump([this] { return targetFilled_ > 0; });
    const std::size_t received = std::min(size, targetFilled_);
    ahead_ = buffer + received;
    aheadCount_ = targetFilled_ - received;
    target_ = nullptr;
    targetSize_ = targetFilled_ = 0;
    // Bytes that arrived are handed out first; a failure after them shows on the next call.
    if (received > 0) return charged(received);
    if (!pumped) return pumped.error();
    if (auto ended = resultError(); !ended) return ended.error();
    return std::size_t{0};
}

std::optional<std::string> Exchange::header(const std::string& name) const {
    for (const auto& [key, value] : head_.headers()) {
        if (dl::SameText(key, name)) return value;
    }
    return std::nullopt;
}

std::optional<std::string> Exchange::combinedHeader(const std::string& name) const {
    std::optional<std::string> combined;
    for (const auto& [key, value] : head_.headers()) {
        if (!dl::SameText(key, name)) continue;
        if (combined)
            *combined += ", " + value;
        else
            combined = value;
    }
    return combined;
}

std::optional<std::int64_t> Exchange::contentLength() const {
    if (!easy_) return std::nullopt;
    curl_off_t length = -1;
    if (curl_easy_getinfo(easyOf(easy_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
        return std::nullopt;
    return static_cast<std::int64_t>(length);
}

std::optional<std::int64_t> Exchange::fileTime() const {
    if (!easy_) return std::nullopt;
    curl_off_t time = -1;
    if (curl_easy_getinfo(easyOf(easy_), CURLINFO_FILETIME_T, &time) != CURLE_OK || time < 0) return std::nullopt;
    return static_cast<std::int64_t>(time);
}

}  // namespace inet

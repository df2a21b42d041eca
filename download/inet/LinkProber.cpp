#include "download/inet/LinkProber.h"
#include "download/inet/InetRequestUrl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "download/inet/InetErrors.h"
#include "download/inet/InetRange.h"
#include "download/texts/DlTexts.h"

namespace inet {
namespace {

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

std::optional<std::uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

// Where a 206 starts and the whole file's length. Some servers cut a short
// file's range at its end yet name the range asked for ("bytes 0-16383/193"):
// the start and the length still say what a probe needs, and the bytes read
// stay within its budget whatever the header says.
std::optional<ContentRange> probedRange(std::string_view value) {
    if (auto range = parseContentRange(value)) return range;
    constexpr std::string_view kUnit = "bytes ";
    if (value.substr(0, kUnit.size()) != kUnit) return std::nullopt;
    value.remove_prefix(kUnit.size());
    const auto dash = value.find('-'), slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
    const auto first = decimal(value.substr(0, dash));
    const auto last = decimal(value.substr(dash + 1, slash - dash - 1));
    const auto total = decimal(value.substr(slash + 1));
    if (!first || !last || !total || *first > *last || *first >= *total) return std::nullopt;
    return ContentRange{*first, *total - 1, *total};
}

// The host and port a request goes to, for the cap on each host.
std::string hostOf(const std::string& url) {
    CURLU* parts = curl_url();
    std::string key = url;
    if (parts && curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            key = lowered(host);
            if (curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) key += std::string(":") + port;
        }
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(parts);
    return key;
}

// One link's probe, over its one or two requests.
struct Link {
    std::string url;
    std::string host;
    ProbeOutcome outcome;
    probe::ProbeFacts facts;  // of the first answer
    bool done = false;
};

// One request in flight.
struct Transfer {
    std::size_t link = 0;
    std::uint64_t offset = 0;
    std::size_t want = 0;
    std::size_t budget = 0;  // body bytes this request may still read
    std::unique_ptr<CURL, EasyCleanup> easy;
    int status = 0;
    std::optional<std::uint64_t> contentLength;
    std::optional<std::uint64_t> rangeTotal;
    std::optional<std::uint64_t> rangeFirst;
    std::string etag, lastModified;
    std::uint64_t skip = 0;  // bytes before `offset` a server ignoring the range sends
    std::uint64_t read = 0;
    std::string body;
    bool cut = false;  // we ended it: it had what we wanted, or its budget

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        const std::string_view line(data, size * count);
        if (line.rfind("HTTP/", 0) == 0) {
            // Each answer of a redirect chain starts afresh.
            const auto space = line.find(' ');
            t.status = space == std::string_view::npos ? 0 : static_cast<int>(decimal(line.substr(space + 1, 3)).value_or(0));
            t.contentLength.reset();
            t.rangeTotal.reset();
            t.rangeFirst.reset();
            t.etag.clear();
            t.lastModified.clear();
            return size * count;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return size * count;
        const std::string name = lowered(trimmed(line.substr(0, colon)));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (name == "content-length") {
            t.contentLength = decimal(value);
        } else if (name == "content-range") {
            if (const auto range = probedRange(value)) {
                t.rangeTotal = range->total;
                t.rangeFirst = range->first;
            }
        } else if (name == "etag") {
            t.etag = std::string(value.substr(0, 256));
        } else if (name == "last-modified") {
            t.lastModified = std::string(value.substr(0, 256));
        }
        return size * count;
    }

    static std::size_t onWrite(char* data, std::size_t size, std::size_t count, void* self) {
        auto& t = *static_cast<Transfer*>(self);
        std::string_view bytes(data, size * count);
        // Bodies of redirects and error pages count against the budget too.
        if (bytes.size() > t.budget) {
            bytes = bytes.substr(0, t.budget);
            t.cut = true;
        }
        t.budget -= bytes.size();
        t.read += bytes.size();
        const bool wanted = t.status == 200 || t.status == 206;
        // The body of a refusal says nothing the status has not said.
        if (!wanted) {
            t.cut = true;
            return 0;
        }
        if (t.status == 200 && t.skip < t.offset) {
            const auto drop = std::min<std::uint64_t>(t.offset - t.skip, bytes.size());
            t.skip += drop;
            bytes.remove_prefix(static_cast<std::size_t>(drop));
        }
        t.body.append(bytes.substr(0, t.want - t.body.size()));
        if (t.body.size() >= t.want) t.cut = true;
        return t.cut ? 0 : size * count;
    }
};

}  // namespace

LinkProber::LinkProber(ProbeSettings settings) : settings_(std::move(settings)) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void LinkProber::stop() {
    stopped_ = true;
    std::lock_guard lock(multiMutex_);
    if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

std::vector<ProbeOutcome> LinkProber::probeAll(const std::vector<std::string>& urls, const OnVerdict& onVerdict) {
    std::vector<Link> links(urls.size());
    for (std::size_t i = 0; i < urls.size(); ++i) {
        // Asked as a download asks it: a stored address may end in a blank.
        links[i].url = browserUrl(urls[i]);
        links[i].host = hostOf(links[i].url);
    }
    std::unique_ptr<CURLM, MultiCleanup> multi(curl_multi_init());
    {
        std::lock_guard lock(multiMutex_);
        multi_ = multi.get();
    }
    std::unique_ptr<curl_slist, ListCleanup> headers(curl_slist_append(nullptr, "Accept-Encoding: identity"));

    struct Request {
        std::size_t link;
        std::uint64_t offset;
    };
    std::deque<Request> waiting;
    std::map<CURL*, std::unique_ptr<Transfer>> running;
    std::map<std::string, std::size_t> perHost;

    auto finish = [&](Link& link) {
        link.done = true;
        if (onVerdict) onVerdict(static_cast<std::size_t>(&link - links.data()), link.outcome);
    };
    for (std::size_t i = 0; i < links.size(); ++i) {
        // Only what a song link can be goes out; curl would try other schemes.
        const std::string head = lowered(std::string_view(links[i].url).substr(0, 8));
        if (head.rfind("http://", 0) == 0 || head.rfind("https://", 0) == 0) {
            waiting.push_back({i, 0});
            continue;
        }
        probe::ProbeFacts facts;
        facts.error = dl::kErrUnrecognizedScheme;
        facts.errorText = dl::InternetErrorText(facts.error);
        links[i].outcome.verdict = probe::judgeLink(facts);
        finish(links[i]);
    }
    auto start = [&](const Request& request) {
        Link& link = links[request.link];
        auto t = std::make_unique<Transfer>();
        t->link = request.link;
        t->offset = request.offset;
        t->want = settings_.firstBytes;
        const std::uint64_t spent = link.outcome.bodyBytes;
        t->budget = settings_.maxBytes > spent ? static_cast<std::size_t>(settings_.maxBytes - spent) : 0;
        t->easy.reset(curl_easy_init());
        CURL* easy = t->easy.get();
        const std::string range = std::to_string(request.offset) + "-" + std::to_string(request.offset + t->want - 1);
        curl_easy_setopt(easy, CURLOPT_URL, link.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());  // copied by curl
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, settings_.connectTimeoutMs);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, settings_.totalTimeoutMs);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 16384L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, settings_.agent.c_str());
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, t.get());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
        if (const char* ca = std::getenv("CURL_CA_BUNDLE")) curl_easy_setopt(easy, CURLOPT_CAINFO, ca);
        ++link.outcome.requests;
        ++perHost[link.host];
        curl_multi_add_handle(multi.get(), easy);
        running.emplace(easy, std::move(t));
    };
    auto schedule = [&] {
        for (auto it = waiting.begin(); it != waiting.end() && running.size() < settings_.maxProbes;) {
            if (perHost[links[it->link].host] < settings_.maxPerHost) {
                start(*it);
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
    };
    // What one request's end says about its link: its verdict, or a second request.
    auto ended = [&](Transfer& t, CURLcode result) {
        Link& link = links[t.link];
        link.outcome.bodyBytes += t.read;
        probe::ProbeFacts facts;
        const bool answered = t.status != 0 && (result == CURLE_OK || t.cut || !t.body.empty());
        if (!answered) {
            long osErrno = 0;
            curl_easy_getinfo(t.easy.get(), CURLINFO_OS_ERRNO, &osErrno);
            facts.error = result == CURLE_OK ? dl::kErrInternalError : errorFromCurl(result, osErrno);
            facts.errorText = dl::InternetErrorText(facts.error);
        } else {
            facts.status = t.status;
            facts.size = t.rangeTotal ? t.rangeTotal : (t.status == 200 ? t.contentLength : std::nullopt);
            facts.etag = t.etag;
            facts.lastModified = t.lastModified;
            facts.audio = probe::judgeMpegAudio(t.body, t.offset, facts.size);
            // Bytes from elsewhere than asked for cannot say where the audio is.
            if (t.status == 206 && t.rangeFirst != t.offset) {
                facts.audio = probe::AudioVerdict{};
                facts.audio.reason = "a range other than asked for";
            }
        }
        if (t.offset > 0) {
            // The second request only tells where the audio is; the first said the rest.
            probe::ProbeFacts first = link.facts;
            first.audio = answered && (t.status == 200 || t.status == 206) ? facts.audio : probe::AudioVerdict{};
            if (!answered || (t.status != 200 && t.status != 206)) first = facts;
            link.outcome.verdict = probe::judgeLink(first);
            finish(link);
            return;
        }
        link.facts = facts;
        if (settings_.keepFirstBytes && answered && (t.status == 200 || (t.status == 206 && t.rangeFirst == 0)))
            link.outcome.firstBytes = t.body;
        const auto& audio = facts.audio;
        const bool asksLater = answered && (t.status == 200 || t.status == 206) &&
                               audio.kind == probe::AudioVerdict::Kind::StartsLater;
        // A server that ignores ranges sends the tag again: it must fit the budget.
        const std::uint64_t cost = settings_.firstBytes + (t.status == 200 ? audio.startsAt : 0);
        if (asksLater && link.outcome.bodyBytes + cost <= settings_.maxBytes && !stopped_) {
            waiting.push_front({t.link, audio.startsAt});
            return;
        }
        link.outcome.verdict = probe::judgeLink(facts);
        finish(link);
    };

    schedule();
    while (!running.empty() && !stopped_) {
        int still = 0;
        curl_multi_perform(multi.get(), &still);
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &still)) {
            if (message->msg != CURLMSG_DONE) continue;
            CURL* easy = message->easy_handle;
            const CURLcode result = message->data.result;
            auto node = running.extract(easy);
            curl_multi_remove_handle(multi.get(), easy);
            --perHost[links[node.mapped()->link].host];
            ended(*node.mapped(), result);
        }
        schedule();
        if (running.empty()) break;
        curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
    }
    for (auto& [easy, t] : running) curl_multi_remove_handle(multi.get(), easy);
    running.clear();
    {
        std::lock_guard lock(multiMutex_);
        multi_ = nullptr;
    }
    std::vector<ProbeOutcome> outcomes;
    outcomes.reserve(links.size());
    for (Link& link : links) {
        if (!link.done) {
            link.outcome.verdict.state = probe::LinkState::Unavailable;
            link.outcome.verdict.code = dl::kErrOperationCancelled;
            link.outcome.verdict.reason = dl::InternetErrorText(dl::kErrOperationCancelled);
            finish(link);
        }
        outcomes.push_back(link.outcome);
    }
    return outcomes;
}

}  // namespace inet

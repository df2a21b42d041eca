// Reading an answer's head: the status line and its check, interim answers,
// the header lines within their bounds, the transfer codings, the cookies,
// and whether the connection stays open afterwards.
#include <string>
#include <string_view>
#include <vector>

#include "http/NetHTTP.h"
#include "http/NetHTTPHeadBudget.h"

namespace net {

namespace {

const std::string kLF = "\n";

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string_view trimBlanksAndTabs(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "HTTP/1." and one digit, a blank and three digits, then the end or a blank
// and the reason.
bool isStatusLine(std::string_view line) {
    return line.size() >= 12 && line.substr(0, 7) == "HTTP/1." && isDigit(line[7]) && line[8] == ' ' &&
           isDigit(line[9]) && isDigit(line[10]) && isDigit(line[11]) &&
           (line.size() == 12 || line[12] == ' ');
}

// The code of a status line: the word after the first blank, or -1.
int statusCodeOf(std::string_view line) {
    const auto blank = line.find(' ');
    if (blank == std::string_view::npos) return -1;
    std::string_view rest = trimBlanks(line.substr(blank + 1));
    rest = rest.substr(0, rest.find(' '));
    std::int32_t code = -1;
    return tryStrToInt32(rest, code) ? code : -1;
}

// Interim answers precede the final one; 101 instead switches protocols,
// which this client does not speak.
bool isInterimAnswer(int code) { return code >= 100 && code < 200 && code != 101; }

}  // namespace

ENetInvalidStatusLine::ENetInvalidStatusLine(std::string_view line)
    : ENetException("Invalid status line: " + std::string(line.substr(0, 64))) {}

// ---- the response record ---------------------------------------------------

void TNetHTTPResponse::SetStatusLine(std::string line) {
    statusLine_ = std::move(line);
    statusCode_ = statusCodeOf(statusLine_);
}

void TNetHTTPResponse::ResetFields() {
    TNetResponseHeaderInfo::ResetFields();
    transferCoded_ = false;
    chunked_ = false;
}

void TNetHTTPResponse::ParseRawHeaders() {
    transferCoded_ = false;
    chunked_ = false;
    std::vector<std::string> values;
    RawHeaders.ExtractValues("Transfer-Encoding", &values);
    for (const std::string& value : values) {
        std::string_view rest = value;
        for (;;) {
            const std::size_t comma = rest.find(',');
            const std::string_view item = rest.substr(0, comma);
            const std::string_view coding = trimBlanksAndTabs(item.substr(0, item.find(';')));
            // A list may hold empty items; "identity" names no coding at all.
            if (!coding.empty() && !sameText(coding, "identity")) {
                transferCoded_ = true;
                chunked_ = sameText(coding, "chunked");
            }
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    TNetResponseHeaderInfo::ParseRawHeaders();
}

bool TNetHTTPResponse::KeepAlive() {
    if (statusLine_.size() >= 8) {
        const std::string_view version = std::string_view(statusLine_).substr(5, 3);
        if (sameText(version, "1.0")) responseVersion_ = pv1_0;
        else if (sameText(version, "1.1")) responseVersion_ = pv1_1;
    }
    client_.CheckPeerClosed(false, false);
    if (!client_.IsConnected()) return false;
    // A message framed two ways may be meant to smuggle a second answer in.
    if (transferCoded_ && HasContentLength()) return false;
    const std::string_view connection = trimBlanks(Connection);
    const std::string_view proxyConnection = trimBlanks(ProxyConnection);
    if (client_.ProtocolVersion == pv1_1)
        return !sameText(connection, "CLOSE") && !sameText(proxyConnection, "CLOSE");
    return sameText(connection, "KEEP-ALIVE") || sameText(proxyConnection, "KEEP-ALIVE");
}

// ---- reading the head --------------------------------------------------------

std::string TNetCustomHTTP::readStatusLine(bool answerBegun) {
    try {
        return ReadLine(kLF);
    } catch (const ENetConnClosedGracefully&) {
        if (answerBegun || InputBuffer().Size() > 0) throw ENetResponseHeadCutShort();
        throw;
    }
}

void TNetCustomHTTP::readFinalResponse(TNetHTTPProtocol& protocol, std::string statusLine) {
    // One budget for the whole head: endless interim answers are bounded too.
    HeadBudget budget;
    for (;;) {
        budget.take(statusLine, false);
        if (!isStatusLine(statusLine)) throw ENetInvalidStatusLine(statusLine);
        protocol.Response.SetStatusLine(std::move(statusLine));
        const bool whole = ReceiveHeaders(protocol, budget);
        TakeCookies(protocol);
        const int code = protocol.Response.StatusCode();
        // A head without its end cannot say how the answer goes on. Only a
        // refusal (3xx and above) is still worth its status.
        if (!whole && code >= 100 && code < 300) throw ENetResponseHeadCutShort();
        if (!isInterimAnswer(code)) return;
        statusLine = readStatusLine(true);
    }
}

bool TNetCustomHTTP::ReceiveHeaders(TNetHTTPProtocol& protocol, HeadBudget& budget) {
    TNetHeaderList& raw = protocol.Response.RawHeaders;
    raw.clear();
    bool whole = true;
    try {
        for (std::string line = ReadLine(kLF); !line.empty(); line = ReadLine(kLF)) {
            budget.take(line, true);
            raw.add(std::move(line));
        }
        budget.take({}, false);  // the blank line that ends the head
    } catch (const ENetConnClosedGracefully&) {
        CloseConnection();
        whole = false;
    }
    protocol.Response.ParseRawHeaders();
    return whole;
}

void TNetCustomHTTP::TakeCookies(TNetHTTPProtocol& protocol) {
    if (!cookieManager_ && AllowCookies) {
        ownedCookieManager_ = std::make_unique<TNetCookieManager>();
        cookieManager_ = ownedCookieManager_.get();
        cookieManager_->FreeNotification(this);
    }
    if (!cookieManager_) return;
    std::vector<std::string> cookies, cookies2;
    const TNetHeaderList& raw = protocol.Response.RawHeaders;
    raw.ExtractValues("Set-cookie", &cookies);
    raw.ExtractValues("Set-cookie2", &cookies2);
    for (const std::string& text : cookies) cookieManager_->TakeSetCookie(text, uri_.Host);
    for (const std::string& text : cookies2) cookieManager_->TakeSetCookie2(text, uri_.Host);
}

}  // namespace net

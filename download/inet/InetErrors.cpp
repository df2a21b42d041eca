#include "download/inet/InetErrors.h"

#include <cerrno>

#include <curl/curl.h>

namespace inet {

namespace {

constexpr std::size_t kServerReplyLimit = 256;

}  // namespace

const std::vector<CurlErrorMapping>& curlErrorTable() {
    using namespace dl;
    static const std::vector<CurlErrorMapping> table = {
        // Schemes are checked before curl sees a URL (12006), so this is curl
        // refusing a reply that is no HTTP response at all.
        {CURLE_UNSUPPORTED_PROTOCOL, kErrInvalidServerResponse, "reply is not HTTP"},
        {CURLE_URL_MALFORMAT, kErrInvalidUrl, "malformed URL"},
        {CURLE_COULDNT_RESOLVE_PROXY, kErrNameNotResolved, "proxy name not resolved"},
        {CURLE_COULDNT_RESOLVE_HOST, kErrNameNotResolved, "host name not resolved"},
        {CURLE_COULDNT_CONNECT, kErrCannotConnect, "connection refused or unreachable"},
        {CURLE_WEIRD_SERVER_REPLY, kErrInvalidServerResponse, "not an HTTP response"},
        {CURLE_REMOTE_ACCESS_DENIED, kErrExtendedError, "FTP server refused access (its reply is the message)"},
        {CURLE_FTP_COULDNT_RETR_FILE, kErrExtendedError, "FTP server refused the file (its reply is the message)"},
        {CURLE_PARTIAL_FILE, kErrConnectionAborted, "connection ended before the announced length"},
        {CURLE_OUT_OF_MEMORY, kErrInternalError, "out of memory"},
        {CURLE_OPERATION_TIMEDOUT, kErrTimeout, "connect or data time limit passed"},
        {CURLE_SSL_CONNECT_ERROR, kErrSecurityChannel, "TLS handshake failed"},
        {CURLE_ABORTED_BY_CALLBACK, kErrOperationCancelled, "interrupted by closing the handle"},
        {CURLE_TOO_MANY_REDIRECTS, kErrRedirectFailed, "too many redirects"},
        {CURLE_GOT_NOTHING, kErrConnectionAborted, "connection closed without a response"},
        {CURLE_SEND_ERROR, kErrConnectionAborted, "send failed (12031 when the peer reset)"},
        {CURLE_RECV_ERROR, kErrConnectionAborted, "receive failed (12031 when the peer reset)"},
        {CURLE_PEER_FAILED_VERIFICATION, kErrInvalidCa, "server certificate not trusted"},
        {CURLE_LOGIN_DENIED, kErrLoginFailure, "login refused"},
        {CURLE_REMOTE_FILE_NOT_FOUND, kErrExtendedError, "FTP file not found (its reply is the message)"},
    };
    return table;
}

dl::DownloadError errorFromCurl(int curlCode, long osErrno) {
    if (curlCode == CURLE_OK) return dl::kErrNone;
    if ((curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR) && osErrno == ECONNRESET)
        return dl::kErrConnectionReset;
    for (const CurlErrorMapping& row : curlErrorTable()) {
        if (row.curlCode == curlCode) return row.error;
    }
    return static_cast<dl::DownloadError>(dl::kErrCurlBase + curlCode);
}

Error extendedError(std::string serverReply) {
    if (serverReply.size() > kServerReplyLimit) serverReply.resize(kServerReplyLimit);
    return Error{dl::kErrExtendedError, std::move(serverReply)};
}

}  // namespace inet

#pragma once
// Error numbers of the Internet library the download transfer was written
// against, and the one table that maps libcurl's failures onto them. Every
// call of this layer leaves its outcome in the calling thread's last error
// (0 after a success), as the platform library did.
#include <string>
#include <vector>

namespace inet {

// Numbers the transfer and its texts rely on.
constexpr int kErrInvalidHandle = 6;            // a call on a handle that was closed
constexpr int kErrTimeout = 12002;
constexpr int kErrExtendedError = 12003;        // the server's response text says more
constexpr int kErrInternalError = 12004;
constexpr int kErrInvalidUrl = 12005;
constexpr int kErrUnrecognizedScheme = 12006;
constexpr int kErrNameNotResolved = 12007;
constexpr int kErrLoginFailure = 12015;
constexpr int kErrOperationCancelled = 12017;   // the handle was closed during the call
constexpr int kErrIncorrectHandleType = 12018;
constexpr int kErrIncorrectHandleState = 12019;
constexpr int kErrCannotConnect = 12029;
constexpr int kErrConnectionAborted = 12030;
constexpr int kErrConnectionReset = 12031;
constexpr int kErrInvalidCa = 12045;            // the server's certificate is not trusted
constexpr int kErrHeaderNotFound = 12150;
constexpr int kErrInvalidServerResponse = 12152;
constexpr int kErrInvalidHeader = 12153;
constexpr int kErrRedirectFailed = 12156;       // more redirects than the bound
constexpr int kErrSecurityChannel = 12157;      // the TLS handshake failed
constexpr int kErrInsufficientBuffer = 122;     // a header longer than the caller's buffer
// Any libcurl failure the table does not name becomes this base plus curl's
// own code, so the number still tells which failure it was.
constexpr int kErrCurlBase = 13000;

struct CurlErrorMapping {
    int curlCode;
    int error;
    const char* meaning;
};

// The mapping, in curl's code order; the README lists the same rows.
const std::vector<CurlErrorMapping>& curlErrorTable();

// The number for a curl result code. Send and receive failures are told
// apart by the socket's errno: a reset connection is 12031, any other 12030.
int errorFromCurl(int curlCode, long osErrno = 0);

int lastError();
void setLastError(int error);

// After kErrExtendedError: the server's last response line (at most 256
// characters) and the number it reports.
std::string lastResponseInfo(int& error);
void setLastResponseInfo(std::string text);

}  // namespace inet

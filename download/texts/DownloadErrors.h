#pragma once
// The download road's one error vocabulary: every code a download item can
// record in its ErrorCode. The engine's own, its limits', those of a file
// that cannot be written, and the numbers of the Internet library the
// transfer was written against, onto which libcurl's failures are mapped
// (inet/InetErrors.h). The numbers are what items record, dlget prints and
// the log reads, so they never change. Their texts: InternetErrorText.
#include <cstdint>

namespace dl {

enum DownloadError : std::int32_t {
    kErrNone = 0,

    // ---- the engine's own ----
    // An exception during the transfer; its message is the item's text.
    kErrException = 1,
    // The server's answer is not the song: an HTTP status other than 200 and
    // 302 (the status's text), a redirect without a usable Location, an
    // answer to a request for the rest that does not continue the bytes
    // held. With status 0: "Not connected", no attempt was made.
    kErrServerRefused = 2,
    // Stopped; also what a call on a handle that a stop closed fails with.
    kErrStopped = 6,
    // The component's limits.
    kErrSizeLimit = 8,
    kErrTooOld = 9,
    // A file that cannot be written (files/DlFileErrors.h reads errno).
    kErrDiskFull = 10,
    kErrWriteAccessDenied = 11,
    kErrFileNameTooLong = 12,
    kErrInvalidFileName = 13,
    kErrFileWriteError = 14,
    // A song that must be MPEG audio whose answer or bytes are not (a web
    // page, an empty body, anything else): nothing is saved under its name.
    kErrNotAudio = 15,
    // A header longer than the caller's buffer; the transfer reads the
    // header as absent, so an item never records it.
    kErrInsufficientBuffer = 122,
    // The answer's content type is refused.
    kErrPrecondFailed = 412,

    // ---- the Internet library's ----
    kErrOutOfHandles = 12001,
    kErrTimeout = 12002,
    kErrExtendedError = 12003,  // the server's reply line is the text
    kErrInternalError = 12004,
    kErrInvalidUrl = 12005,
    kErrUnrecognizedScheme = 12006,
    kErrNameNotResolved = 12007,
    kErrProtocolNotFound = 12008,
    kErrInvalidOption = 12009,
    kErrBadOptionLength = 12010,
    kErrOptionNotSettable = 12011,
    kErrShutdown = 12012,
    kErrIncorrectUserName = 12013,
    kErrIncorrectPassword = 12014,
    kErrLoginFailure = 12015,
    kErrInvalidOperation = 12016,
    kErrOperationCancelled = 12017,  // the handle was closed during the call
    kErrIncorrectHandleType = 12018,
    kErrIncorrectHandleState = 12019,
    kErrNotProxyRequest = 12020,
    kErrRegistryValueNotFound = 12021,
    kErrBadRegistryParameter = 12022,
    kErrNoDirectAccess = 12023,
    kErrNoContext = 12024,
    kErrNoCallback = 12025,
    kErrRequestPending = 12026,
    kErrIncorrectFormat = 12027,
    kErrItemNotFound = 12028,
    kErrCannotConnect = 12029,
    kErrConnectionAborted = 12030,
    kErrConnectionReset = 12031,
    kErrForceRetry = 12032,
    kErrInvalidProxyRequest = 12033,
    kErrInvalidCa = 12045,              // the server's certificate is not trusted
    kErrHeaderNotFound = 12150,         // read as absent, never recorded
    kErrInvalidServerResponse = 12152,
    kErrInvalidHeader = 12153,
    kErrRedirectFailed = 12156,         // more redirects than the bound
    kErrSecurityChannel = 12157,        // the TLS handshake failed
    // A libcurl failure the mapping does not name: this base plus curl's
    // own code, so the number still tells which failure it was.
    kErrCurlBase = 13000,
};

// A number of the Internet library's, or a libcurl failure past them.
constexpr bool IsInternetError(std::int32_t code) { return code >= kErrOutOfHandles; }
// kErrCurlBase plus a curl code.
constexpr bool IsCurlError(std::int32_t code) { return code > kErrCurlBase && code < kErrCurlBase + 1000; }

}  // namespace dl

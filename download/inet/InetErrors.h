#pragma once
// How the calls of this layer fail: each returns what it failed with (a
// number of the download road's vocabulary, texts/DownloadErrors.h) beside
// its value, as the platform library's last error once told it; and the one
// table that maps libcurl's failures onto those numbers.
#include <string>
#include <utility>
#include <vector>

#include "download/texts/DownloadErrors.h"

namespace inet {

// What a call failed with.
struct Error {
    dl::DownloadError code = dl::kErrNone;
    // With kErrExtendedError: the server's last reply line (at most 256
    // characters), which says more than the number.
    std::string serverReply;
};

// A call's value, or the error it failed with (in the manner of
// std::expected): true when it succeeded.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}
    Result(dl::DownloadError code) : error_{code, {}} {}

    bool has_value() const { return error_.code == dl::kErrNone; }
    explicit operator bool() const { return has_value(); }
    // kErrNone after a success.
    const Error& error() const { return error_; }

    // The value; a default one after a failure.
    T& value() & { return value_; }
    const T& value() const& { return value_; }
    T&& value() && { return std::move(value_); }
    T& operator*() & { return value_; }
    const T& operator*() const& { return value_; }
    T* operator->() { return &value_; }
    const T* operator->() const { return &value_; }
    T value_or(T fallback) const& { return has_value() ? value_ : std::move(fallback); }

private:
    T value_{};
    Error error_;
};

// A call without a value: only whether it succeeded.
template <>
class Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}
    Result(dl::DownloadError code) : error_{code, {}} {}

    bool has_value() const { return error_.code == dl::kErrNone; }
    explicit operator bool() const { return has_value(); }
    const Error& error() const { return error_; }

private:
    Error error_;
};

struct CurlErrorMapping {
    int curlCode;
    dl::DownloadError error;
    const char* meaning;
};

// The mapping, in curl's code order; docs/download-engine.md lists the same rows.
const std::vector<CurlErrorMapping>& curlErrorTable();

// The number for a curl result code. Send and receive failures are told
// apart by the socket's errno: a reset connection is 12031, any other 12030.
// A code the table does not name is kErrCurlBase plus the code.
dl::DownloadError errorFromCurl(int curlCode, long osErrno = 0);

// The server's reply line as an error of kErrExtendedError carries it.
Error extendedError(std::string serverReply);

}  // namespace inet

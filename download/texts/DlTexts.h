#pragma once
// The download engine's entries of the program's message table, the texts of
// the platform's error numbers and of HTTP statuses.
#include <string>
#include <string_view>

namespace dl {

inline constexpr const char* kTextNotConnected = "Not connected";
inline constexpr const char* kTextStopped = "Stopped";
inline constexpr const char* kTextPrecondFailed = "Precond failed";
inline constexpr const char* kTextInternetError = "Internet Error: %d";
inline constexpr const char* kTextHttpError = "HTTP Error: %d";
// The download component's limits.
inline constexpr const char* kTextSizeLimit = "Size limit";
inline constexpr const char* kTextUrlIsOlded = "URL is olded";
// The progress window's captions.
inline constexpr const char* kTextDownloadCaption = "Download";
inline constexpr const char* kTextDownloadLabel = "Download:";
inline constexpr const char* kTextTransferRate = "Transfer rate:";
inline constexpr const char* kTextTotalSize = "Total size:";
inline constexpr const char* kTextClose = "&Close";
inline constexpr const char* kTextCancel = "Cancel";

// The text for an error number: the table's, or "Internet Error: %d"; empty for 0.
std::string InternetErrorText(int error);
// The text for an HTTP status: the table's, or "HTTP Error: %d".
std::string HttpStatusText(int status);

}  // namespace dl

#pragma once
// The download road's entries of the program's message table, and the one
// table of the texts an item records with its code (DownloadErrors.h) and of
// HTTP statuses.
#include <cstdint>
#include <string>

#include "download/texts/DownloadErrors.h"

namespace dl {

// Texts of kErrServerRefused that no status gives.
inline constexpr const char* kTextNotConnected = "Not connected";
inline constexpr const char* kTextRedirectWithoutLocation = "Redirect without location";
inline constexpr const char* kTextInternetError = "Internet Error: %d";
inline constexpr const char* kTextHttpError = "HTTP Error: %d";
// The progress window's captions.
inline constexpr const char* kTextDownloadCaption = "Download";
inline constexpr const char* kTextDownloadLabel = "Download:";
inline constexpr const char* kTextTransferRate = "Transfer rate:";
inline constexpr const char* kTextTotalSize = "Total size:";
inline constexpr const char* kTextClose = "&Close";
inline constexpr const char* kTextCancel = "Cancel";

// The text an item records with a code: the table's own for the codes that
// have one (kErrStopped, the limits, the file failures, kErrPrecondFailed,
// the Internet library's numbers), "Internet Error: %d" for any other, and
// empty for kErrNone. (kErrException and kErrServerRefused take their texts
// from what happened.)
std::string InternetErrorText(std::int32_t code);
// The text for an HTTP status: the table's, or "HTTP Error: %d".
std::string HttpStatusText(int status);

}  // namespace dl

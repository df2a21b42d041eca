#pragma once
// The download engine's entries of the program's message table, and the
// texts of the platform's error numbers and of HTTP statuses.
#include <string>

namespace dl {

inline constexpr const char* kTextNotConnected = "Not connected";
inline constexpr const char* kTextStopped = "Stopped";
inline constexpr const char* kTextPrecondFailed = "Precond failed";
inline constexpr const char* kTextInternetError = "Internet Error: %d";
inline constexpr const char* kTextHttpError = "HTTP Error: %d";

// The text for an error number: the table's, or "Internet Error: %d"; empty for 0.
std::string InternetErrorText(int error);
// The text for an HTTP status: the table's, or "HTTP Error: %d".
std::string HttpStatusText(int status);

}  // namespace dl

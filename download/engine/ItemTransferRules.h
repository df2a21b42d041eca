#pragma once
// How the transfer of an item reads the words of an answer and the errors of
// a read: shared by the transfer and by its continuing after a stop.
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "download/values/DlDateTime.h"

namespace dl {

// Size is a 32-bit count: a body that would pass it fails instead of wrapping.
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::uint32_t>::max();

std::string TrimBlanks(const std::string& text);

// The date of a Last-Modified value; nothing when it is empty or unreadable.
std::optional<TDateTime> LastModifiedDate(const std::string& text);

bool IsHttpScheme(const std::string& scheme);

// A stop in the middle of a body that asking for the rest may mend: the
// connection dropped, was reset or fell silent past the data time limit.
bool IsBrokenLine(int error);

// An answer that says the server cannot serve the request now, and that a
// later attempt may get: 408, 429, 500, 502, 503, 504.
bool IsRetriedStatus(std::int32_t status);

// A request for the rest that got no answer for the same reasons, or could
// not reach the server at all: worth another attempt after a longer pause.
bool IsUnanswered(int error);

// A validator or address that can go into a request header as it is.
bool FitsInHeader(const std::string& text);

}  // namespace dl

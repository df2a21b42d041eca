#pragma once
// Fixed facts about the program that several windows show.
#include <cstdlib>
#include <string>

namespace app {

inline constexpr const char* kApplicationTitle = "BrelvoMP3";
inline constexpr const char* kHomePage = "http://brelvomp3.example.org/";
inline constexpr const char* kContactEmail = "brelvomp3@example.org";
inline constexpr const char* kDefaultSearchHost = "mp3search.example.org";

// The search service's host (host or host:port): BRELVOMP3_SEARCH_HOST when
// set and not empty, else the compiled-in default.
inline std::string searchHost() {
    const char* fromEnv = std::getenv("BRELVOMP3_SEARCH_HOST");
    return (fromEnv && *fromEnv) ? std::string(fromEnv) : std::string(kDefaultSearchHost);
}

}  // namespace app

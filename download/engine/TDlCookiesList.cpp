#include "download/engine/TDlCookiesList.h"

namespace dl {

std::string TDlCookiesList::Name(std::size_t index) const {
    const std::string& entry = entries_[index];
    const std::size_t eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(0, eq);
}

std::string TDlCookiesList::Value(std::size_t index) const {
    const std::string& entry = entries_[index];
    const std::size_t eq = entry.find('=');
    return eq == std::string::npos ? std::string() : entry.substr(eq + 1);
}

}  // namespace dl

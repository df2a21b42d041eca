// What the downloads list makes of a row another program wrote into the
// store: the bytes split into its fields. A row it trusts always names a file
// directly inside the list's folder, from an http or https address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/ListRowTrust.h"
#include "download/files/DlFileNames.h"

namespace {

// The fields, split at NUL bytes: title, url, folder, file name, path, state.
std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> parts(6);
    std::size_t field = 0;
    for (char c : text) {
        if (c == '\0' && field + 1 < parts.size()) {
            ++field;
        } else {
            parts[field] += c;
        }
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> f = fields(std::string(reinterpret_cast<const char*>(data), size));
    const std::string folder = "/home/user/downmp3/";
    store::ListEntry entry;
    entry.title = f[0];
    entry.url = f[1];
    // Half the inputs keep the list's folder, so that the other checks are reached.
    entry.folder = f[2].empty() ? folder : f[2];
    entry.fileName = f[3].empty() ? app::listFileName(entry.title, static_cast<int>(size % 4)) : f[3];
    entry.path = f[4] == "=" ? folder + dl::SafeDestinationName(entry.fileName) : f[4];
    entry.state = f[5].empty() ? store::ListState::Finished : store::ListState::Waiting;
    if (!app::isTrustedRow(entry, folder)) return 0;
    if (entry.folder != folder || !app::isWebAddress(entry.url)) std::abort();
    if (!entry.path.empty()) {
        if (entry.path.compare(0, folder.size(), folder) != 0) std::abort();
        const std::string name = entry.path.substr(folder.size());
        if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") std::abort();
        if (name.find('\0') != std::string::npos) std::abort();
        if (!app::hasOpenableExtension(entry.path)) std::abort();
    }
    return 0;
}

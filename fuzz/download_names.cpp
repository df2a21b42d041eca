// What the download component makes of an address from a web page: the
// default file name, the destination name of a song title, the page name of
// an HTML answer, and the progress window's label.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/files/DlFileNames.h"
#include "download/texts/DlProgressText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // A default name never leaves the download folder and is made of safe bytes only.
    const std::string name = dl::DefaultFileName(text);
    for (char c : name) {
        const bool safe = c == '.' || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9');
        if (!safe) std::abort();
    }
    if (dl::MakeSafeFileName(name) != name) std::abort();

    // A title keeps its length and loses its separators.
    const std::string destination = dl::SafeDestinationName(text);
    if (destination.size() != text.size() || destination.find_first_of("/\\") != std::string::npos) std::abort();

    const std::string page = dl::PageFileName(text);
    if (page != text && page != text + ".htm") std::abort();
    if (dl::PageFileName(page) != page) std::abort();  // once is enough

    const std::string label = dl::DownloadLabelText(text);
    const std::size_t from = label.find(" from ");
    if (from == std::string::npos) std::abort();
    dl::IsHtmlContentType(text);
    return 0;
}

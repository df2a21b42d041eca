// What the download component makes of an address from a web page: the
// default file name, the destination name of a song title, the page name of
// an HTML answer, and the progress window's label.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/files/DlFileErrors.h"
#include "download/files/DlFileNames.h"
#include "download/files/PartFile.h"
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

    // A title names a visible file in the folder, of none of the program's
    // own forms, without separators or control characters, and keeps its
    // extension; made safe again it stays as it is.
    const std::string destination = dl::SafeDestinationName(text);
    if (destination.find_first_of("/\\") != std::string::npos) std::abort();
    for (std::size_t i = 0; i < destination.size(); ++i) {
        const auto byte = static_cast<unsigned char>(destination[i]);
        if (byte < 0x20 || byte == 0x7F) std::abort();
        if (byte == 0xC2 && i + 1 < destination.size() && static_cast<unsigned char>(destination[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(destination[i + 1]) <= 0x9F)
            std::abort();
    }
    if (destination != "." && destination != ".." && !destination.empty() && destination.front() == '.') std::abort();
    if (dl::IsOwnFileName(destination)) std::abort();
    if (dl::SafeDestinationName(destination) != destination) std::abort();
    const std::size_t dot = text.rfind('.');
    if (text != "." && text != ".." && dot != std::string::npos) {
        const std::string extension = text.substr(dot);
        // An extension of plain characters is the name's too.
        bool plain = true;
        for (const char c : extension) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F &&
                                              c != '/' && c != '\\' && static_cast<unsigned char>(c) < 0x80;
        if (plain && (destination.size() < extension.size() ||
                      destination.compare(destination.size() - extension.size(), extension.size(), extension) != 0))
            std::abort();
    }
    // A name of a part file's form is refused whoever made it.
    if (dl::IsOwnFileName(text) && !dl::RefusedFileName(text)) std::abort();

    const std::string page = dl::PageFileName(text);
    if (page != text && page != text + ".htm") std::abort();
    if (dl::PageFileName(page) != page) std::abort();  // once is enough

    const std::string label = dl::DownloadLabelText(text);
    const std::size_t from = label.find(" from ");
    if (from == std::string::npos) std::abort();
    dl::IsHtmlContentType(text);
    return 0;
}

// pagelinks: reads a saved HTML page the way a download in page mode does
// and lists its title and links, or writes the page again with its links
// converted.
//
//   pagelinks [--local URL=PATH]... [--page-file PATH] [--regen none|online|offline] BASEURL FILE
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "download/html/TDlHTMLLink.h"
#include "download/html/TDlHTMLObject.h"
#include "tools/common/ToolIo.h"

namespace {

using tools::escapeField;
using tools::finishOutput;
using tools::readFile;
using tools::UsageError;
using tools::writeOut;

constexpr std::string_view kUsage =
    "usage: pagelinks [--local URL=PATH]... [--page-file PATH] [--regen none|online|offline] BASEURL FILE\n"
    "  Loads FILE as an HTML page fetched from BASEURL and prints 'title: ' and\n"
    "  its title, then one line per link: type, TAB, SourcePos, TAB, URL as\n"
    "  written, TAB, absolute URL, TAB, normalized URL (or '!' and the reason it\n"
    "  has none). TAB, LF, CR and backslash in a field are written \\t \\n \\r \\\\.\n"
    "  --regen prints the page text written again instead, byte for byte, with\n"
    "  links as written (none), absolute (online), or pointing at local copies\n"
    "  (offline). --local marks the links whose absolute URL is URL as local\n"
    "  copies in PATH (split at the last '='); --page-file names the page's own\n"
    "  file, from which relative paths are made.\n";

struct Options {
    std::vector<std::pair<std::string, std::string>> localFiles;
    std::string pageFile;
    std::optional<dl::TDlLinkConversion> regen;
    std::string baseUrl;
    std::string file;
    bool help = false;
};

dl::TDlLinkConversion parseConversion(std::string_view text) {
    if (text == "none") return dl::lcNone;
    if (text == "online") return dl::lcOnline;
    if (text == "offline") return dl::lcOffline;
    throw UsageError("--regen takes none, online or offline, got '" + std::string(text) + "'");
}

std::pair<std::string, std::string> parseLocal(std::string_view text) {
    const std::size_t equals = text.rfind('=');
    if (equals == std::string_view::npos || equals == 0)
        throw UsageError("--local takes URL=PATH, got '" + std::string(text) + "'");
    return {std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

Options parseArguments(int argc, char** argv) {
    Options options;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || !arg.starts_with("--")) {
            operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help") {
            options.help = true;
            return options;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        if (name != "--local" && name != "--page-file" && name != "--regen")
            throw UsageError("unknown option '" + std::string(arg) + "'");
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw UsageError(std::string(name) + " needs a value");
        }
        if (name == "--local") options.localFiles.push_back(parseLocal(value));
        if (name == "--page-file") options.pageFile = std::string(value);
        if (name == "--regen") options.regen = parseConversion(value);
    }
    if (operands.size() != 2) throw UsageError("BASEURL and FILE are needed, and nothing more");
    options.baseUrl = operands[0];
    options.file = operands[1];
    return options;
}

std::string linkLine(const dl::TDlHTMLObject& page, const dl::TDlHTMLLink& link) {
    std::string normalized;
    try {
        normalized = escapeField(page.normalizedUrl(link));
    } catch (const dl::UrlDecodeError& e) {
        normalized = "!" + escapeField(e.what());
    }
    return std::string(dl::linkTypeName(link.LinkType())) + '\t' + std::to_string(link.SourcePos()) + '\t' +
           escapeField(link.URL()) + '\t' + escapeField(page.absoluteUrl(link)) + '\t' + normalized + '\n';
}

int run(const Options& options) {
    const std::string text = readFile(options.file);
    dl::TDlHTMLObject page;
    page.loadPage(text);
    page.setBaseUrl(options.baseUrl);
    page.setPageFile(options.pageFile);
    if (options.regen) {
        for (dl::TDlHTMLLink& link : page.Links()) {
            const std::string absolute = page.absoluteUrl(link);
            for (const auto& [url, path] : options.localFiles) {
                if (absolute != url) continue;
                link.setLocal(true);
                link.setLocalFile(path);
            }
        }
        page.setLinkConversion(*options.regen);
        writeOut(page.pageText());
    } else {
        writeOut("title: " + escapeField(page.Title()) + '\n');
        for (const dl::TDlHTMLLink& link : page.Links()) writeOut(linkLine(page, link));
    }
    finishOutput();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::toolMain("pagelinks", kUsage, argc, argv, parseArguments, run); }

// cutpage: cuts the song links out of one saved result page, the way a
// search would, and lists them instead of storing them.
//
//   cutpage [--page-counter N] [--link-counter N] FILE
//
// Prints "title<TAB>address" per accepted link (raw page bytes, with TAB,
// LF, CR and backslash escaped), then "links: N, limit: yes|no".
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "search/LowerCase.h"
#include "search/PageCutter.h"
#include "tools/common/ToolIo.h"

namespace {

using tools::escapeField;
using tools::finishOutput;
using tools::readFile;
using tools::UsageError;
using tools::writeOut;

constexpr std::string_view kUsage =
    "usage: cutpage [--page-counter N] [--link-counter N] FILE\n"
    "  Cuts the song links out of a saved result page (GBK bytes) and prints\n"
    "  one line per link: title, TAB, address; then the link count and\n"
    "  whether the stop test fired. Counters default to page 1, link 0.\n";

struct Options {
    std::int32_t pageCounter = 1;
    std::int32_t linkCounter = 0;
    std::string file;
    bool help = false;
};

std::int32_t parseCounter(std::string_view option, std::string_view text) {
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        throw UsageError(std::string(option) + " needs a whole number from -2147483648 to 2147483647, got '" +
                         std::string(text) + "'");
    return value;
}

Options parseArguments(int argc, char** argv) {
    Options options;
    bool optionsEnded = false;
    std::optional<std::string> file;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            options.help = true;
            return options;
        }
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.starts_with("-") && arg.size() > 1) {
            const std::size_t equals = arg.find('=');
            const std::string_view name = arg.substr(0, equals);
            if (name != "--page-counter" && name != "--link-counter")
                throw UsageError("unknown option '" + std::string(arg) + "'");
            std::string_view value;
            if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                throw UsageError(std::string(name) + " needs a value");
            }
            (name == "--page-counter" ? options.pageCounter : options.linkCounter) = parseCounter(name, value);
            continue;
        }
        if (file) throw UsageError("only one FILE may be given");
        file = std::string(arg);
    }
    if (!file) throw UsageError("no FILE given");
    options.file = *file;
    return options;
}

int run(const Options& options) {
    std::string page = readFile(options.file);
    search::lowerCasePage(page);

    std::int32_t linkCounter = options.linkCounter;
    const search::CutOutcome outcome =
        search::cutLinks(page, options.pageCounter, linkCounter, [](std::string_view title, std::string_view url) {
            writeOut(escapeField(title) + '\t' + escapeField(url) + '\n');
        });
    writeOut("links: " + std::to_string(linkCounter) +
             ", limit: " + (outcome == search::CutOutcome::LimitReached ? "yes" : "no") + "\n");
    finishOutput();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return tools::toolMain("cutpage", kUsage, argc, argv, parseArguments, run); }

#pragma once
// What the text tools share: their usage errors, reading the input file,
// writing the output with its failures reported, escaped fields, and the
// frame of main (usage → 2 and --help → 0, a failure → 1 with its reason,
// a --help that cannot be written too).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/common/StandardStreams.h"

namespace tools {

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file's raw bytes; throws with the system's reason when it can't.
inline std::string readFile(const std::string& path) {
    struct Descriptor {
        int fd;
        ~Descriptor() {
            if (fd >= 0) ::close(fd);
        }
    } const file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) throw std::runtime_error("cannot open '" + path + "': " + std::strerror(errno));
    std::string bytes;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode)) bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("cannot read '" + path + "': " + std::strerror(errno));
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// Keeps one record on one line and the TAB unambiguous.
inline std::string escapeField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (char c : field) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
    return out;
}

inline void writeOut(std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) throw std::runtime_error(outputFailure(errno));
}

// A full disk or a closed pipe shows only when the output is flushed.
inline void finishOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw std::runtime_error(outputFailure(errno));
}

// Parses the arguments with `parse` (options.help set for --help) and runs
// `run` on them.
template <class Parse, class Run>
int toolMain(const char* name, std::string_view usage, int argc, char** argv, Parse parse, Run run) {
    guardStandardStreams();
    decltype(parse(argc, argv)) options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n%.*s", name, e.what(), static_cast<int>(usage.size()), usage.data());
        return 2;
    }
    try {
        if (options.help) {
            writeOut(usage);
            finishOutput();
            return 0;
        }
        return run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

}  // namespace tools

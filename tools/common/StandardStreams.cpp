#include "tools/common/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tools {

void guardStandardStreams() {
    static constexpr struct {
        int fd;
        int unusedDirection;
    } kStreams[] = {{STDIN_FILENO, O_WRONLY}, {STDOUT_FILENO, O_RDONLY}, {STDERR_FILENO, O_RDONLY}};
    for (const auto& stream : kStreams) {
        if (::fcntl(stream.fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number: this one, as the lower ones are open by now.
        if (::open("/dev/null", stream.unusedDirection) != stream.fd) {
            // Without it, the next file opened would take the number.
            std::fprintf(stderr, "cannot open /dev/null for the closed descriptor %d: %s\n", stream.fd,
                         std::strerror(errno));
            std::_Exit(1);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
}

std::string outputFailure(int error) {
    return std::string("cannot write to standard output: ") + std::strerror(error != 0 ? error : EIO);
}

bool finishStandardOutput(const char* tool) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    const int error = errno;
    std::fprintf(stderr, "%s: %s\n", tool, outputFailure(error).c_str());
    return false;
}

}  // namespace tools

#pragma once
// A loopback nginx for the whole-process comparisons: it serves the files of
// a folder with sendfile, as a real web server would, so that dlget, netget,
// curl and aria2c meet the same server. "/" serves the folder at full speed,
// "/slow/" the same files with each connection held to a rate.
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace benchsupport {

class NginxServer {
public:
    // Starts nginx on 127.0.0.1 (a free port) serving `root`; `slowBytesPerSecond`
    // holds each connection of "/slow/". Throws std::runtime_error when nginx
    // is not installed or does not come up within 10 s.
    NginxServer(const std::filesystem::path& root, std::size_t slowBytesPerSecond);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::string url(const std::string& path) const;

private:
    std::filesystem::path dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

// Whether PROGRAM can be found on PATH.
bool onPath(const std::string& program);

}  // namespace benchsupport

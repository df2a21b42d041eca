#include "tests/support/PrivateSessionBus.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace testsupport {
namespace {

namespace fs = std::filesystem;

fs::path onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string list = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const fs::path candidate = fs::path(list.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
    const fs::path daemon = onPath("dbus-daemon");
    if (daemon.empty()) {
        whyNot_ = "dbus-daemon is not installed";
        return;
    }
    const fs::path config = dir_.path() / "session.conf";
    std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>session</type>\n"
                             "  <listen>unix:path="
                          << (dir_.path() / "bus").string()
                          << "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n";
    daemon_ = std::make_unique<ToolProcess>(
        daemon, std::vector<std::string>{"--config-file=" + config.string(), "--print-address", "--nofork",
                                         "--nopidfile"});
    if (!daemon_->started()) {
        whyNot_ = "dbus-daemon did not start";
        return;
    }
    // It prints its address once it listens.
    const bool listening = waitFor(
        [this] {
            return daemon_->out().find('\n') != std::string::npos || daemon_->waitForExit(std::chrono::milliseconds(0));
        },
        std::chrono::seconds(20));
    const std::string out = daemon_->out();
    if (!listening || out.find('\n') == std::string::npos) {
        whyNot_ = "dbus-daemon gave no address: " + daemon_->err();
        return;
    }
    address_ = out.substr(0, out.find('\n'));
}

PrivateSessionBus::~PrivateSessionBus() = default;

}  // namespace testsupport

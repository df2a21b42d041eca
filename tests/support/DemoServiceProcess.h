#pragma once
// The demo-service binary (built beside the test binary) as a child process.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class DemoServiceProcess {
public:
    // Starts demo-service with `args`; SIGKILLed at the latest when dropped.
    explicit DemoServiceProcess(std::vector<std::string> args = {});
    ~DemoServiceProcess();
    DemoServiceProcess(const DemoServiceProcess&) = delete;
    DemoServiceProcess& operator=(const DemoServiceProcess&) = delete;

    // The first line the service prints, read within the bound.
    std::string firstLine();
    // The port of the address the service printed first (reads it when not
    // read yet); 0 when it printed none.
    int port();

    // Sends `signal` and waits, bounded, for the exit; the exit status, or
    // nothing when the process did not end in time.
    std::optional<int> stopWith(int signal);
    std::optional<int> reap();

    static constexpr int kWaitMs = 5000;

private:
    pid_t pid_ = -1;
    int stdout_ = -1;
    std::optional<std::string> firstLine_;
};

}  // namespace testsupport

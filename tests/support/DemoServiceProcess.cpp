#include "tests/support/DemoServiceProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

extern char** environ;

namespace testsupport {

DemoServiceProcess::DemoServiceProcess(std::vector<std::string> args) {
    const auto exe = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "demo-service";
    args.insert(args.begin(), exe.string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    stdout_ = out[0];
}

DemoServiceProcess::~DemoServiceProcess() {
    if (pid_ > 0 && !stopWith(SIGTERM)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
}

std::string DemoServiceProcess::firstLine() {
    if (firstLine_) return *firstLine_;
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    char c;
    // A slow start (a loaded machine, a sanitizer build) is waited for up to
    // the deadline, not just one short poll.
    while (stdout_ >= 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd p{stdout_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        if (::read(stdout_, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    firstLine_ = line;
    return line;
}

int DemoServiceProcess::port() {
    std::smatch m;
    const std::string line = firstLine();
    if (!std::regex_match(line, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/)"))) return 0;
    return std::stoi(m[1]);
}

std::optional<int> DemoServiceProcess::stopWith(int signal) {
    if (pid_ <= 0) return std::nullopt;
    ::kill(pid_, signal);
    return reap();
}

std::optional<int> DemoServiceProcess::reap() {
    for (int waited = 0; waited < kWaitMs; waited += 20) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

}  // namespace testsupport

#include "tests/support/ToolProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace testsupport {

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

ToolProcess::ToolProcess(const fs::path& tool, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const fs::path& cwd, ToolStreams streams) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    // A pipe's reading end is closed before the tool starts, its writing end
    // once the tool has it.
    std::vector<int> writingEnds;
    const auto direct = [&](int fd, ToolStream stream, const std::string& file) {
        switch (stream) {
            case ToolStream::Captured:
                posix_spawn_file_actions_addopen(&actions, fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                break;
            case ToolStream::DevFull:
                posix_spawn_file_actions_addopen(&actions, fd, "/dev/full", O_WRONLY, 0);
                break;
            case ToolStream::ClosedPipe: {
                int ends[2];
                if (::pipe2(ends, O_CLOEXEC) != 0) break;
                ::close(ends[0]);
                writingEnds.push_back(ends[1]);
                posix_spawn_file_actions_adddup2(&actions, ends[1], fd);
                break;
            }
            case ToolStream::Closed:
                posix_spawn_file_actions_addclose(&actions, fd);
                break;
        }
    };
    direct(1, streams.out, dir_.file("out"));
    direct(2, streams.err, dir_.file("err"));
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> words{tool.string()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment(env);
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, tool.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (const int end : writingEnds) ::close(end);
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
    }
}

void ToolProcess::signal(int number) const {
    if (pid_ > 0 && !ended_) ::kill(pid_, number);
}

bool ToolProcess::waitForExit(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return false;
    if (ended_) return true;
    ended_ = waitFor([this] { return ::waitpid(pid_, &status_, WNOHANG) == pid_; }, limit);
    return ended_;
}

bool ToolProcess::exited() const { return ended_ && WIFEXITED(status_); }
int ToolProcess::exitCode() const { return exited() ? WEXITSTATUS(status_) : -1; }
int ToolProcess::termSignal() const { return ended_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }
std::string ToolProcess::out() const { return readAll(dir_.path() / "out"); }
std::string ToolProcess::err() const { return readAll(dir_.path() / "err"); }

}  // namespace testsupport

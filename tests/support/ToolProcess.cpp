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
                         const std::vector<std::string>& env, const fs::path& cwd) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    const std::string out = dir_.file("out"), err = dir_.file("err");
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    if (posix_spawn(&pid_, tool.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
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

#include "bench/support/WindowChild.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <QTimer>

#include "app/FontSubstitutions.h"
#include "bench/support/Figures.h"
#include "search/pipeline/NetHttpPageFetcher.h"

namespace benchsupport {

namespace fs = std::filesystem;

std::optional<WindowChildArgs> windowChildArgs(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--window") != 0) return std::nullopt;
    WindowChildArgs child;
    child.forkedAtNs = std::atoll(argv[2]);
    child.args.assign(argv + 3, argv + argc);
    return child;
}

bool WindowProcess::prepareApplication() {
    QApplication::setApplicationName(QStringLiteral("BrelvoMP3"));
    app::installFontSubstitutions();
    return true;
}

WindowProcess::WindowProcess(const std::string& storePath, std::chrono::milliseconds limit) {
    // As main() takes them: a signal closes the window and ends the loop.
    try {
        termination_ = std::make_unique<platform::TerminationSignals>([this](int) {
            if (form_) form_->close();
            QCoreApplication::quit();
        });
    } catch (const std::exception&) {
        // Without them the signals keep their default effect, as in the program.
    }
    form_ = std::make_unique<app::TForm1>(storePath, std::make_unique<search::NetHttpPageFetcher>());
    about_ = std::make_unique<app::TOKBottomDlg>(form_.get());
    form_->setAboutDialog(about_.get());
    QTimer::singleShot(limit, [] { QCoreApplication::exit(3); });
}

WindowProcess::~WindowProcess() {
    form_->close();
    handoff_.shutdown();
    form_->setAboutDialog(nullptr);
    about_.reset();
    form_.reset();
}

int WindowProcess::run() {
    form_->show();
    return QApplication::exec();
}

bool FirstPaint::eventFilter(QObject*, QEvent* event) {
    if (event->type() == QEvent::Paint && then) {
        QTimer::singleShot(0, then);
        then = nullptr;
    }
    return false;
}

WindowChildren::WindowChildren(const char* bench) {
    fs::permissions(runtime_.path(), fs::perms::owner_all);
    if (!std::getenv("XDG_RUNTIME_DIR")) ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    // Inherited by every window child.
    ::setenv("XDG_CONFIG_HOME", settings_.path().c_str(), 1);
    demo_.emplace();
    port_ = demo_->port();
    if (port_ == 0)
        std::fprintf(stderr, "%s: demo-service did not start (it is looked for beside this binary)\n", bench);
}

WindowChildren::Run WindowChildren::run(const std::vector<std::string>& args, const std::string& workDir,
                                        std::optional<std::chrono::milliseconds> signalAfter) const {
    Run result;
    int out[2];
    if (::pipe(out) != 0) return result;
    std::fflush(stdout);
    const std::int64_t forkedAt = nowNs();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) std::_Exit(126);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("BRELVOMP3_SEARCH_HOST", ("127.0.0.1:" + std::to_string(port_)).c_str(), 1);
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        std::vector<std::string> all = {self, "--window", std::to_string(forkedAt)};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(self.c_str(), argv.data());
        std::_Exit(127);
    }
    ::close(out[1]);
    Clock::time_point signalled;
    if (signalAfter) {
        std::this_thread::sleep_for(*signalAfter);
        signalled = Clock::now();
        ::kill(pid, SIGTERM);
    }
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (signalAfter) result.endAfterSignal = secondsSince(signalled);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.ok) std::fprintf(stderr, "  the window run failed (status %d): %s\n", status, result.output.c_str());
    return result;
}

}  // namespace benchsupport

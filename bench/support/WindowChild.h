#pragma once
// The main window measured in a process of its own. A benchmark runs its own
// binary again as `BENCH --window FORKED_AT_NS ARGS...`: the child builds the
// window as the program's main() does and prints its figures on standard
// output; the parent reads them.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QObject>

#include "app/QtTranslations.h"
#include "app/TForm1.h"
#include "app/TOKBottomDlg.h"
#include "platform/ui/TerminationSignals.h"
#include "platform/ui/UiHandoff.h"
#include "tests/support/DemoServiceProcess.h"
#include "tests/support/TempDir.h"

namespace benchsupport {

// ---- the child

// What the parent handed the child: when it forked (the steady clock, in
// nanoseconds) and the benchmark's own arguments.
struct WindowChildArgs {
    std::int64_t forkedAtNs = 0;
    std::vector<std::string> args;
};
// The child's arguments when this process is one, else nothing.
std::optional<WindowChildArgs> windowChildArgs(int argc, char** argv);

// The window over the store at `storePath`, built as main() builds it
// (offscreen; the program's own page fetcher; SIGTERM, SIGINT and SIGHUP
// close the window and end the loop). The loop is ended with status 3 after
// `limit`, so a run that hangs still ends.
class WindowProcess {
public:
    WindowProcess(const std::string& storePath, std::chrono::milliseconds limit);
    ~WindowProcess();
    WindowProcess(const WindowProcess&) = delete;
    WindowProcess& operator=(const WindowProcess&) = delete;

    app::TForm1& form() { return *form_; }
    // Shows the window and runs the loop; its status.
    int run();

private:
    // The application's name and the font substitutions, before the translations.
    static bool prepareApplication();

    int argc_ = 1;
    char name_[10] = "brelvomp3";
    char* argv_[2] = {name_, nullptr};
    QApplication application_{argc_, argv_};
    bool prepared_ = prepareApplication();
    app::QtTranslations qtTranslations_;
    platform::UiHandoff handoff_;
    std::unique_ptr<platform::TerminationSignals> termination_;
    std::unique_ptr<app::TForm1> form_;
    std::unique_ptr<app::TOKBottomDlg> about_;
};

// Calls `then` once, right after the first paint of the widget it filters
// (the paint ends inside the event this filter sees; a zero timer runs right
// after it).
struct FirstPaint : QObject {
    std::function<void()> then;
    bool eventFilter(QObject*, QEvent* event) override;
};

// ---- the parent

// Runs the window children of one benchmark: Qt's private runtime folder
// (without one every child says so) and the demo service as their search
// host.
class WindowChildren {
public:
    // `bench` names the benchmark in what it says.
    explicit WindowChildren(const char* bench);
    WindowChildren(const WindowChildren&) = delete;
    WindowChildren& operator=(const WindowChildren&) = delete;

    // Whether the demo service started (it is looked for beside this
    // binary); said on standard error when it did not.
    bool ready() const { return port_ != 0; }
    int port() const { return port_; }

    struct Run {
        bool ok = false;             // it ended with status 0
        std::string output;          // what it printed on standard output
        double endAfterSignal = -1;  // seconds from SIGTERM to its end, when sent
    };
    // Runs this binary as a window child with `args`, in `workDir` when one
    // is given. With `signalAfter`, the child is sent SIGTERM then and the
    // time it takes to end is measured. A failed run is said on standard
    // error, with what it printed.
    Run run(const std::vector<std::string>& args, const std::string& workDir = {},
            std::optional<std::chrono::milliseconds> signalAfter = {}) const;

private:
    testsupport::TempDir runtime_;
    // The windows' settings (ProgramSettings.h) go here, never to the user's.
    testsupport::TempDir settings_;
    std::optional<testsupport::DemoServiceProcess> demo_;
    int port_ = 0;
};

}  // namespace benchsupport

// Program entry: the main window over the song store in the working
// directory, the about dialog, and the UI loop.
#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

#include "app/DialogFrames.h"
#include "app/FontSubstitutions.h"
#include "app/QtTranslations.h"
#include "app/TForm1.h"
#include "app/TOKBottomDlg.h"
#include "platform/ui/TerminationSignals.h"
#include "platform/ui/UiHandoff.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/SongStore.h"

namespace {

QStringList rawArguments(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Before QApplication exists Qt knows no program name; name it the same way
// in both passes.
QString usageText(const QCommandLineParser& parser) {
    return parser.helpText().replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                                     QStringLiteral("Usage: brelvomp3"));
}

// The program takes no arguments of its own but --help and --version. They
// are answered before the window system is touched, so they work without a
// display; anything else is judged after QApplication has taken its own
// options (-platform and the like). Returns the exit status when the program
// is not to start.
std::optional<int> handleCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                     bool final) {
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(usageText(parser)), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("BrelvoMP3 %s\n", BRELVO_VERSION);
        return 0;
    }
    if (final && (!parsed || !parser.positionalArguments().isEmpty())) {
        const QString what = parsed ? QStringLiteral("unexpected argument: ") + parser.positionalArguments().first()
                                    : parser.errorText();
        std::fprintf(stderr, "brelvomp3: %s\n%s", qPrintable(what), qPrintable(usageText(parser)));
        return 2;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Searches an MP3 search service and downloads songs. It keeps its song store\n"
        "mysong.mdb in the working directory (it never creates it) and downloads into\n"
        "downmp3/ there. BRELVOMP3_SEARCH_HOST names the search service (host or\n"
        "host:port)."));
    parser.addHelpOption();
    parser.addVersionOption();
    if (auto status = handleCommandLine(parser, rawArguments(argc, argv), false)) return *status;

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrelvoMP3"));
    QApplication::setApplicationVersion(QStringLiteral(BRELVO_VERSION));
    if (auto status = handleCommandLine(parser, QApplication::arguments(), true)) return *status;
    app::installFontSubstitutions();
    app::QtTranslations qtTranslations;
    app::DialogFrames dialogFrames;
    application.installEventFilter(&dialogFrames);
    platform::UiHandoff handoff;

    std::unique_ptr<app::TForm1> form;
    // Asked to end from outside, the program ends as if its window were
    // closed: a download in progress is cancelled and nothing half-written
    // stays behind. Quitting also ends a dialog that may be open. A signal
    // is handled once the event loop runs, when the window exists.
    std::optional<platform::TerminationSignals> termination;
    bool terminated = false;
    try {
        termination.emplace([&form, &terminated](int) {
            terminated = true;
            if (form) {
                form->close();
                QCoreApplication::quit();
            } else {
                // Before the main loop runs (the start-up error box) quitting
                // does nothing: every loop that runs, the box's, is ended.
                QCoreApplication::exit(1);
            }
        });
    } catch (const std::exception&) {
        // Without them the signals keep their default effect; the program runs all the same.
    }
    try {
        form = std::make_unique<app::TForm1>(store::SongStore::kDefaultFile, std::make_unique<search::NetHttpPageFetcher>());
    } catch (const std::exception& e) {
        // The program cannot run without its store. Said on standard error
        // too, for a program started from a terminal or a script.
        std::fprintf(stderr, "brelvomp3: %s\n", e.what());
        std::fflush(stderr);
        if (!terminated) QMessageBox::critical(nullptr, QStringLiteral("BrelvoMP3"), QString::fromStdString(e.what()));
        return 1;
    }
    // Parented to the main window, which would delete it along with its own
    // children: it must go first, and never live on the stack.
    auto about = std::make_unique<app::TOKBottomDlg>(form.get());
    form->setAboutDialog(about.get());
    form->show();
    const int status = application.exec();
    handoff.shutdown();
    form->setAboutDialog(nullptr);
    about.reset();
    form.reset();
    return status;
}

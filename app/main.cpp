// Program entry: the main window over the song store in the working
// directory, the about dialog, and the UI loop.
#include <memory>

#include <QApplication>
#include <QMessageBox>

#include "app/FontSubstitutions.h"
#include "app/QtTranslations.h"
#include "app/TForm1.h"
#include "app/TOKBottomDlg.h"
#include "platform/ui/UiHandoff.h"
#include "search/pipeline/NetHttpPageFetcher.h"
#include "store/SongStore.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("BrelvoMP3"));
    app::installFontSubstitutions();
    app::QtTranslations qtTranslations;
    platform::UiHandoff handoff;

    std::unique_ptr<app::TForm1> form;
    try {
        form = std::make_unique<app::TForm1>(store::SongStore::kDefaultFile, std::make_unique<search::NetHttpPageFetcher>());
    } catch (const std::exception& e) {
        // The program cannot run without its store.
        QMessageBox::critical(nullptr, QStringLiteral("BrelvoMP3"), QString::fromStdString(e.what()));
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

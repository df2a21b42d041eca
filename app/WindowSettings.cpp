#include "app/WindowSettings.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>

#include "app/ProgramSettings.h"

namespace app {
namespace {

const QString kSizeKey = QStringLiteral("MainWindow/size");
const QString kMaximizedKey = QStringLiteral("MainWindow/maximized");
const QString kColumnsKey = QStringLiteral("DownloadList/columnWidths");

}  // namespace

QSize keptWindowSize(const QSize& least, const QSize& most) {
    const QVariant kept = programSettings()->value(kSizeKey);
    const QSize size = kept.canConvert<QSize>() ? kept.toSize() : QSize();
    if (!size.isValid()) return least;
    const QSize upper = most.expandedTo(least);
    return {std::clamp(size.width(), least.width(), upper.width()),
            std::clamp(size.height(), least.height(), upper.height())};
}

bool keptMaximized() { return programSettings()->value(kMaximizedKey, false).toBool(); }

void keepWindowSize(const QSize& size, bool maximized) {
    const auto settings = programSettings();
    if (size.isValid()) settings->setValue(kSizeKey, size);
    settings->setValue(kMaximizedKey, maximized);
}

QList<int> keptListColumnWidths(const QList<int>& defaults) {
    const QVariant value = programSettings()->value(kColumnsKey);
    // The file holds a list as a list of texts, and a list of one as a text.
    const bool isList = value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList;
    const QVariantList kept = isList ? value.toList() : value.isValid() ? QVariantList{value} : QVariantList{};
    QList<int> widths = defaults;
    for (qsizetype i = 0; i < std::min(kept.size(), widths.size()); ++i) {
        bool isNumber = false;
        const int width = kept[i].toInt(&isNumber);
        if (isNumber && width >= kLeastColumnWidth && width <= kMostColumnWidth) widths[i] = width;
    }
    return widths;
}

void keepListColumnWidths(const QList<int>& widths) {
    QVariantList list;
    for (int width : widths) list << width;
    programSettings()->setValue(kColumnsKey, list);
}

void restoreWindowSize(QWidget& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const QSize most = screen ? screen->availableGeometry().size() : window.minimumSize();
    window.resize(keptWindowSize(window.minimumSize(), most));
    if (keptMaximized()) window.setWindowState(window.windowState() | Qt::WindowMaximized);
}

void keepWindowSizeOf(const QWidget& window) {
    // Maximized, the size it comes back to is the one to keep.
    const QSize normal = window.isMaximized() ? window.normalGeometry().size() : window.size();
    keepWindowSize(normal.isValid() && !normal.isEmpty() ? normal.expandedTo(window.minimumSize()) : QSize(),
                   window.isMaximized());
}

}  // namespace app

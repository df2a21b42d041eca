#include "app/ListRowTrust.h"

#include <sys/stat.h>

#include <QString>
#include <QUrl>

#include "download/files/DlFileNames.h"

namespace app {
namespace {

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

// Whether the name is one listFileName gives for this title: "<title>.mp3",
// or "<title> (n).mp3" with n >= 2 written without leading zeros.
bool madeFromTitle(const std::string& fileName, const std::string& title) {
    if (fileName == listFileName(title, 1)) return true;
    const std::string head = title + " (", tail = ").mp3";
    if (!startsWith(fileName, head) || !endsWith(fileName, tail)) return false;
    const std::string digits = fileName.substr(head.size(), fileName.size() - head.size() - tail.size());
    if (digits.empty() || digits.size() > 9 || digits.front() == '0') return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    return std::stoi(digits) >= 2;
}

}  // namespace

bool isWebAddress(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url).trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !parsed.host().isEmpty();
}

std::string listFileName(const std::string& title, int n) {
    return n <= 1 ? title + ".mp3" : title + " (" + std::to_string(n) + ").mp3";
}

bool isTrustedRow(const store::ListEntry& entry, const std::string& folder) {
    if (entry.folder != folder || !madeFromTitle(entry.fileName, entry.title) || !isWebAddress(entry.url))
        return false;
    // The download makes the name safe; a page answer adds ".htm".
    const std::string file = folder + dl::SafeDestinationName(entry.fileName);
    if (entry.path == file) return true;
    if (entry.state == store::ListState::Finished) return entry.path == dl::PageFileName(file);
    // A row that has never finished may not have a path yet.
    return entry.path.empty();
}

bool hasOpenableExtension(const std::string& path) {
    const QString name = QString::fromStdString(path);
    return name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive) ||
           name.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
}

std::string fileIdentity(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size);
}

}  // namespace app

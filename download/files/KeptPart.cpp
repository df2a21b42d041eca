#include "download/files/KeptPart.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "download/files/DiskCalls.h"
#include "download/files/FolderLock.h"
#include "download/values/DecimalNumber.h"
#include "download/values/PercentCoding.h"

namespace dl {

namespace {

// Form 1: a kept part file (as the earlier version wrote them too); form 2:
// one being written, with the boot.
constexpr std::string_view kFirstLine = "BrelvoMP3 kept part 1";
constexpr std::string_view kFirstLineWriting = "BrelvoMP3 kept part 2";
constexpr std::string_view kLastLine = "end";
constexpr std::size_t kMaxBootBytes = 64;
bool isPlain(unsigned char c) { return IsVisibleNonPercentByte(c); }

std::string encoded(std::string_view value) { return PercentEncode(value, isPlain); }

// The part files this program kept, by device and inode (a name may be
// written anew by another program), with the size and the time of the last
// write they had then: a kept file deleted meanwhile (a folder removed) may
// leave its inode to a file that is no one's kept part. Until one of its
// downloads takes one up.
using FileKey = std::tuple<dev_t, ino_t, off_t, std::int64_t, long>;
std::optional<FileKey> fileKey(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return FileKey{info.st_dev, info.st_ino, info.st_size, static_cast<std::int64_t>(info.st_mtim.tv_sec),
                   info.st_mtim.tv_nsec};
}

std::mutex keptHereMutex;
std::set<FileKey>& keptHereFiles() {
    static std::set<FileKey> files;
    return files;
}

void rememberKeptHere(int fd) {
    const auto key = fileKey(fd);
    const std::lock_guard lock(keptHereMutex);
    if (key) keptHereFiles().insert(*key);
}

bool takeKeptHere(int fd) {
    const auto key = fileKey(fd);
    const std::lock_guard lock(keptHereMutex);
    return key && keptHereFiles().erase(*key) > 0;
}

std::optional<std::string> decoded(std::string_view text) {
    std::string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '%') {
            // Written upper-case only: anything else was not written here.
            const auto c = EscapedByteAt(text, i, HexDigits::UpperCase);
            // Each byte has one way of being written, so a file reads back
            // only as it was written.
            if (!c || isPlain(*c)) return std::nullopt;
            value += static_cast<char>(*c);
            i += 2;
        } else if (isPlain(byte)) {
            value += static_cast<char>(byte);
        } else {
            return std::nullopt;
        }
    }
    return value;
}

// A plain decimal number without leading zeros that fits in 64 bits.
std::optional<std::uint64_t> number(std::string_view text) {
    if (text.size() > 1 && text[0] == '0') return std::nullopt;
    return ParseDecimal(text, DecimalOverflow::Refuse);
}

bool hasControlBytes(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < ' ' || byte == 0x7F) return true;
    }
    return false;
}

// Takes the next line (without its LF) off `text`; nothing when no LF ends it.
std::optional<std::string_view> takeLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return line;
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (IsOwnFileName(name)) names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

int writeIdentityFile(const std::string& path, const std::string& text) {
    // Made anew, never opened as found: a name planted there (a hard link to
    // a file elsewhere) must not be written through.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    int error = 0;
    std::size_t done = 0;
    while (done < text.size() && error == 0) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            error = n < 0 ? errno : EIO;
        else
            done += static_cast<std::size_t>(n);
    }
    if (error == 0) error = diskCalls().dataSync(fd, path);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) ::unlink(path.c_str());
    return error;
}

// The kept part file's identity, when it is one that may still be
// continued: with bytes to take up, written lately.
std::optional<PartIdentity> worthKeeping(const PartFile& file, std::time_t now) {
    auto identity = ReadPartIdentity(file.path());
    if (!identity || identity->held > file.size() || now - file.modified() > kKeptPartLifetime ||
        TrustedBytes(*identity, file.size(), CurrentBootId()) == 0)
        return std::nullopt;
    return identity;
}

std::string readBootId() {
    const int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[kMaxBootBytes + 1];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) return {};
    std::string boot(buffer, static_cast<std::size_t>(n));
    while (!boot.empty() && (boot.back() == '\n' || boot.back() == ' ')) boot.pop_back();
    // Only what an identity can hold as it is.
    if (boot.size() > kMaxBootBytes || hasControlBytes(boot) || boot.find(' ') != std::string::npos) return {};
    return boot;
}

}  // namespace

std::string EncodePartIdentity(const PartIdentity& identity) {
    const bool writing = !identity.boot.empty();
    std::string text(writing ? kFirstLineWriting : kFirstLine);
    text += "\nurl=" + encoded(identity.url);
    text += "\nname=" + encoded(identity.name);
    text += "\netag=" + encoded(identity.etag);
    text += "\nlast-modified=" + encoded(identity.lastModified);
    text += "\nlength=" + std::to_string(identity.length);
    text += "\nheld=" + std::to_string(identity.held);
    if (writing) text += "\nboot=" + encoded(identity.boot);
    text += "\n";
    text += kLastLine;
    text += "\n";
    return text;
}

std::optional<PartIdentity> ParsePartIdentity(std::string_view text) {
    if (text.size() > kMaxIdentityBytes) return std::nullopt;
    const auto first = takeLine(text);
    if (!first || (*first != kFirstLine && *first != kFirstLineWriting)) return std::nullopt;
    const bool writing = *first == kFirstLineWriting;
    PartIdentity identity;
    // The value of the next line, which must be "key=value" (the value may be empty).
    const auto field = [&text](std::string_view key) -> std::optional<std::string_view> {
        const auto line = takeLine(text);
        if (!line || line->size() < key.size() + 1 || line->substr(0, key.size()) != key || (*line)[key.size()] != '=')
            return std::nullopt;
        return line->substr(key.size() + 1);
    };
    const auto url = field("url");
    const auto name = url ? field("name") : std::nullopt;
    const auto etag = name ? field("etag") : std::nullopt;
    const auto lastModified = etag ? field("last-modified") : std::nullopt;
    const auto length = lastModified ? field("length") : std::nullopt;
    const auto held = length ? field("held") : std::nullopt;
    if (!held) return std::nullopt;
    const auto boot = writing ? field("boot") : std::optional<std::string_view>(std::string_view());
    if (!boot) return std::nullopt;
    const auto last = takeLine(text);
    if (!last || *last != kLastLine || !text.empty()) return std::nullopt;

    const auto urlValue = decoded(*url);
    const auto nameValue = decoded(*name);
    const auto etagValue = decoded(*etag);
    const auto modifiedValue = decoded(*lastModified);
    const auto lengthValue = number(*length);
    const auto heldValue = number(*held);
    const auto bootValue = decoded(*boot);
    if (!urlValue || !nameValue || !etagValue || !modifiedValue || !lengthValue || !heldValue || !bootValue)
        return std::nullopt;
    identity.url = *urlValue;
    identity.name = *nameValue;
    identity.etag = *etagValue;
    identity.lastModified = *modifiedValue;
    identity.length = *lengthValue;
    identity.held = *heldValue;
    identity.boot = *bootValue;
    if (identity.url.empty() || hasControlBytes(identity.url) || hasControlBytes(identity.etag) ||
        hasControlBytes(identity.lastModified) || hasControlBytes(identity.boot))
        return std::nullopt;
    // Form 2 has a boot, and only form 2.
    if (writing && (identity.boot.empty() || identity.boot.size() > kMaxBootBytes)) return std::nullopt;
    if (identity.name.empty() || identity.name == "." || identity.name == ".." ||
        identity.name.find('/') != std::string::npos || identity.name.find('\0') != std::string::npos)
        return std::nullopt;
    if ((identity.held == 0 && !writing) || (identity.length != 0 && identity.held >= identity.length))
        return std::nullopt;
    return identity;
}

const std::string& CurrentBootId() {
    static const std::string boot = readBootId();
    return boot;
}

std::uint64_t TrustedBytes(const PartIdentity& identity, std::uint64_t size, const std::string& boot) {
    std::uint64_t trusted = !identity.boot.empty() && identity.boot == boot ? size : std::min(identity.held, size);
    if (identity.length != 0 && trusted >= identity.length) trusted = identity.length - 1;
    return trusted;
}

std::optional<PartIdentity> ReadPartIdentity(const std::string& partPath) {
    const int fd = ::open(IdentityPathOf(partPath).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::string text;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<std::uint64_t>(info.st_size) <= kMaxIdentityBytes;
    if (ok) {
        // One more byte than allowed: a file that grew meanwhile is too long too.
        text.resize(kMaxIdentityBytes + 1);
        std::size_t done = 0;
        for (;;) {
            const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
            if (done == text.size()) break;
        }
        text.resize(done);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return ParsePartIdentity(text);
}

int SweepPartFiles(const std::string& folder, const AskedDownload* asked, std::time_t now) {
    const FolderLock folderLock(folder);
    int removed = 0;
    const std::vector<std::string> names = namesIn(folder);
    std::unique_ptr<PartFile> best;  // of those kept for the asked download
    std::uint64_t bestHeld = 0;
    for (const std::string& name : names) {
        if (!IsPartFileName(name)) continue;
        std::unique_ptr<PartFile> file = PartFile::OpenLeft(inFolder(folder, name), false);
        if (!file) continue;  // held by a running program, or gone
        const auto identity = worthKeeping(*file, now);
        bool keep = identity.has_value();
        if (keep && asked) {
            const bool sameUrl = identity->url == asked->url;
            const bool sameName = identity->name == asked->name;
            const std::uint64_t held = TrustedBytes(*identity, file->size(), CurrentBootId());
            if (sameUrl != sameName) {
                keep = false;
            } else if (sameUrl && !asked->continuing) {
                keep = false;
            } else if (sameUrl) {
                if (!best || held > bestHeld) {
                    std::swap(best, file);
                    bestHeld = held;
                }
                keep = !file;  // the one it replaced as the best, if any, goes
            }
        }
        if (!keep && file && file->Remove() == 0) ++removed;
    }
    best.reset();  // its lock: a ".next" beside it is no program's
    for (const std::string& name : names) {
        const std::string path = inFolder(folder, name);
        if (IsIdentityFileName(name)) {
            struct stat info {};
            if (::lstat(PartPathOfIdentity(path).c_str(), &info) != 0 && errno == ENOENT) ::unlink(path.c_str());
        } else if (IsNextIdentityFileName(name)) {
            // One a program that ended never renamed; one being written now
            // belongs to a part file its program holds.
            struct stat info {};
            const std::string part = PartPathOfIdentity(path);
            if ((::lstat(part.c_str(), &info) != 0 && errno == ENOENT) || PartFile::OpenLeft(part, false))
                ::unlink(path.c_str());
        }
    }
    return removed;
}

std::optional<KeptPart> TakeUpKeptPart(const std::string& folder, const std::string& url, const std::string& name,
                                       std::time_t now) {
    const FolderLock folderLock(folder);
    for (const std::string& entry : namesIn(folder)) {
        if (!IsPartFileName(entry)) continue;
        std::unique_ptr<PartFile> file = PartFile::OpenLeft(inFolder(folder, entry), true);
        if (!file) continue;
        auto identity = worthKeeping(*file, now);
        if (!identity || identity->url != url || identity->name != name) continue;
        const std::uint64_t trusted = TrustedBytes(*identity, file->size(), CurrentBootId());
        // As it was kept: taking it over may cut it, which is a write.
        const bool here = takeKeptHere(file->fd());
        if (file->TakeOver(trusted) != 0) {
            file->Remove();
            continue;
        }
        const std::uint64_t synced = std::min(identity->held, trusted);
        identity->held = trusted;
        identity->boot.clear();
        return KeptPart{std::move(file), *identity, synced, here};
    }
    return std::nullopt;
}

bool CarryKeptPart(const std::string& folder, const std::string& fromUrl, const std::string& name,
                   const OtherLink& to, std::time_t now) {
    constexpr std::uint64_t kCompared = 16 * 1024;
    if (to.length == 0 || to.url.empty() || (to.etag.empty() && to.lastModified.empty())) return false;
    const FolderLock folderLock(folder);
    for (const std::string& entry : namesIn(folder)) {
        if (!IsPartFileName(entry)) continue;
        std::unique_ptr<PartFile> file = PartFile::OpenLeft(inFolder(folder, entry), false);
        if (!file) continue;
        auto identity = worthKeeping(*file, now);
        if (!identity || identity->url != fromUrl || identity->name != name) continue;
        if (identity->length != to.length) return false;
        const std::uint64_t held = TrustedBytes(*identity, file->size(), CurrentBootId());
        // The probe read the first 16 KiB, or the whole file when shorter.
        const std::uint64_t compared = std::min({held, kCompared, to.length});
        if (compared == 0 || to.firstBytes.size() < compared) return false;
        std::string ours(static_cast<std::size_t>(compared), '\0');
        const ssize_t n = ::pread(file->fd(), ours.data(), ours.size(), 0);
        if (n != static_cast<ssize_t>(ours.size()) || ours.compare(0, ours.size(), to.firstBytes, 0, ours.size()) != 0)
            return false;
        PartIdentity carried = *identity;
        carried.url = to.url;
        carried.etag = to.etag;
        carried.lastModified = to.lastModified;
        carried.held = held;
        carried.boot.clear();
        // The file stays as it is: the next taker cuts it to the bytes held.
        return WritePartIdentity(*file, carried) == 0;
    }
    return false;
}

bool DropKeptPart(const std::string& folder, const std::string& url, const std::string& name, std::time_t now) {
    const FolderLock folderLock(folder);
    bool dropped = false;
    for (const std::string& entry : namesIn(folder)) {
        if (!IsPartFileName(entry)) continue;
        std::unique_ptr<PartFile> file = PartFile::OpenLeft(inFolder(folder, entry), false);
        if (!file) continue;
        const auto identity = worthKeeping(*file, now);
        if (identity && identity->url == url && identity->name == name && file->Remove() == 0) dropped = true;
    }
    return dropped;
}

int WritePartIdentity(const PartFile& file, const PartIdentity& identity) {
    const std::string text = EncodePartIdentity(identity);
    // Only what reads back as an identity is written.
    if (!ParsePartIdentity(text)) return EINVAL;
    const std::string next = NextIdentityPathOf(file.path());
    if (const int error = writeIdentityFile(next, text)) return error;
    if (const int error = diskCalls().rename(next, IdentityPathOf(file.path()))) {
        ::unlink(next.c_str());
        return error;
    }
    // The new identity's name on the disk too, so that after a power cut the
    // identity that vouches for the bytes is there with them.
    return diskCalls().folderSync(FolderOf(file.path()));
}

int KeepPartFile(PartFile& file, PartIdentity identity) {
    identity.held = file.size();
    identity.boot.clear();
    if (!ParsePartIdentity(EncodePartIdentity(identity))) return EINVAL;
    if (const int error = file.Sync()) return error;
    if (const int error = WritePartIdentity(file, identity)) return error;
    file.Keep();
    rememberKeptHere(file.fd());
    return 0;
}

}  // namespace dl

// The start-up error texts: each says what is wrong with the store file.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "store/SongStore.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string startUpText(const std::string& path) {
    try {
        store::SongStore songs(path);
    } catch (const store::StoreError& e) {
        return e.what();
    }
    return "(opened)";
}

// The text as a user without root's rights gets it: root reads any file.
std::string startUpTextUnprivileged(const std::string& path) {
    if (::geteuid() != 0) return startUpText(path);
    int out[2];
    if (::pipe(out) != 0) return "(no pipe)";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        std::string text = "(could not drop rights)";
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) text = startUpText(path);
        [[maybe_unused]] const auto written = ::write(out[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

TEST(StartUpText, EachCauseIsNamed) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path, const std::string& dir)> make;
        std::string expected;  // "%" stands for the file's full path, "@" for its folder
        bool unprivileged = false;
    };
    const std::vector<Case> cases = {
        {"missing", [](const std::string&, const std::string&) {}, "Could not find file '%'."},
        {"a folder", [](const std::string& path, const std::string&) { fs::create_directory(path); },
         "Could not open file '%': it is a folder, not a file."},
        {"a link to nothing",
         [](const std::string& path, const std::string& dir) { fs::create_symlink(dir + "/gone.mdb", path); },
         "Could not open file '%': it is a link to '@/gone.mdb', which leads to no file."},
        {"a link to itself", [](const std::string& path, const std::string&) { fs::create_symlink(path, path); },
         "Could not open file '%': it is a link to '%', which leads to no file."},
        {"a link to a store",
         [](const std::string& path, const std::string& dir) {
             store::CreateEmptyStore(dir + "/real.mdb");
             fs::create_symlink(dir + "/real.mdb", path);
         },
         "(opened)"},
        {"a named pipe", [](const std::string& path, const std::string&) { ::mkfifo(path.c_str(), 0600); },
         "Could not open file '%': it is not a plain file."},
        {"not readable",
         [](const std::string& path, const std::string&) {
             store::CreateEmptyStore(path);
             fs::permissions(path, fs::perms::owner_write);
         },
         "Could not open file '%': permission denied.", true},
        {"text, not a database",
         [](const std::string& path, const std::string&) {
             writeFile(path, "this is not a database file, just some text that is long enough to be read");
         },
         "File '%' is not a song store: file is not a database."},
        {"a database without tab1",
         [](const std::string& path, const std::string&) { storetest::execSql(path, "create table other (x text)"); },
         "File '%' is not a song store: no such table: tab1."},
        {"an empty file", [](const std::string& path, const std::string&) { writeFile(path, ""); },
         "File '%' is not a song store: no such table: tab1."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        // Others may pass through the folder, as through a home folder.
        fs::permissions(dir.path(), fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
        const std::string path = dir.file("mysong.mdb");
        c.make(path, dir.path().string());
        std::string expected = c.expected;
        for (std::size_t at; (at = expected.find('%')) != std::string::npos;) expected.replace(at, 1, path);
        for (std::size_t at; (at = expected.find('@')) != std::string::npos;) expected.replace(at, 1, dir.path());
        EXPECT_EQ(c.unprivileged ? startUpTextUnprivileged(path) : startUpText(path), expected);
        // Nothing is made beside a file that is no store.
        if (c.expected != "(opened)") {
            EXPECT_FALSE(fs::exists(dir.file("mysong.mdb-wal")));
        }
    }
}

// Runs the cutpage tool, built next to this test binary, on page files.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CutpageTool : public ::testing::Test {
protected:
    void SetUp() override {
        tool_ = fs::read_symlink("/proc/self/exe").parent_path() / "cutpage";
        if (!fs::exists(tool_)) GTEST_SKIP() << "cutpage is not built next to the tests";
        char pattern[] = "/tmp/cutpage-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    fs::path writePage(const std::string& bytes) {
        const fs::path path = dir_ / ("page" + std::to_string(pages_++) + ".html");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Runs the tool with `args`; gives up (and kills it) after ten seconds.
    ToolRun run(std::vector<std::string> args) {
        const fs::path outPath = dir_ / "out", errPath = dir_ / "err";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        args.insert(args.begin(), tool_.string());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, tool_.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ToolRun result;
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start cutpage";
            return result;
        }
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "cutpage did not finish";
                return result;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readAll(outPath);
        result.err = readAll(errPath);
        return result;
    }

    fs::path tool_;
    fs::path dir_;
    int pages_ = 0;
};

TEST_F(CutpageTool, ListsLinksOfTheLowerCasedPageWithEscapes) {
    const fs::path page = writePage(
        "<A HREF=\"X/S.MP3\" TARGET=_blank>Song &nbsp;- Singer</A>\n"
        "<a href=\"t\\b.mp3\">a\tb\r\nc\\d</a><a href=\"\xB8\xE8.mp3\">\xB8\xE8</a>");
    const ToolRun r = run({page.string()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "song singer\tx/s.mp3 \n"
              "a\\tb\\r\\nc\\\\d\tt\\\\b.mp3\n"
              "\xB8\xE8\t\xB8\xE8.mp3\n"
              "links: 3, limit: no\n");
}

TEST_F(CutpageTool, CountersDecideTheStop) {
    const fs::path page = writePage("<a href=\"a.mp3\">a</a><a href=\"b.mp3\">b</a>");
    EXPECT_EQ(run({"--link-counter", "300", page.string()}).out, "a\ta.mp3\nlinks: 301, limit: yes\n");
    EXPECT_EQ(run({"--page-counter=9", page.string()}).out, "links: 0, limit: yes\n");
    EXPECT_EQ(run({"--page-counter", "8", "--link-counter=-3", page.string()}).out,
              "a\ta.mp3\nb\tb.mp3\nlinks: -1, limit: no\n");
    EXPECT_EQ(run({writePage("").string()}).out, "links: 0, limit: no\n");
}

TEST_F(CutpageTool, BadUsageAndUnreadableFilesFailClearly) {
    const fs::path page = writePage("x");
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--page-counter", "x", page.string()},
        {"--link-counter", "2147483648", page.string()},
        {"--link-counter"},
        {"--verbose", page.string()},
        {page.string(), page.string()},
    };
    for (const auto& args : bad) {
        const ToolRun r = run(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_NE(r.err.find("usage: cutpage"), std::string::npos);
    }
    const ToolRun missing = run({(dir_ / "missing.html").string()});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("missing.html"), std::string::npos);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(run({dir_.string()}).exitCode, 0);
}

}  // namespace

// Runs the cutpage tool, built next to this test binary, on page files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/support/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ToolRun;

class CutpageTool : public ::testing::Test {
protected:
    void SetUp() override {
        tool_ = testsupport::toolNextToTests("cutpage");
        if (!fs::exists(tool_)) GTEST_SKIP() << "cutpage is not built next to the tests";
    }

    fs::path writePage(const std::string& bytes) {
        const fs::path path = dir_.path() / ("page" + std::to_string(pages_++) + ".html");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    ToolRun run(const std::vector<std::string>& args) {
        ToolRun result = testsupport::runTool(tool_, args);
        if (!result.finished) ADD_FAILURE() << "cutpage did not finish";
        return result;
    }

    fs::path tool_;
    testsupport::TempDir dir_;
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
    const ToolRun missing = run({(dir_.path() / "missing.html").string()});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("missing.html"), std::string::npos);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(run({dir_.path().string()}).exitCode, 0);
}

}  // namespace

// The program started over a store file it cannot use: its error box, and
// standard error before it, say what is wrong with the file; the program
// ends with status 1.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/ToolProcess.h"
#include "tests/support/ToolRun.h"

namespace fs = std::filesystem;

TEST(StoreStartUp, TheErrorSaysWhatIsWrongWithTheFile) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& store)> make;
        std::string expected;  // "%" stands for the store's full path
    };
    const std::vector<Case> cases = {
        {"missing", [](const fs::path&) {}, "Could not find file '%'."},
        {"a folder", [](const fs::path& store) { fs::create_directory(store); },
         "Could not open file '%': it is a folder, not a file."},
        {"a link to nothing", [](const fs::path& store) { fs::create_symlink("nowhere.mdb", store); },
         "Could not open file '%': it is a link to 'nowhere.mdb', which leads to no file."},
        {"no store", [](const fs::path& store) { std::ofstream(store) << "not a database, only some text, and more"; },
         "File '%' is not a song store: file is not a database."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        const fs::path store = dir.path() / "mysong.mdb";
        c.make(store);
        testsupport::ToolProcess program(testsupport::toolNextToTests("brelvomp3"), {}, {"QT_QPA_PLATFORM=offscreen"},
                                         dir.path());
        ASSERT_TRUE(program.started());
        std::string expected = "brelvomp3: " + c.expected + "\n";
        expected.replace(expected.find('%'), 1, store.string());
        ASSERT_TRUE(testsupport::waitFor([&] { return program.err().find(expected) != std::string::npos; },
                                         std::chrono::seconds(20)))
            << program.err();
        program.signal(SIGTERM);
        ASSERT_TRUE(program.waitForExit(std::chrono::seconds(20)));
        EXPECT_TRUE(program.exited());
        EXPECT_EQ(program.exitCode(), 1);
    }
}

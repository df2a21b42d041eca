#include "tests/support/ToolRun.h"

#include "tests/support/ToolProcess.h"

namespace testsupport {

namespace fs = std::filesystem;

fs::path toolNextToTests(const std::string& name) {
    return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

ToolRun runTool(const fs::path& tool, const std::vector<std::string>& args, std::chrono::milliseconds limit,
                ToolStreams streams) {
    ToolRun result;
    ToolProcess process(tool, args, {}, {}, streams);
    // One still running at the limit is killed as the process object goes.
    if (!process.waitForExit(limit)) return result;
    result.finished = true;
    result.exitCode = process.exitCode();
    result.out = process.out();
    result.err = process.err();
    return result;
}

}  // namespace testsupport

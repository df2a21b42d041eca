#pragma once
// Runs a command-line tool built next to the test binary, with its standard
// output and error captured. Every run is bounded: a tool still running at
// the limit is killed.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ToolProcess.h"

namespace testsupport {

struct ToolRun {
    bool finished = false;  // false: not started, or killed at the limit
    int exitCode = -1;      // -1 unless the tool exited by itself
    std::string out;
    std::string err;
};

// The tool `name` in the folder of the running test binary.
std::filesystem::path toolNextToTests(const std::string& name);

ToolRun runTool(const std::filesystem::path& tool, const std::vector<std::string>& args,
                std::chrono::milliseconds limit = std::chrono::seconds(60), ToolStreams streams = {});

}  // namespace testsupport

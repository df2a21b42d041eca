#include "bench/support/Figures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace benchsupport {
namespace {

std::string formatted(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double peakResidentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    return -1;
}

double median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string spread(std::vector<double> values, const char* format) {
    if (values.empty()) return "-";
    std::sort(values.begin(), values.end());
    const std::string mid = formatted(format, values[values.size() / 2]);
    if (values.size() == 1) return mid;
    return mid + " (" + formatted(format, values.front()) + "-" + formatted(format, values.back()) + ")";
}

int bound(bool held, const char* what) {
    if (held) return 0;
    std::printf("target missed: %s\n", what);
    return 1;
}

std::vector<double> numbers(const std::string& text, const std::string& tag) {
    std::vector<double> values;
    const std::string start = tag + " ";
    std::size_t at = text.rfind(start, 0) == 0 ? 0 : text.find("\n" + start);
    if (at == std::string::npos) return values;
    if (text[at] == '\n') ++at;
    const auto end = text.find('\n', at);
    const char* p = text.c_str() + at + tag.size();
    const char* stop = text.c_str() + (end == std::string::npos ? text.size() : end);
    while (p < stop) {
        char* after = nullptr;
        const double v = std::strtod(p, &after);
        if (after == p) break;
        values.push_back(v);
        p = after;
    }
    return values;
}

}  // namespace benchsupport

#pragma once
// The arithmetic and the words of the benchmarks' figures: the clock, the
// process's peak memory, medians with their spread, the bounds a benchmark
// holds a figure to, and the numbers a child process reports.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace benchsupport {

using Clock = std::chrono::steady_clock;

// The steady clock in nanoseconds: a stamp a child process can be handed.
std::int64_t nowNs();
double secondsSince(Clock::time_point start);

// This process's peak resident memory so far, in MiB; -1 when unknown.
double peakResidentMiB();

// The median; -1 for no values.
double median(std::vector<double> values);
// "median (smallest-largest)" in `format` (a printf format of one double);
// the median alone for one value, "-" for none.
std::string spread(std::vector<double> values, const char* format);

// A bound held or missed: a missed one is said on standard output. Returns
// 1 when missed, to be added to the failures.
int bound(bool held, const char* what);

// The numbers on the line of `text` that starts with `tag` and a space, in
// order; none when there is no such line.
std::vector<double> numbers(const std::string& text, const std::string& tag);

}  // namespace benchsupport

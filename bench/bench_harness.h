#ifndef BENCH_BENCH_HARNESS_H_
#define BENCH_BENCH_HARNESS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Reads the program's arguments: "--smoke" first makes this a smoke run,
// which only proves that the program works (the test suite runs one): every
// measured body runs once and every count takes its smoke size, so its
// figures mean nothing. Returns the arguments after the program's name,
// without the switch.
std::vector<std::string> ReadArguments(int argc, char** argv);

bool IsSmokeRun();

// `full` in a normal run, `smoke` in a smoke run.
template <class T>
T SmokeOr(T full, T smoke) {
  return IsSmokeRun() ? smoke : full;
}

// Runs `body` (which processes `units_per_call` units, e.g. bytes or values)
// repeatedly for at least `min_seconds` and returns units per second.
double MeasureRate(const std::function<void()>& body, double units_per_call,
                   double min_seconds = 0.5);

// Prints one figure line: "<name>: <value> <unit>".
void Report(const std::string& name, double value, const std::string& unit);

// Keeps the optimiser from discarding a computed value.
void DoNotOptimize(const void* p);

}  // namespace bench

#endif  // BENCH_BENCH_HARNESS_H_

#ifndef BENCH_BENCH_HARNESS_H_
#define BENCH_BENCH_HARNESS_H_

#include <cstdint>
#include <functional>
#include <string>

namespace bench {

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

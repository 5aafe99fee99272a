#include "bench/bench_harness.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace bench {
namespace {

bool g_smoke_run = false;

double NowSeconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

}  // namespace

std::vector<std::string> ReadArguments(int argc, char** argv) {
  int first = 1;
  g_smoke_run = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
  if (g_smoke_run)
    ++first;
  return std::vector<std::string>(argv + first, argv + argc);
}

bool IsSmokeRun() {
  return g_smoke_run;
}

double MeasureRate(const std::function<void()>& body, double units_per_call,
                   double min_seconds) {
  body();  // warm caches and lazily created state
  if (g_smoke_run)
    min_seconds = 0;
  uint64_t calls = 0;
  const double start = NowSeconds();
  double elapsed = 0;
  do {
    body();
    ++calls;
    elapsed = NowSeconds() - start;
  } while (elapsed < min_seconds);
  return calls * units_per_call / elapsed;
}

void Report(const std::string& name, double value, const std::string& unit) {
  std::printf("%-48s %14.2f %s\n", name.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

void DoNotOptimize(const void* p) {
  asm volatile("" : : "g"(p) : "memory");
}

}  // namespace bench

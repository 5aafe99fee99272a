// Cost of recording a histogram sample, on one thread and on eight at once,
// against one interlocked increment of a shared counter in the same run (the
// floor: a sample takes at least one such addition); and the rate of
// persistent-segment allocations on eight threads that contend for the free
// offset.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kThreads = 8;

int SamplesPerThread() {
  return bench::SmokeOr(2'000'000, 1'000);
}

double NowSeconds() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

// Runs `work` (thread index) on `threads` threads started together and
// returns the seconds until the last one ends.
template <class Work>
double RunThreads(int threads, const Work& work) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load())
        std::this_thread::yield();
      work(t);
    });
  }
  while (ready.load() != threads)
    std::this_thread::yield();
  const double start = NowSeconds();
  go.store(true);
  for (std::thread& thread : pool)
    thread.join();
  return NowSeconds() - start;
}

// Nanoseconds each thread spends per operation.
double NsPerOperation(double seconds, int operations_per_thread) {
  return seconds * 1e9 / operations_per_thread;
}

volatile LONG64 g_counter = 0;

double FloorNs(int threads) {
  const int samples = SamplesPerThread();
  return NsPerOperation(RunThreads(threads,
                                   [samples](int) {
                                     for (int i = 0; i < samples; ++i)
                                       InterlockedIncrement64(&g_counter);
                                   }),
                        samples);
}

double HistogramAddNs(base::HistogramBase* histogram, int threads) {
  const int samples = SamplesPerThread();
  return NsPerOperation(RunThreads(threads,
                                   [histogram, samples](int t) {
                                     // Values over the whole range, so the
                                     // bucket search runs its full depth.
                                     for (int i = 0; i < samples; ++i)
                                       histogram->Add((i * 7 + t) % 12000);
                                   }),
                        samples);
}

// Allocations per second until a 64 MiB segment (1 MiB in a smoke run) is
// full.
double AllocationsPerSecond(int threads) {
  const uint32_t size = bench::SmokeOr(64u << 20, 1u << 20);
  std::vector<uint64_t> memory(size / 8);
  std::unique_ptr<base::PersistentMemoryAllocator> allocator =
      base::PersistentMemoryAllocator::Create(memory.data(), size, 4096, 1,
                                              false);
  std::atomic<int64_t> made{0};
  const double seconds = RunThreads(threads, [&](int) {
    int64_t mine = 0;
    while (base::PersistentMemoryAllocator::Reference ref =
               allocator->Allocate(64, 1)) {
      allocator->MakeIterable(ref);
      ++mine;
    }
    made.fetch_add(mine);
  });
  return made.load() / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  base::HistogramBase* histogram =
      base::GetExponentialHistogram("Bench.Add", 1, 10000, 50, 0);
  for (int threads : {1, kThreads}) {
    const std::string suffix = threads == 1 ? " (1 thread)" : " (8 threads)";
    const double floor = FloorNs(threads);
    const double add = HistogramAddNs(histogram, threads);
    bench::Report("Interlocked increment, shared counter" + suffix, floor,
                  "ns/op");
    bench::Report("Histogram::Add" + suffix, add, "ns/sample");
    bench::Report("Histogram::Add over the floor" + suffix, add / floor, "x");
  }
  bench::Report("Persistent allocations + links (8 threads)",
                AllocationsPerSecond(kThreads), "allocations/s");
  bench::Report("Persistent allocations + links (1 thread)",
                AllocationsPerSecond(1), "allocations/s");
  return 0;
}

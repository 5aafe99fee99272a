// Cost of binding, running and releasing closures, against std::function
// doing the same work in the same run.

#include <functional>
#include <memory>
#include <string>

#include "base/bind.h"
#include "base/closure.h"
#include "base/weak_reference.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kBatch = 1000;

int g_sink = 0;

struct Target {
  void Add(int amount) { total += amount; }
  int total = 0;
};

// Bound: an int and a 32-byte string (beyond the small-string buffer, as
// paths and names usually are), so that both sides allocate it.
const std::string kText(32, 'x');

void BindLambdaBatch() {
  for (int i = 0; i < kBatch; ++i) {
    base::Closure closure = base::Bind(
        [](int value, std::string& text) { g_sink += value + text[0]; }, i,
        kText);
    closure.Run();
  }
}

void StdFunctionLambdaBatch() {
  for (int i = 0; i < kBatch; ++i) {
    std::function<void()> function = [value = i, text = kText] {
      g_sink += value + text[0];
    };
    function();
  }
}

void BindWeakBatch(Target* target, base::WeakReferenceSource* source) {
  for (int i = 0; i < kBatch; ++i) {
    base::Closure closure =
        base::BindWeak(&Target::Add, source->GetRef(), target, i);
    closure.Run();
  }
}

void StdFunctionWeakBatch(const std::shared_ptr<Target>& target) {
  for (int i = 0; i < kBatch; ++i) {
    std::function<void()> function = [weak = std::weak_ptr<Target>(target),
                                       i] {
      if (std::shared_ptr<Target> locked = weak.lock())
        locked->Add(i);
    };
    function();
  }
}

template <class Callable>
void CopyReleaseBatch(const Callable& original) {
  for (int i = 0; i < kBatch; ++i) {
    Callable copy = original;
    bench::DoNotOptimize(&copy);
  }
}

double NsPerUnit(double units_per_second) {
  return 1e9 / units_per_second;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  bench::Report("Bind lambda + 2 values, run, release",
                NsPerUnit(bench::MeasureRate(&BindLambdaBatch, kBatch)),
                "ns/closure");
  bench::Report("std::function lambda + 2 values, run, release",
                NsPerUnit(bench::MeasureRate(&StdFunctionLambdaBatch, kBatch)),
                "ns/closure");

  Target target;
  base::WeakReferenceSource source;
  bench::Report("BindWeak method, run, release",
                NsPerUnit(bench::MeasureRate(
                    [&] { BindWeakBatch(&target, &source); }, kBatch)),
                "ns/closure");
  // With a reference outstanding the source keeps its flag instead of
  // making a fresh one for every closure.
  base::WeakReference held = source.GetRef();
  bench::Report("BindWeak method, run, release (flag kept)",
                NsPerUnit(bench::MeasureRate(
                    [&] { BindWeakBatch(&target, &source); }, kBatch)),
                "ns/closure");
  auto shared_target = std::make_shared<Target>();
  bench::Report("std::function + weak_ptr method, run, release",
                NsPerUnit(bench::MeasureRate(
                    [&] { StdFunctionWeakBatch(shared_target); }, kBatch)),
                "ns/closure");

  base::Closure closure = base::Bind(
      [](int value, std::string& text) { g_sink += value + text[0]; }, 1,
      kText);
  bench::Report("Closure copy + release",
                NsPerUnit(bench::MeasureRate(
                    [&] { CopyReleaseBatch(closure); }, kBatch)),
                "ns/pair");
  std::function<void()> function = [value = 1, text = kText] {
    g_sink += value + text[0];
  };
  bench::Report("std::function copy + release",
                NsPerUnit(bench::MeasureRate(
                    [&] { CopyReleaseBatch(function); }, kBatch)),
                "ns/pair");
  bench::DoNotOptimize(&g_sink);
  return 0;
}

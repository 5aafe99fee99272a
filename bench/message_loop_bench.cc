// Throughput and post-to-run latency of a message loop, against a plain
// Win32 queue (a thread draining a std::deque under a lock, woken by an
// event) measured in the same run. The plain queue runs twice: with
// std::function tasks (no allocation per task) and with the same bound
// closures the loop runs (one heap block per task), to tell the loop's own
// cost from the closure's. The default loop runs again with task tracking
// on, as every loop of the program runs. Each figure is the best of a few
// rounds, as other work on the machine makes single rounds noisy.
//
// Every post and run reads a trace category's state through a pointer each
// call site caches; the first lookup of the process makes the trace log and
// the memory-dump manager, the first new category the event-tracing export.
// Those two costs are timed once, first thing, before anything else looks a
// category up. The cached check itself is part of every loop figure.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/thread_tally.h"
#include "base/time/tick_time.h"
#include "base/trace_event/trace_log.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kThroughputTasks = 400000;
// Every turn of the user-interface and I/O pumps asks the system for
// messages or completions, which costs a server round trip under Wine.
constexpr int kSlowPumpThroughputTasks = 20000;
constexpr int kLatencySamples = 20000;
constexpr int kRounds = 3;
// A smoke run's tasks and latency samples per figure.
constexpr int kSmokeTasks = 100;

int Rounds() {
  return bench::SmokeOr(kRounds, 1);
}

int64_t NowUs() {
  return base::TickTime::Now().ToInternalValue();
}

// The baseline: what a hand-written worker thread would do.
class PlainQueue {
 public:
  PlainQueue() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    thread_ = std::thread([this] { Drain(); });
  }
  ~PlainQueue() {
    Post(nullptr);
    thread_.join();
    CloseHandle(event_);
  }

  // A null task stops the thread.
  void Post(std::function<void()> task) {
    AcquireSRWLockExclusive(&lock_);
    bool was_empty = queue_.empty();
    queue_.push_back(std::move(task));
    ReleaseSRWLockExclusive(&lock_);
    if (was_empty)
      SetEvent(event_);
  }

 private:
  void Drain() {
    std::deque<std::function<void()>> work;
    for (;;) {
      AcquireSRWLockExclusive(&lock_);
      work.swap(queue_);
      ReleaseSRWLockExclusive(&lock_);
      if (work.empty()) {
        WaitForSingleObject(event_, INFINITE);
        continue;
      }
      for (auto& task : work) {
        if (!task)
          return;
        task();
      }
      work.clear();
    }
  }

  SRWLOCK lock_ = SRWLOCK_INIT;
  std::deque<std::function<void()>> queue_;
  HANDLE event_;
  std::thread thread_;
};

// A message loop running on its own thread until destroyed.
class LoopThread {
 public:
  explicit LoopThread(base::MessageLoop::Type type) {
    std::atomic<bool> ready{false};
    thread_ = std::thread([this, type, &ready] {
      base::MessageLoop loop(type);
      runner_ = loop.task_runner();
      base::LoopRunner run;
      quit_ = run.QuitClosure();
      ready = true;
      run.Run();
    });
    while (!ready)
      Sleep(0);
  }
  ~LoopThread() {
    runner_->PostTask(FROM_HERE, quit_);
    thread_.join();
  }

  void Post(base::Closure task) { runner_->PostTask(FROM_HERE, std::move(task)); }

 private:
  std::thread thread_;
  base::RefPtr<base::LoopTaskRunner> runner_;
  base::Closure quit_;
};

// Posts `total` counting tasks from `posters` threads; tasks per second from
// the first post until the last task ran.
template <class PostFunction>
double ThroughputOnce(int posters, int total,
                      const PostFunction& post_counting_task) {
  std::atomic<int> ran{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  const int per_thread = total / posters;
  for (int t = 0; t < posters; ++t) {
    threads.emplace_back([&] {
      while (!go)
        YieldProcessor();
      for (int i = 0; i < per_thread; ++i)
        post_counting_task(&ran);
    });
  }
  int64_t start = NowUs();
  go = true;
  while (ran.load(std::memory_order_acquire) < per_thread * posters)
    YieldProcessor();
  int64_t elapsed = NowUs() - start;
  for (std::thread& thread : threads)
    thread.join();
  return per_thread * posters * 1e6 / static_cast<double>(elapsed);
}

template <class PostFunction>
double Throughput(int posters, int total,
                  const PostFunction& post_counting_task) {
  double best = 0;
  for (int round = 0; round < Rounds(); ++round)
    best = std::max(best, ThroughputOnce(posters, total, post_counting_task));
  return best;
}

struct Latency {
  double median_us;
  double p99_us;
};

// One task in flight at a time, from a thread that spins until it ran, so
// that every sample includes waking the sleeping queue thread.
template <class PostFunction>
Latency PostToRunOnce(const PostFunction& post_stamping_task) {
  const int count = bench::SmokeOr(kLatencySamples, kSmokeTasks);
  std::vector<int64_t> samples;
  samples.reserve(count);
  std::atomic<int64_t> ran_at{0};
  for (int i = 0; i < count; ++i) {
    ran_at = 0;
    int64_t posted_at = NowUs();
    post_stamping_task(&ran_at);
    while (ran_at.load(std::memory_order_acquire) == 0)
      YieldProcessor();
    samples.push_back(ran_at - posted_at);
    // Let the queue thread go back to sleep.
    if (i % 16 == 0)
      Sleep(0);
  }
  std::sort(samples.begin(), samples.end());
  return {static_cast<double>(samples[samples.size() / 2]),
          static_cast<double>(samples[samples.size() * 99 / 100])};
}

template <class PostFunction>
Latency PostToRun(const PostFunction& post_stamping_task) {
  Latency best = PostToRunOnce(post_stamping_task);
  for (int round = 1; round < Rounds(); ++round) {
    Latency latency = PostToRunOnce(post_stamping_task);
    if (latency.p99_us < best.p99_us)
      best = latency;
  }
  return best;
}

void ReportLatency(const std::string& name, Latency latency) {
  bench::Report(name + " post-to-run median", latency.median_us, "us");
  bench::Report(name + " post-to-run p99", latency.p99_us, "us");
}

void BenchLoop(const std::string& name, base::MessageLoop::Type type,
               int total) {
  total = bench::SmokeOr(total, kSmokeTasks);
  LoopThread loop(type);
  for (int posters : {1, 4}) {
    double rate = Throughput(posters, total, [&](std::atomic<int>* ran) {
      loop.Post(base::Bind([](std::atomic<int>* counter) {
        counter->fetch_add(1, std::memory_order_release);
      }, ran));
    });
    bench::Report(name + ", " + std::to_string(posters) + " posting thread(s)",
                  rate, "tasks/s");
  }
  ReportLatency(name, PostToRun([&](std::atomic<int64_t>* ran_at) {
    loop.Post(base::Bind([](std::atomic<int64_t>* stamp) {
      stamp->store(NowUs(), std::memory_order_release);
    }, ran_at));
  }));
}

void BenchBaseline() {
  const int total = bench::SmokeOr(kThroughputTasks, kSmokeTasks);
  PlainQueue queue;
  for (int posters : {1, 4}) {
    double rate = Throughput(posters, total, [&](std::atomic<int>* ran) {
      queue.Post([ran] { ran->fetch_add(1, std::memory_order_release); });
    });
    bench::Report("Win32 deque baseline, " + std::to_string(posters) +
                      " posting thread(s)",
                  rate, "tasks/s");
  }
  for (int posters : {1, 4}) {
    double rate = Throughput(posters, total, [&](std::atomic<int>* ran) {
      base::Closure task = base::Bind([](std::atomic<int>* counter) {
        counter->fetch_add(1, std::memory_order_release);
      }, ran);
      queue.Post([task = std::move(task)] { task.Run(); });
    });
    bench::Report("Win32 deque baseline with bound closures, " +
                      std::to_string(posters) + " posting thread(s)",
                  rate, "tasks/s");
  }
  ReportLatency("Win32 deque baseline", PostToRun([&](std::atomic<int64_t>* ran_at) {
    queue.Post([ran_at] { ran_at->store(NowUs(), std::memory_order_release); });
  }));
}

void BenchFirstLookups() {
  int64_t start = NowUs();
  base::TraceLog::GetCategoryEnabledFlag("toplevel");
  int64_t made_log = NowUs();
  base::TraceLog::GetCategoryEnabledFlag("bench.first_new_category");
  int64_t made_export = NowUs();
  bench::Report("first category lookup (trace log, dump manager)",
                static_cast<double>(made_log - start), "us");
  bench::Report("first new category (event-tracing export)",
                static_cast<double>(made_export - made_log), "us");
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  BenchFirstLookups();
  BenchBaseline();
  // Task tracking starts with the first named thread and then stays on for
  // the process, so the loops run without it first.
  BenchLoop("MessageLoop default pump", base::MessageLoop::Type::kDefault,
            kThroughputTasks);
  BenchLoop("MessageLoop UI pump", base::MessageLoop::Type::kUI,
            kSlowPumpThroughputTasks);
  BenchLoop("MessageLoop I/O pump", base::MessageLoop::Type::kIO,
            kSlowPumpThroughputTasks);
  base::InitThreadTally("BenchMain");
  BenchLoop("MessageLoop default pump, task tracking on",
            base::MessageLoop::Type::kDefault, kThroughputTasks);
  return 0;
}

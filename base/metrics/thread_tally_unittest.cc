#include "base/metrics/thread_tally.h"

#include <atomic>
#include <string>
#include <thread>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/task_annotator.h"
#include "base/metrics/task_stopwatch.h"
#include "base/metrics/thread_heap_usage.h"
#include "base/posted_task.h"
#include "base/time/tick_time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int32_t kMax = TaskDeathData::kSaturated;

std::atomic<uint32_t> g_fake_now_ms{0};

// Puts the task-tracking clock under the test's hand for its scope.
class ScopedFakeClock {
 public:
  explicit ScopedFakeClock(uint32_t now_ms) {
    g_fake_now_ms = now_ms;
    previous_ =
        SetTaskTrackingClockForTesting([] { return g_fake_now_ms.load(); });
  }
  ~ScopedFakeClock() { SetTaskTrackingClockForTesting(previous_); }
  void Set(uint32_t now_ms) { g_fake_now_ms = now_ms; }

 private:
  TaskTrackingClock previous_;
};

// Tracking starts with the first named thread; this names the test's.
ThreadTally* StartTrackingOnThisThread() {
  InitThreadTally("DiagnosticsTest");
  return GetOrCreateThreadTally();
}

// What `tally` holds for `birth` so far: tallies outlive their threads and
// serve the next thread of their name, so tests look at what they add.
TaskDeathData DeathData(ThreadTally* tally, const TaskBirth* birth) {
  TaskDeathData data;
  if (birth)
    tally->GetDeathData(birth, &data);
  return data;
}

int32_t BirthCount(ThreadTally* tally, const SourceLocation& location) {
  const TaskBirth* birth = tally->FindBirth(location);
  return birth ? birth->count : 0;
}

// Runs `body` on a thread of its own, to its end.
template <class Body>
void OnNewThread(Body body) {
  std::thread(body).join();
}

TEST(TaskDeathDataTest, CountsAndSumsStopAtTheLimit) {
  struct Case {
    const char* what;
    int32_t count;
    int32_t run_sum;
    int32_t run_ms;
    int32_t expected_count;
    int32_t expected_run_sum;
  };
  const Case cases[] = {
      {"the 2147483648th run", kMax - 1, 0, 0, kMax, 0},
      {"a count at the limit", kMax, 0, 0, kMax, 0},
      {"a sum that would pass it", 1, kMax - 5, 100, 2, kMax},
      {"a sum at it", 1, kMax, 7, 2, kMax},
      {"a negative run adds nothing", 1, 40, -3, 2, 40},
  };
  for (const Case& c : cases) {
    TaskDeathData data;
    data.count = c.count;
    data.sample_count = c.count;
    data.run_duration_sum = c.run_sum;
    data.RecordDeath(/*queue_duration_ms=*/0, c.run_ms, /*random=*/0);
    EXPECT_EQ(c.expected_count, data.count) << c.what;
    EXPECT_EQ(c.expected_count, data.sample_count) << c.what;
    EXPECT_EQ(c.expected_run_sum, data.run_duration_sum) << c.what;
  }
}

TEST(TaskDeathDataTest, HeapCountersClampedBeforeTheyAdd) {
  TaskDeathData data;
  data.allocated_bytes = 10;
  ThreadHeapUsage usage;
  usage.alloc_ops = 3;
  usage.alloc_bytes = 0x1'0000'0000;  // beyond 32 bits
  usage.max_allocated_bytes = 0x1'0000'0000;
  data.RecordHeapUsage(usage);
  EXPECT_EQ(3, data.alloc_ops);
  EXPECT_EQ(kMax, data.allocated_bytes);
  EXPECT_EQ(kMax, data.max_allocated_bytes);
}

TEST(ThreadTallyTest, ThreadNamesFoldTheirTrailingNumber) {
  StartTrackingOnThisThread();
  const struct {
    const char* thread_name;
    const char* tally_name;
  } cases[] = {
      {"WorkerThread-7", "WorkerThread-*"},
      {"Main", "Main"},
      {"Pool12", "Pool*"},
      {"42", "*"},
      {nullptr, "WorkerThread-*"},  // never named
  };
  for (const auto& c : cases) {
    std::string tally_name;
    OnNewThread([&] {
      if (c.thread_name)
        InitThreadTally(c.thread_name);
      tally_name = GetOrCreateThreadTally()->name();
    });
    EXPECT_EQ(c.tally_name, tally_name) << c.tally_name;
  }
}

TEST(ThreadTallyTest, RetiredTallyServesTheNextThreadOfItsName) {
  StartTrackingOnThisThread();
  ThreadTally* first = nullptr;
  OnNewThread([&] {
    InitThreadTally("RetireTest-1");
    first = GetOrCreateThreadTally();
  });
  ThreadTally* second = nullptr;
  OnNewThread([&] {
    InitThreadTally("RetireTest-2");
    second = GetOrCreateThreadTally();
  });
  EXPECT_EQ(first, second);

  // Two threads alive at once cannot share one.
  std::atomic<int> arrived{0};
  ThreadTally* live[2] = {};
  auto body = [&](int i) {
    InitThreadTally(i == 0 ? "LiveTest-1" : "LiveTest-2");
    live[i] = GetOrCreateThreadTally();
    ++arrived;
    while (arrived < 2)
      std::this_thread::yield();
  };
  std::thread a(body, 0);
  std::thread b(body, 1);
  a.join();
  b.join();
  EXPECT_NE(live[0], live[1]);
  EXPECT_EQ(live[0]->name(), live[1]->name());
}

TEST(ThreadTallyTest, BirthsCountPerPostingSite) {
  ThreadTally* tally = StartTrackingOnThisThread();
  const SourceLocation here = FROM_HERE;
  const SourceLocation there = FROM_HERE;
  const int32_t before = BirthCount(tally, here);
  TaskBirth* birth = RegisterTaskBirth(tally, here);
  EXPECT_EQ(birth, RegisterTaskBirth(tally, here));
  EXPECT_NE(birth, RegisterTaskBirth(tally, there));
  EXPECT_EQ(birth, RegisterTaskBirth(tally, here));
  EXPECT_EQ(birth, tally->FindBirth(here));
  EXPECT_EQ(before + 3, birth->count);
  EXPECT_EQ(tally, birth->tally);
}

TEST(ThreadTallyTest, NestedRunIsTakenOutOfTheOuterRun) {
  ThreadTally* tally = StartTrackingOnThisThread();
  TaskBirth* outer_birth = RegisterTaskBirth(tally, FROM_HERE);
  TaskBirth* inner_birth = RegisterTaskBirth(tally, FROM_HERE);
  const TaskDeathData outer_before = DeathData(tally, outer_birth);
  const TaskDeathData inner_before = DeathData(tally, inner_birth);
  ScopedFakeClock clock(1000);
  TaskStopwatch outer(false);
  outer.Start();
  clock.Set(1010);
  TaskStopwatch inner(false);
  inner.Start();
  clock.Set(1030);
  inner.Stop();
  TallyTaskDeath(tally, inner_birth, 0, inner);
  clock.Set(1050);
  outer.Stop();
  TallyTaskDeath(tally, outer_birth, 0, outer);
  EXPECT_EQ(tally->current_stopwatch(), nullptr);

  EXPECT_EQ(20, DeathData(tally, inner_birth).run_duration_sum -
                    inner_before.run_duration_sum);
  const TaskDeathData outer_after = DeathData(tally, outer_birth);
  EXPECT_EQ(50, outer.wall_duration_ms());
  EXPECT_EQ(30, outer_after.run_duration_sum - outer_before.run_duration_sum);
  EXPECT_EQ(30, outer_after.run_duration_max);
  EXPECT_EQ(1, outer_after.count - outer_before.count);
}

TEST(ThreadTallyTest, QueueDurationCrossesTheClockWrap) {
  StartTrackingOnThisThread();
  // Five wraps of the 32-bit clock into the process's life, 256 ms before
  // the sixth.
  const uint32_t before_wrap = 0xFFFFFF00u;
  const int64_t delayed_ms = (int64_t{5} << 32) + before_wrap;
  const struct {
    const char* what;
    TickTime delayed_run_time;
  } cases[] = {
      {"posted", TickTime()},
      {"delayed", TickTime::FromInternalValue(delayed_ms * 1000)},
  };
  for (const auto& c : cases) {
    ScopedFakeClock clock(before_wrap);
    PostedTask task(FROM_HERE, Closure(), c.delayed_run_time, true);
    ASSERT_NE(nullptr, task.birth) << c.what;
    const TaskDeathData before =
        DeathData(GetOrCreateThreadTally(), task.birth);
    clock.Set(0x100);
    TaskStopwatch stopwatch(false);
    stopwatch.Start();
    clock.Set(0x105);
    stopwatch.Stop();
    RecordTaskRunInTally(task, stopwatch, task.birth);
    const TaskDeathData after = DeathData(GetOrCreateThreadTally(), task.birth);
    EXPECT_EQ(0x200, after.queue_duration_sum - before.queue_duration_sum)
        << c.what;
    EXPECT_EQ(0x200, after.queue_duration_max) << c.what;
    EXPECT_EQ(5, after.run_duration_sum - before.run_duration_sum) << c.what;
  }
}

TEST(ThreadTallyTest, MessageLoopTalliesEveryTaskItRuns) {
  StartTrackingOnThisThread();
  ThreadTally* loop_tally = nullptr;
  const TaskBirth* birth = nullptr;
  int32_t births_before = 0;
  TaskDeathData deaths_before;
  OnNewThread([&] {
    InitThreadTally("TallyLoop");
    loop_tally = GetOrCreateThreadTally();
    const SourceLocation here = FROM_HERE;
    births_before = BirthCount(loop_tally, here);
    deaths_before = DeathData(loop_tally, loop_tally->FindBirth(here));
    MessageLoop loop(MessageLoop::Type::kDefault);
    LoopRunner run;
    for (int i = 0; i < 3; ++i) {
      loop.task_runner()->PostTask(
          here, Bind(
                    [](const TaskBirth** seen) {
                      *seen = TaskAnnotator::CurrentTaskForThread()->birth;
                    },
                    &birth));
    }
    loop.task_runner()->PostTask(FROM_HERE, run.QuitClosure());
    run.Run();
  });
  ASSERT_NE(nullptr, birth);
  EXPECT_EQ(loop_tally, birth->tally);
  EXPECT_EQ(births_before + 3, birth->count);
  EXPECT_EQ(3, DeathData(loop_tally, birth).count - deaths_before.count);
}

}  // namespace
}  // namespace base

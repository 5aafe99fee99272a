#include "base/metrics/thread_tally.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "base/command_line.h"
#include "base/metrics/heap_usage_scope.h"
#include "base/metrics/histogram.h"
#include "base/metrics/millisecond_tick_clock.h"
#include "base/metrics/task_stopwatch.h"
#include "base/posted_task.h"
#include "base/threading/tls_slot.h"
#include "base/worker_pool.h"

namespace base {

namespace {

constexpr int kStatusActive = 3;
constexpr int kStatusProfiling = 2;
constexpr char kProfilerTimingSwitch[] = "profiler-timing";
constexpr char kUnnamedThread[] = "WorkerThread-*";
constexpr char kTallyCreationHistogram[] =
    "TrackedObjects.GetRetiredOrCreateThreadData";

enum TimingState : int { kTimingUnknown, kTimingOn, kTimingOff };

constinit std::atomic<int> g_status{0};
constinit std::atomic<uint32_t> g_incarnation{0};
constinit std::atomic<int> g_timing{kTimingUnknown};
constinit std::atomic<TaskTrackingClock> g_clock{nullptr};

int32_t Saturate(uint64_t value) {
  return value >= static_cast<uint64_t>(TaskDeathData::kSaturated)
             ? TaskDeathData::kSaturated
             : static_cast<int32_t>(value);
}

// A field at the limit stays there, whatever is added.
void AddSaturating(int32_t* field, int32_t value) {
  if (*field == TaskDeathData::kSaturated)
    return;
  *field = Saturate(static_cast<uint64_t>(*field) + value);
}

bool TimingEnabled() {
  const int cached = g_timing.load(std::memory_order_relaxed);
  if (cached != kTimingUnknown)
    return cached == kTimingOn;
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  // Not cached: the switch may still come.
  if (!command_line)
    return true;
  const bool on =
      command_line->GetSwitchValueASCII(kProfilerTimingSwitch) != "0";
  g_timing.store(on ? kTimingOn : kTimingOff, std::memory_order_relaxed);
  return on;
}

// "Pool12" and "Pool7" share the tally name "Pool*"; a name without trailing
// digits is kept.
std::string CleanThreadName(StringSlice name) {
  size_t end = name.length();
  while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9')
    --end;
  std::string cleaned = name.Substr(0, end).AsString();
  if (end != name.length())
    cleaned += '*';
  return cleaned;
}

}  // namespace

// The process's tallies: every one ever made (newest first) and those whose
// threads have ended, waiting for a thread of the same name.
class ThreadTallyList {
 public:
  static void StartTracking();
  static bool Started();
  static TlsSlot& Slot();
  static ThreadTally* TallyForName(std::string name);

 private:
  static void Retire(void* tally);
  static ThreadTally* TakeRetired(const std::string& name);
  static void Add(ThreadTally* tally);

  // Constant-initialised: no construction to race on.
  static constinit inline Lock lock_;
  static constinit inline TlsSlot slot_;
  static constinit inline std::atomic<bool> slot_created_{false};
  static constinit inline ThreadTally* all_ = nullptr;
  static constinit inline ThreadTally* retired_ = nullptr;
  static constinit inline uint32_t retirement_count_ = 0;
};

// static
void ThreadTallyList::StartTracking() {
  if (g_status.load(std::memory_order_acquire) >= kStatusProfiling)
    return;
  AutoLock hold(lock_);
  if (g_status.load(std::memory_order_relaxed) >= kStatusProfiling)
    return;
  if (!slot_created_.load(std::memory_order_relaxed)) {
    slot_.Initialize(&ThreadTallyList::Retire);
    slot_created_.store(true, std::memory_order_release);
  }
  g_incarnation.fetch_add(1, std::memory_order_relaxed);
  g_status.store(kStatusActive, std::memory_order_release);
}

// static
bool ThreadTallyList::Started() {
  return slot_created_.load(std::memory_order_acquire);
}

// static
TlsSlot& ThreadTallyList::Slot() {
  return slot_;
}

// static
ThreadTally* ThreadTallyList::TallyForName(std::string name) {
  const uint32_t start_ms = GetTaskTrackingTimeMs();
  ThreadTally* tally = TakeRetired(name);
  if (!tally) {
    // Never freed: births keep pointers to their tally, and a retired tally
    // serves the next thread of its name.
    tally = std::make_unique<ThreadTally>(std::move(name)).release();
    tally->random_ =
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tally) / 152) ^
        start_ms;
    Add(tally);
  }
  const int32_t elapsed_ms =
      static_cast<int32_t>(GetTaskTrackingTimeMs() - start_ms);
  // Without a registry every lookup makes a new histogram: keep the first.
  static HistogramBase* const histogram =
      GetTimeHistogram(kTallyCreationHistogram, TimeDelta::FromMilliseconds(1),
                       TimeDelta::FromMilliseconds(10000));
  if (histogram)
    histogram->Add(elapsed_ms);
  return tally;
}

// static
void ThreadTallyList::Retire(void* value) {
  auto* tally = static_cast<ThreadTally*>(value);
  AutoLock hold(lock_);
  if (tally->incarnation_ != g_incarnation.load(std::memory_order_relaxed))
    return;
  tally->next_retired_ = retired_;
  retired_ = tally;
  ++retirement_count_;
}

// static
ThreadTally* ThreadTallyList::TakeRetired(const std::string& name) {
  AutoLock hold(lock_);
  for (ThreadTally** link = &retired_; *link; link = &(*link)->next_retired_) {
    ThreadTally* tally = *link;
    if (tally->name_ == name) {
      *link = tally->next_retired_;
      tally->next_retired_ = nullptr;
      return tally;
    }
  }
  return nullptr;
}

// static
void ThreadTallyList::Add(ThreadTally* tally) {
  AutoLock hold(lock_);
  tally->incarnation_ = g_incarnation.load(std::memory_order_relaxed);
  tally->next_ = all_;
  all_ = tally;
}

void TaskDeathData::RecordDeath(int32_t queue_duration_ms,
                                int32_t run_duration_ms, uint32_t random) {
  // Saturating sums need non-negative terms.
  const int32_t queue = std::max(queue_duration_ms, 0);
  const int32_t run = std::max(run_duration_ms, 0);
  AddSaturating(&count, 1);
  AddSaturating(&sample_count, 1);
  AddSaturating(&run_duration_sum, run);
  AddSaturating(&queue_duration_sum, queue);
  run_duration_max = std::max(run_duration_max, run);
  queue_duration_max = std::max(queue_duration_max, queue);
  if (random % static_cast<uint32_t>(sample_count) == 0) {
    run_duration_sample = run;
    queue_duration_sample = queue;
  }
}

void TaskDeathData::RecordHeapUsage(const ThreadHeapUsage& usage) {
  AddSaturating(&alloc_ops, Saturate(usage.alloc_ops));
  AddSaturating(&free_ops, Saturate(usage.free_ops));
  AddSaturating(&allocated_bytes, Saturate(usage.alloc_bytes));
  AddSaturating(&freed_bytes, Saturate(usage.free_bytes));
  AddSaturating(&alloc_overhead_bytes, Saturate(usage.alloc_overhead_bytes));
  max_allocated_bytes =
      std::max(max_allocated_bytes, Saturate(usage.max_allocated_bytes));
}

size_t ThreadTally::LocationHash::operator()(
    const SourceLocation& location) const {
  // The program counter tells posting sites apart; the line settles ties of
  // sites without one.
  return std::hash<const void*>()(location.program_counter()) ^
         static_cast<size_t>(location.line());
}

bool ThreadTally::LocationEqual::operator()(const SourceLocation& a,
                                            const SourceLocation& b) const {
  return a.program_counter() == b.program_counter() && a.line() == b.line() &&
         a.file_name() == b.file_name() &&
         a.function_name() == b.function_name();
}

ThreadTally::ThreadTally(std::string name) : name_(std::move(name)) {}

TaskBirth* ThreadTally::RegisterBirth(const SourceLocation& location) {
  // Only this thread writes the maps; the lock orders insertions against
  // readers, and counts are raised without it.
  if (last_birth_ && LocationEqual()(last_birth_->location, location)) {
    ++last_birth_->count;
    return last_birth_;
  }
  auto found = births_.find(location);
  if (found != births_.end()) {
    ++found->second.count;
    last_birth_ = &found->second;
    return last_birth_;
  }
  AutoLock hold(map_lock_);
  TaskBirth& birth = births_[location];
  birth.location = location;
  birth.tally = this;
  birth.count = 1;
  last_birth_ = &birth;
  return last_birth_;
}

void ThreadTally::TallyDeath(const TaskBirth* birth, int32_t queue_duration_ms,
                             const TaskStopwatch& stopwatch) {
  const int32_t run_duration_ms = stopwatch.run_duration_ms();
  random_ = (static_cast<uint32_t>(queue_duration_ms) + 0x7fffffffu + random_ +
             static_cast<uint32_t>(run_duration_ms)) ^
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(birth) / 48);
  if (birth != last_death_birth_) {
    auto found = deaths_.find(birth);
    if (found == deaths_.end()) {
      AutoLock hold(map_lock_);
      found = deaths_.emplace(birth, TaskDeathData()).first;
    }
    last_death_birth_ = birth;
    last_death_data_ = &found->second;
  }
  TaskDeathData& data = *last_death_data_;
  data.RecordDeath(queue_duration_ms, run_duration_ms, random_);
  if (stopwatch.measured_heap_usage())
    data.RecordHeapUsage(stopwatch.heap_usage());
}

const TaskBirth* ThreadTally::FindBirth(const SourceLocation& location) {
  AutoLock hold(map_lock_);
  auto found = births_.find(location);
  return found == births_.end() ? nullptr : &found->second;
}

bool ThreadTally::GetDeathData(const TaskBirth* birth, TaskDeathData* data) {
  AutoLock hold(map_lock_);
  auto found = deaths_.find(birth);
  if (found == deaths_.end())
    return false;
  *data = found->second;
  return true;
}

int GetTaskTrackingStatus() {
  return g_status.load(std::memory_order_relaxed);
}

ThreadTally* GetOrCreateThreadTally() {
  if (!ThreadTallyList::Started())
    return nullptr;
  TlsSlot& slot = ThreadTallyList::Slot();
  if (auto* tally = static_cast<ThreadTally*>(slot.Get()))
    return tally;
  ThreadTally* tally = ThreadTallyList::TallyForName(kUnnamedThread);
  slot.Set(tally);
  return tally;
}

TaskBirth* RegisterTaskBirth(ThreadTally* tally,
                             const SourceLocation& location) {
  return tally ? tally->RegisterBirth(location) : nullptr;
}

void InitThreadTally(StringSlice thread_name) {
  if (WorkerPool::RunsTasksOnCurrentThread())
    return;
  if (ThreadTallyList::Started() && ThreadTallyList::Slot().Get())
    return;
  ThreadTallyList::StartTracking();
  TlsSlot& slot = ThreadTallyList::Slot();
  if (slot.Get())
    return;
  slot.Set(ThreadTallyList::TallyForName(CleanThreadName(thread_name)));
}

uint32_t GetTaskTrackingTimeMs() {
  if (TaskTrackingClock clock = g_clock.load(std::memory_order_relaxed))
    return clock();
  if (g_status.load(std::memory_order_relaxed) <= kStatusProfiling ||
      !TimingEnabled()) {
    return 0;
  }
  return static_cast<uint32_t>(MillisecondTickClock::NowMs());
}

void RecordTaskRunInTally(const PostedTask& task,
                          const TaskStopwatch& stopwatch,
                          const TaskBirth* birth) {
  ThreadTally* tally = stopwatch.tally();
  if (!tally)
    return;
  // Both times reduced to the clock's 32 bits and subtracted unsigned, so
  // that the duration survives the clock's wrap every 49.7 days.
  const uint32_t runnable_ms =
      task.delayed_run_time.is_null()
          ? task.posted_time
          : static_cast<uint32_t>(task.delayed_run_time.ToInternalValue() /
                                  1000);
  const uint32_t start_ms = static_cast<uint32_t>(stopwatch.start_time_ms());
  const int32_t queue_duration_ms =
      start_ms == 0 ? 0 : static_cast<int32_t>(start_ms - runnable_ms);
  TallyTaskDeath(tally, birth, queue_duration_ms, stopwatch);
}

void TallyTaskDeath(ThreadTally* tally, const TaskBirth* birth,
                    int32_t queue_duration_ms, const TaskStopwatch& stopwatch) {
  if (!tally || !birth)
    return;
  tally->TallyDeath(birth, queue_duration_ms, stopwatch);
}

TaskTrackingClock SetTaskTrackingClockForTesting(TaskTrackingClock clock) {
  return g_clock.exchange(clock, std::memory_order_relaxed);
}

}  // namespace base

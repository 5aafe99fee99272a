#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_set>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/lazy_global.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_format.h"
#include "base/strings/string_tokenizer.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/time/tsc.h"
#include "base/trace_event/event_name_filter.h"
#include "base/trace_event/heap_profiler_event_filter.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/thread_local_event_buffer.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_event_etw_export.h"
#include "base/trace_event/trace_event_memory_overhead.h"

// First use. Every task post and run looks a category up, so the first
// lookup of the process may come from any thread, and from several at once.
// It makes, in this order:
//   1. the trace log (under its instance word: other threads yield until it
//      is published);
//   2. inside the log's constructor, the memory-dump manager (under its own
//      word), which reads the heap-profiling switch and may put the
//      heap-usage hooks into the allocation chain; the log then registers
//      with it under the manager's lock;
//   3. at the first group that is not preset, the event-tracing export,
//      which loads a library, so it is made before the log's lock is taken.
// None of these constructors holds a lock of ours while it calls out, and
// none waits for a later one. A lookup made on the thread that is building
// the log (from inside one of the constructors) must not wait for itself:
// it answers from the table without the log, and a group not yet in the
// table gets the reserved "shutdown" record, whose byte stays 0.

namespace base {

namespace {

// Records 0 to 3 are there from the start.
constexpr size_t kCategoryExhausted = 0;
constexpr size_t kCategoryNoLog = 1;
constexpr size_t kCategoryMetadata = 2;
constexpr size_t kPresetCategories = 4;

// Static so that call sites may hold a byte's address for the life of the
// process; names are copied in and never freed. `g_category_count` is
// stored after the record it admits, so readers need no lock.
constinit TraceCategory g_categories[TraceLog::kMaxCategories] = {
    {0, 0, "tracing categories exhausted; must increase kMaxCategories"},
    {0, 0, "tracing already shutdown"},
    {0, 0, "__metadata"},
    {0, 0, "toplevel"},
};
constinit std::atomic<size_t> g_category_count{kPresetCategories};

// Filter i is made from configuration i; an empty place keeps no event.
// Made once, never freed: events are filtered without the lock.
constinit std::atomic<TraceEventFilter*> g_filters[TraceLog::kMaxEventFilters];
constinit std::atomic<size_t> g_filter_count{0};

constinit std::atomic<uintptr_t> g_instance{LazyGlobal::kNotCreated};
// The thread that is building the log, while it does.
constinit std::atomic<DWORD> g_instance_maker{0};

// Per thread; only touched while something records.
thread_local bool t_inside_event_creation = false;
thread_local const char* t_reported_thread_name = nullptr;
// Set while this thread makes the event-tracing export.
thread_local bool t_making_etw_export = false;

// While it lives, the calling thread is inside trace-event creation; a
// second scope on the same thread does not enter.
class InsideEventCreation {
 public:
  InsideEventCreation() : entered_(!t_inside_event_creation) {
    t_inside_event_creation = true;
  }
  InsideEventCreation(const InsideEventCreation&) = delete;
  InsideEventCreation& operator=(const InsideEventCreation&) = delete;
  ~InsideEventCreation() {
    if (entered_)
      t_inside_event_creation = false;
  }
  bool entered() const { return entered_; }

 private:
  const bool entered_;
};

TraceCategory* FindCategory(const char* category_group) {
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_categories[i].name, category_group) == 0)
      return &g_categories[i];
  }
  return nullptr;
}

const TraceCategory* CategoryOf(const uint8_t* category_enabled) {
  // The state byte is a record's first member.
  return reinterpret_cast<const TraceCategory*>(category_enabled);
}

uint8_t LoadState(const uint8_t* category_enabled) {
  return std::atomic_ref<const uint8_t>(*category_enabled)
      .load(std::memory_order_relaxed);
}

const char* CopyName(const char* name) {
  const size_t length = std::strlen(name) + 1;
  std::unique_ptr<char[]> copy = std::make_unique<char[]>(length);
  std::memcpy(copy.get(), name, length);
  // Held by the table for the life of the process.
  return copy.release();
}

// Thread CPU time in microseconds; 0 where the cycle counter cannot tell it
// (Wine: QueryThreadCycleTime fails).
int64_t ThreadNow() {
  if (!HasUsableInvariantTsc())
    return 0;
  ULONG64 cycles = 0;
  if (!QueryThreadCycleTime(GetCurrentThread(), &cycles))
    return 0;
  const double ticks_per_second = MeasureTscTicksPerSecond();
  if (ticks_per_second == 0)
    return 0;
  return static_cast<int64_t>(cycles / ticks_per_second * 1e6);
}

int64_t Now() {
  return TickTime::Now().ToInternalValue();
}

bool NameListContains(const std::string& list, const char* name) {
  StringTokenizer names(list, ",");
  while (names.GetNext()) {
    if (names.token() == name)
      return true;
  }
  return false;
}

}  // namespace

// static
TraceLog* TraceLog::GetInstance() {
  const uintptr_t value = g_instance.load(std::memory_order_acquire);
  if (value > LazyGlobal::kBeingCreated)
    return reinterpret_cast<TraceLog*>(value);
  Create();
  return reinterpret_cast<TraceLog*>(g_instance.load(std::memory_order_acquire));
}

// static
void TraceLog::Create() {
  uintptr_t expected = LazyGlobal::kNotCreated;
  if (g_instance.compare_exchange_strong(expected, LazyGlobal::kBeingCreated,
                                         std::memory_order_acq_rel)) {
    g_instance_maker.store(GetCurrentThreadId(), std::memory_order_release);
    // Owned through the instance word for the life of the process.
    TraceLog* log = std::unique_ptr<TraceLog>(new TraceLog()).release();
    g_instance.store(reinterpret_cast<uintptr_t>(log),
                     std::memory_order_release);
    g_instance_maker.store(0, std::memory_order_release);
    return;
  }
  CHECK(g_instance_maker.load(std::memory_order_acquire) !=
        GetCurrentThreadId())
      << "the trace log is asked for inside its own construction";
  LazyGlobal::WaitForInstance(g_instance);
}

// static
const uint8_t* TraceLog::GetCategoryEnabledFlag(const char* category_group) {
  const uintptr_t value = g_instance.load(std::memory_order_acquire);
  const bool made_here =
      value == LazyGlobal::kBeingCreated &&
      g_instance_maker.load(std::memory_order_acquire) == GetCurrentThreadId();
  TraceLog* log = made_here ? nullptr : GetInstance();
  if (TraceCategory* found = FindCategory(category_group))
    return &found->state;
  if (!log)
    return &g_categories[kCategoryNoLog].state;
  return log->AddCategory(category_group);
}

// static
const char* TraceLog::GetCategoryGroupName(const uint8_t* category_enabled) {
  return CategoryOf(category_enabled)->name;
}

// static
std::vector<const TraceCategory*> TraceLog::GetCategoriesForTesting() {
  std::vector<const TraceCategory*> categories;
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i)
    categories.push_back(&g_categories[i]);
  return categories;
}

TraceLog::TraceLog()
    : process_id_(static_cast<int32_t>(GetCurrentProcessId())),
      process_id_hash_((14695981039346656037ull ^
                        static_cast<uint64_t>(process_id_)) *
                       1099511628211ull) {
  logged_events_ = CreateTraceBuffer();
  MemoryDumpManager::GetInstance()->RegisterDumpProvider(this, "TraceLog",
                                                         nullptr);
}

// Never runs: the log lives as long as the process.
TraceLog::~TraceLog() = default;

const uint8_t* TraceLog::AddCategory(const char* category_group) {
  // The export loads a library: no lock of ours may be held meanwhile. A
  // lookup from inside its construction goes on without it.
  if (!t_making_etw_export) {
    t_making_etw_export = true;
    TraceEventEtwExport::GetInstance();
    t_making_etw_export = false;
  }
  AutoLock lock(lock_);
  if (TraceCategory* found = FindCategory(category_group))
    return &found->state;
  const size_t count = g_category_count.load(std::memory_order_relaxed);
  if (count >= kMaxCategories)
    return &g_categories[kCategoryExhausted].state;
  TraceCategory* category = &g_categories[count];
  category->name = CopyName(category_group);
  UpdateCategoryEnabledFlag(category);
  g_category_count.store(count + 1, std::memory_order_release);
  return &category->state;
}

void TraceLog::UpdateCategoryEnabledFlag(TraceCategory* category) {
  uint8_t state = 0;
  if (modes_ & kRecordingMode) {
    if (trace_config_.IsCategoryGroupEnabled(category->name) ||
        category == &g_categories[kCategoryMetadata]) {
      state |= kCategoryRecording;
    }
  }
  if (TraceEventEtwExport::IsCategoryGroupEnabled(category->name))
    state |= kCategoryEtwExport;
  uint32_t filter_bitmap = 0;
  const std::vector<EventFilterConfig>& filters = trace_config_.event_filters();
  for (size_t i = 0; i < filters.size() && i < kMaxEventFilters; ++i) {
    if (filters[i].IsCategoryGroupEnabled(category->name)) {
      state |= kCategoryFiltering;
      filter_bitmap |= 1u << i;
    }
  }
  std::atomic_ref<uint32_t>(category->filter_bitmap)
      .store(filter_bitmap, std::memory_order_release);
  std::atomic_ref<uint8_t>(category->state)
      .store(state, std::memory_order_release);
}

void TraceLog::UpdateCategoryRegistry() {
  CreateFilters();
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i)
    UpdateCategoryEnabledFlag(&g_categories[i]);
}

void TraceLog::CreateFilters() {
  if (!(modes_ & kFilteringMode) ||
      g_filter_count.load(std::memory_order_relaxed) != 0) {
    return;
  }
  const std::vector<EventFilterConfig>& configs =
      trace_config_.event_filters();
  size_t count = 0;
  for (; count < configs.size() && count < kMaxEventFilters; ++count) {
    // Kept for the life of the process, as events are filtered unlocked.
    g_filters[count].store(CreateFilter(configs[count]).release(),
                           std::memory_order_release);
  }
  g_filter_count.store(count, std::memory_order_release);
}

std::unique_ptr<TraceEventFilter> TraceLog::CreateFilter(
    const EventFilterConfig& config) {
  const std::string& predicate = config.predicate_name();
  if (predicate == kEventWhitelistPredicate) {
    std::unordered_set<std::string> names;
    if (!config.GetArgAsSet("event_name_whitelist", &names)) {
      LOG(ERROR) << "Event filter \"" << predicate
                 << "\" has no event_name_whitelist; it keeps no event";
      return nullptr;
    }
    return std::make_unique<EventNameFilter>(
        EventNameFilter::EventNamesWhitelist(names.begin(), names.end()));
  }
  if (predicate == kHeapProfilerPredicate)
    return std::make_unique<HeapProfilerEventFilter>();
  std::unique_ptr<TraceEventFilter> filter =
      filter_factory_ ? filter_factory_(predicate) : nullptr;
  if (!filter) {
    LOG(ERROR) << "Unknown event filter \"" << predicate
               << "\"; it keeps no event";
  }
  return filter;
}

bool TraceLog::FilterEvent(const TraceEvent& event) const {
  const uint32_t bitmap = std::atomic_ref<const uint32_t>(
                              event.category()->filter_bitmap)
                              .load(std::memory_order_acquire);
  const size_t count = g_filter_count.load(std::memory_order_acquire);
  bool kept = false;
  // Every filter sees the event, even after one kept it: the heap profiler's
  // keeps its stack in step.
  for (size_t i = 0; i < count; ++i) {
    if (!(bitmap & (1u << i)))
      continue;
    TraceEventFilter* filter = g_filters[i].load(std::memory_order_acquire);
    if (filter && filter->FilterTraceEvent(event))
      kept = true;
  }
  return kept;
}

void TraceLog::EndEventWithFilters(const uint8_t* category_enabled,
                                   const char* name) const {
  const TraceCategory* category = CategoryOf(category_enabled);
  const uint32_t bitmap =
      std::atomic_ref<const uint32_t>(category->filter_bitmap)
          .load(std::memory_order_acquire);
  const size_t count = g_filter_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    TraceEventFilter* filter = g_filters[i].load(std::memory_order_acquire);
    if ((bitmap & (1u << i)) && filter)
      filter->EndEvent(category->name, name);
  }
}

TraceEventHandle TraceLog::AddEvent(char phase,
                                    const uint8_t* category_enabled,
                                    const char* name, uint64_t id,
                                    uint64_t bind_id, uint32_t thread_id,
                                    int64_t timestamp_us, int argument_count,
                                    const char* const* names,
                                    const uint8_t* types,
                                    const uint64_t* values, uint32_t flags) {
  TraceValue trace_values[TraceEvent::kMaxArguments] = {};
  for (int i = 0; i < argument_count && i < TraceEvent::kMaxArguments; ++i)
    trace_values[i].as_uint = values[i];
  return AddEvent(phase, category_enabled, name, nullptr, id, bind_id,
                  static_cast<int32_t>(thread_id), timestamp_us,
                  argument_count, names, types, trace_values, nullptr, flags);
}

TraceEventHandle TraceLog::AddEvent(
    char phase, const uint8_t* category_enabled, const char* name,
    const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
    int64_t timestamp_us, int argument_count, const char* const* names,
    const uint8_t* types, const TraceValue* values,
    std::unique_ptr<ConvertableToTraceFormat>* convertables, uint32_t flags) {
  const uint8_t state = LoadState(category_enabled);
  if (!(state & kCategoryGroupEnabledMask))
    return 0;
  InsideEventCreation inside;
  if (!inside.entered())
    return 0;
  argument_count = std::min(argument_count, TraceEvent::kMaxArguments);
  if (flags & kTraceFlagMangleId) {
    id ^= process_id_hash_;
    if (flags & (kTraceFlagFlowIn | kTraceFlagFlowOut))
      bind_id ^= process_id_hash_;
  }
  const int64_t thread_now = ThreadNow();
  ThreadLocalEventBuffer* thread_buffer =
      (state & kCategoryRecording) ? InitializeThreadLocalEventBuffer()
                                   : nullptr;
  if (thread_id == static_cast<int32_t>(GetCurrentThreadId()))
    UpdateThreadName(thread_id);
  const TraceCategory* category = CategoryOf(category_enabled);
  if (state & kCategoryEtwExport) {
    TraceEventEtwExport::AddEvent(phase, category->name, name, id,
                                  argument_count, names, types, values,
                                  convertables);
  }

  std::unique_ptr<TraceEvent> filtered;
  if (state & kCategoryFiltering) {
    filtered = std::make_unique<TraceEvent>();
    filtered->Initialize(thread_id, timestamp_us, thread_now, phase, category,
                         name, scope, id, bind_id, argument_count, names,
                         types, values, convertables, flags);
    if (!FilterEvent(*filtered))
      return 0;
  }

  TraceEventHandle handle = 0;
  std::string console_message;
  if (state & kCategoryRecording) {
    std::unique_ptr<AutoLock> lock;
    TraceEvent* slot;
    if (thread_buffer) {
      slot = thread_buffer->AddTraceEvent(&handle);
    } else {
      lock = std::make_unique<AutoLock>(lock_);
      slot = AddEventToSharedChunkWhileLocked(&handle, true);
    }
    if (slot) {
      if (filtered) {
        slot->MoveFrom(*filtered);
      } else {
        slot->Initialize(thread_id, timestamp_us, thread_now, phase, category,
                         name, scope, id, bind_id, argument_count, names,
                         types, values, convertables, flags);
      }
      if (trace_options_ & kOptionEchoToConsole) {
        console_message = EventToConsoleMessage(
            phase == kTracePhaseComplete ? kTracePhaseBegin : phase,
            timestamp_us, *slot);
      }
    }
  }
  if (!console_message.empty())
    LOG(ERROR) << console_message;
  return handle;
}

void TraceLog::CompleteEventDuration(const uint8_t* category_enabled,
                                     const char* name,
                                     TraceEventHandle handle) {
  const uint8_t state = LoadState(category_enabled);
  if (!state)
    return;
  InsideEventCreation inside;
  if (!inside.entered())
    return;
  const int64_t now = Now();
  const int64_t thread_now = ThreadNow();
  if (state & kCategoryEtwExport)
    TraceEventEtwExport::AddCompleteEndEvent(name);

  std::string console_message;
  if ((state & kCategoryRecording) && TraceEventHandleChunkSeq(handle) != 0) {
    std::unique_ptr<AutoLock> lock;
    if (TraceEvent* event = GetEventByHandle(handle, &lock)) {
      const int64_t thread_duration =
          event->thread_timestamp() != 0
              ? thread_now - event->thread_timestamp()
              : 0;
      event->UpdateDuration(now - event->timestamp(), thread_duration);
      if (trace_options_ & kOptionEchoToConsole)
        console_message = EventToConsoleMessage(kTracePhaseEnd, now, *event);
    }
  }
  if (!console_message.empty())
    LOG(ERROR) << console_message;
  if (state & kCategoryFiltering)
    EndEventWithFilters(category_enabled, name);
}

void TraceLog::AddMetadataEvent(
    const uint8_t* category_enabled, const char* name,
    const char* argument_name,
    std::unique_ptr<ConvertableToTraceFormat> value) {
  ThreadTraceContext::ScopedIgnore ignore;
  const uint8_t type = kTraceValueTypeConvertable;
  const TraceValue unused = {};
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(static_cast<int32_t>(GetCurrentThreadId()), Now(),
                    ThreadNow(), kTracePhaseMetadata,
                    CategoryOf(category_enabled), name, nullptr, 0, 0, 1,
                    &argument_name, &type, &unused, &value, 0);
  AutoLock lock(lock_);
  metadata_events_.push_back(std::move(event));
}

void TraceLog::AddEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  enabled_state_observers_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserver(EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  std::erase(enabled_state_observers_, observer);
}

void TraceLog::AddAsyncEnabledStateObserver(EnabledStateObserver* observer,
                                            WeakReference observer_ref) {
  AutoLock lock(lock_);
  async_observers_[observer] = {GetCurrentSequencedTaskRunner(),
                                std::move(observer_ref)};
}

void TraceLog::RemoveAsyncEnabledStateObserver(
    EnabledStateObserver* observer) {
  AutoLock lock(lock_);
  async_observers_.erase(observer);
}

void TraceLog::SetFilterFactory(FilterFactory factory) {
  AutoLock lock(lock_);
  filter_factory_ = factory;
}

void TraceLog::SetProcessName(const std::string& name) {
  AutoLock lock(lock_);
  process_name_ = name;
}

void TraceLog::SetProcessSortIndex(int32_t sort_index) {
  AutoLock lock(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::UpdateProcessLabel(int label_id, const std::string& label) {
  AutoLock lock(lock_);
  process_labels_[label_id] = label;
}

void TraceLog::SetThreadSortIndex(uint32_t thread_id, int32_t sort_index) {
  AutoLock lock(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

TraceConfig TraceLog::GetCurrentTraceConfig() const {
  AutoLock lock(lock_);
  return trace_config_;
}

std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBuffer() const {
  ThreadTraceContext::ScopedIgnore ignore;
  if (trace_options_ & kOptionRecordContinuously)
    return std::make_unique<TraceBufferRingBuffer>(1000);
  if (trace_options_ & kOptionEchoToConsole)
    return std::make_unique<TraceBufferRingBuffer>(256);
  if (trace_options_ & kOptionRecordAsMuchAsPossible)
    return std::make_unique<TraceBufferVector>(8000000);
  return std::make_unique<TraceBufferVector>(4000);
}

ThreadLocalEventBuffer* TraceLog::InitializeThreadLocalEventBuffer() {
  ThreadLocalEventBuffer* buffer = ThreadLocalEventBuffer::GetForCurrentThread();
  if (buffer && buffer->generation() != generation()) {
    ThreadLocalEventBuffer::DeleteForCurrentThread();
    buffer = nullptr;
  }
  if (!buffer && MessageLoop::current()) {
    ThreadTraceContext::ScopedIgnore ignore;
    // Owned by the thread's slot; deleted with the thread's loop.
    buffer = std::make_unique<ThreadLocalEventBuffer>(this).release();
  }
  return buffer;
}

TraceEvent* TraceLog::AddEventToSharedChunkWhileLocked(
    TraceEventHandle* handle, bool check_buffer_is_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull()) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    if (check_buffer_is_full)
      CheckIfBufferIsFullWhileLocked();
  }
  if (!thread_shared_chunk_)
    return nullptr;
  size_t event_index = 0;
  TraceEvent* event = thread_shared_chunk_->AddTraceEvent(&event_index);
  if (event && handle) {
    *handle = MakeTraceEventHandle(
        thread_shared_chunk_->seq(),
        static_cast<uint32_t>(thread_shared_chunk_index_),
        static_cast<uint32_t>(event_index));
  }
  return event;
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!logged_events_->IsFull())
    return;
  if (buffer_overflow_timestamp_ == 0)
    buffer_overflow_timestamp_ = Now();
  SetDisabledWhileLocked(kRecordingMode);
}

void TraceLog::SetDisabledWhileLocked(uint8_t modes_to_disable) {
  if (!(modes_ & kRecordingMode) || dispatching_to_observers_)
    return;
  modes_ &= ~modes_to_disable;
  trace_config_.Clear();
  UpdateCategoryRegistry();
  AddMetadataEventsWhileLocked();
  metadata_events_.clear();

  dispatching_to_observers_ = true;
  const std::vector<EnabledStateObserver*> observers =
      enabled_state_observers_;
  const std::map<EnabledStateObserver*, AsyncObserver> async_observers =
      async_observers_;
  lock_.Release();
  for (EnabledStateObserver* observer : observers)
    observer->OnTraceLogDisabled();
  for (const auto& [observer, async] : async_observers) {
    if (!async.task_runner)
      continue;
    async.task_runner->PostTask(
        FROM_HERE, Bind(
                       [](EnabledStateObserver* observer,
                          const WeakReference& observer_ref) {
                         if (observer_ref.IsValid())
                           observer->OnTraceLogDisabled();
                       },
                       observer, async.observer_ref));
  }
  lock_.Acquire();
  dispatching_to_observers_ = false;
}

void TraceLog::AddMetadataEventsWhileLocked() {
  ThreadTraceContext::ScopedIgnore ignore;
  for (std::unique_ptr<TraceEvent>& pending : metadata_events_) {
    if (TraceEvent* slot = AddEventToSharedChunkWhileLocked(nullptr, false))
      slot->MoveFrom(*pending);
  }
  const int32_t current_thread = static_cast<int32_t>(GetCurrentThreadId());
  TraceValue value = {};
  SYSTEM_INFO system_info;
  GetSystemInfo(&system_info);
  value.as_int = system_info.dwNumberOfProcessors;
  AddMetadataEventWhileLocked(0, "num_cpus", "number", kTraceValueTypeInt,
                              value);
  if (process_sort_index_ != 0) {
    value.as_int = process_sort_index_;
    AddMetadataEventWhileLocked(current_thread, "process_sort_index",
                                "sort_index", kTraceValueTypeInt, value);
  }
  if (!process_name_.empty()) {
    value.as_string = process_name_.c_str();
    AddMetadataEventWhileLocked(current_thread, "process_name", "name",
                                kTraceValueTypeCopyString, value);
  }
  if (!process_labels_.empty()) {
    std::string labels;
    for (const auto& [id, label] : process_labels_) {
      if (!labels.empty())
        labels += ",";
      labels += label;
    }
    value.as_string = labels.c_str();
    AddMetadataEventWhileLocked(current_thread, "process_labels", "labels",
                                kTraceValueTypeCopyString, value);
  }
  for (const auto& [thread_id, sort_index] : thread_sort_indices_) {
    if (sort_index == 0)
      continue;
    value.as_int = sort_index;
    AddMetadataEventWhileLocked(static_cast<int32_t>(thread_id),
                                "thread_sort_index", "sort_index",
                                kTraceValueTypeInt, value);
  }
  {
    AutoLock thread_info_lock(thread_info_lock_);
    for (const auto& [thread_id, name] : thread_names_) {
      if (name.empty())
        continue;
      value.as_string = name.c_str();
      AddMetadataEventWhileLocked(static_cast<int32_t>(thread_id),
                                  "thread_name", "name",
                                  kTraceValueTypeCopyString, value);
    }
  }
  if (buffer_overflow_timestamp_ != 0) {
    value.as_int = buffer_overflow_timestamp_;
    AddMetadataEventWhileLocked(current_thread, "trace_buffer_overflowed",
                                "overflowed_at_ts", kTraceValueTypeInt, value);
  }
}

void TraceLog::AddMetadataEventWhileLocked(int32_t thread_id,
                                           const char* name,
                                           const char* argument_name,
                                           uint8_t type, TraceValue value) {
  TraceEvent* slot = AddEventToSharedChunkWhileLocked(nullptr, false);
  if (!slot)
    return;
  slot->Initialize(thread_id, 0, 0, kTracePhaseMetadata,
                   &g_categories[kCategoryMetadata], name, nullptr, 0, 0, 1,
                   &argument_name, &type, &value, nullptr, 0);
}

TraceEvent* TraceLog::GetEventByHandle(TraceEventHandle handle,
                                       std::unique_ptr<AutoLock>* lock) {
  if (ThreadLocalEventBuffer* buffer =
          ThreadLocalEventBuffer::GetForCurrentThread()) {
    if (TraceEvent* event = buffer->GetEventByHandle(handle))
      return event;
  }
  *lock = std::make_unique<AutoLock>(lock_);
  const uint32_t event_index = TraceEventHandleEventIndex(handle);
  if (thread_shared_chunk_ &&
      TraceEventHandleChunkIndex(handle) == thread_shared_chunk_index_) {
    if (thread_shared_chunk_->seq() != TraceEventHandleChunkSeq(handle) ||
        event_index >= thread_shared_chunk_->size()) {
      return nullptr;
    }
    return thread_shared_chunk_->GetEventAt(event_index);
  }
  return logged_events_->GetEventByHandle(handle);
}

void TraceLog::UpdateThreadName(int32_t thread_id) {
  const char* name =
      ThreadNameRegistry::GetInstance()->GetName(static_cast<uint32_t>(thread_id));
  // Interned names: the same pointer is the same name.
  if (!*name || name == t_reported_thread_name)
    return;
  t_reported_thread_name = name;
  AutoLock lock(thread_info_lock_);
  std::string& names = thread_names_[static_cast<uint32_t>(thread_id)];
  if (names.empty()) {
    names = name;
  } else if (!NameListContains(names, name)) {
    names += ",";
    names += name;
  }
}

std::string TraceLog::EventToConsoleMessage(char phase, int64_t timestamp,
                                            const TraceEvent& event) {
  ThreadTraceContext::ScopedIgnore ignore;
  AutoLock lock(thread_info_lock_);
  const uint32_t thread_id = static_cast<uint32_t>(event.thread_id());
  std::deque<int64_t>& begin_times = thread_event_start_times_[thread_id];
  // An end without its begin (the begin was dropped, or recording started
  // in between) has no duration to report.
  bool has_duration = false;
  int64_t duration = 0;
  if (phase == kTracePhaseEnd && !begin_times.empty()) {
    duration = timestamp - begin_times.back();
    begin_times.pop_back();
    has_duration = true;
  }
  const std::string thread_name = thread_names_[thread_id];
  auto color = thread_colors_.find(thread_name);
  if (color == thread_colors_.end()) {
    const int next = static_cast<int>(thread_colors_.size() % 6) + 1;
    color = thread_colors_.emplace(thread_name, next).first;
  }
  std::string message =
      FormatString("%s: \033[0;3%dm", thread_name.c_str(), color->second);
  for (size_t i = 0; i < begin_times.size(); ++i)
    message += "| ";
  event.AppendPrettyPrinted(&message);
  if (has_duration) {
    const double ms = duration == std::numeric_limits<int64_t>::max()
                          ? std::numeric_limits<double>::infinity()
                          : duration / 1000.0;
    AppendFormat(&message, " (%.3f ms)", ms);
  }
  message += "\033[0;m";
  if (phase == kTracePhaseBegin)
    begin_times.push_back(timestamp);
  return message;
}

bool TraceLog::OnMemoryDump(const MemoryDumpArgs& args,
                            ProcessMemoryDump* dump) {
  TraceEventMemoryOverhead overhead;
  overhead.Add(kOverheadTraceLog, 1, sizeof(*this), sizeof(*this));
  {
    AutoLock lock(lock_);
    if (logged_events_)
      logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const std::unique_ptr<TraceEvent>& event : metadata_events_)
      event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.Add(kOverheadMemoryOverhead, 1, sizeof(overhead), sizeof(overhead));
  overhead.DumpInto("tracing/main_trace_log", dump);
  return true;
}

void TraceLog::SetEnabledForTesting(const TraceConfig& config, uint8_t modes,
                                    uint32_t options) {
  std::vector<EnabledStateObserver*> observers;
  {
    AutoLock lock(lock_);
    if (dispatching_to_observers_)
      return;
    const bool starts_recording =
        (modes & kRecordingMode) && !(modes_ & kRecordingMode);
    modes_ |= modes;
    trace_options_ = options;
    trace_config_ = config;
    if (starts_recording) {
      logged_events_ = CreateTraceBuffer();
      generation_.fetch_add(1, std::memory_order_acq_rel);
      thread_shared_chunk_.reset();
      buffer_overflow_timestamp_ = 0;
    }
    UpdateCategoryRegistry();
    dispatching_to_observers_ = true;
    observers = enabled_state_observers_;
  }
  for (EnabledStateObserver* observer : observers)
    observer->OnTraceLogEnabled();
  AutoLock lock(lock_);
  dispatching_to_observers_ = false;
}

void TraceLog::SetDisabledForTesting() {
  AutoLock lock(lock_);
  SetDisabledWhileLocked(kRecordingMode | kFilteringMode);
}

std::string TraceLog::FlushForTesting() {
  AutoLock lock(lock_);
  if (thread_shared_chunk_) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_,
                                std::move(thread_shared_chunk_));
  }
  std::string json = "[";
  bool first = true;
  while (const TraceBufferChunk* chunk = logged_events_->NextChunk()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      if (!first)
        json += ",";
      first = false;
      chunk->GetEventAt(i)->AppendAsJSON(&json, {});
    }
  }
  json += "]";
  logged_events_ = CreateTraceBuffer();
  generation_.fetch_add(1, std::memory_order_acq_rel);
  return json;
}

}  // namespace base

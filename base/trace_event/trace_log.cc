#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/lazy_global.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event_etw_export.h"

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

constinit std::atomic<uintptr_t> g_instance{LazyGlobal::kNotCreated};
// The thread that is building the log, while it does.
constinit std::atomic<DWORD> g_instance_maker{0};

// Set while this thread makes the event-tracing export.
thread_local bool t_making_etw_export = false;

TraceCategory* FindCategory(const char* category_group) {
  const size_t count = g_category_count.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (std::strcmp(g_categories[i].name, category_group) == 0)
      return &g_categories[i];
  }
  return nullptr;
}

const char* CopyName(const char* name) {
  const size_t length = std::strlen(name) + 1;
  std::unique_ptr<char[]> copy = std::make_unique<char[]>(length);
  std::memcpy(copy.get(), name, length);
  // Held by the table for the life of the process.
  return copy.release();
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
const TraceCategory* TraceLog::CategoryOf(const uint8_t* category_enabled) {
  // The state byte is a record's first member.
  return reinterpret_cast<const TraceCategory*>(category_enabled);
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

}  // namespace base

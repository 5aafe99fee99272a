#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/trace_event/trace_event_handle.h"
#include "base/weak_reference.h"

namespace base {

class MessageLoop;
class ThreadLocalEventBuffer;

// A category group records while its enabled byte has any of these bits.
inline constexpr uint8_t kCategoryGroupEnabledMask = 0x19;
// Flags of task flow events: an id, made unique per process, and the flow's
// direction.
inline constexpr uint32_t kTraceFlagsTaskFlowOut =
    kTraceFlagHasId | kTraceFlagMangleId | kTraceFlagFlowOut;
inline constexpr uint32_t kTraceFlagsTaskFlowIn =
    kTraceFlagHasId | kTraceFlagMangleId | kTraceFlagFlowIn;
// Types of event arguments; a string argument's value holds its pointer.
inline constexpr uint8_t kTraceArgumentInt = kTraceValueTypeInt;
inline constexpr uint8_t kTraceArgumentString = kTraceValueTypeString;

// The process's trace log: the table of trace categories whose state byte
// every instrumented place reads before it adds an event, and the recording
// of events into a trace buffer. Nothing in the program switches recording
// or filtering on, so every byte stays 0; tests do, through the operations
// marked for testing.
class TraceLog : public MemoryDumpProvider {
 public:
  static constexpr size_t kMaxCategories = 200;

  // Bits of a category's state byte.
  static constexpr uint8_t kCategoryRecording = 1;
  static constexpr uint8_t kCategoryEtwExport = 8;
  static constexpr uint8_t kCategoryFiltering = 16;

  // Bits of the log's modes.
  static constexpr uint8_t kRecordingMode = 1;
  static constexpr uint8_t kFilteringMode = 2;

  // Trace options; without 2, 8 or 16 the buffer records until full.
  static constexpr uint32_t kOptionRecordUntilFull = 1;
  static constexpr uint32_t kOptionRecordContinuously = 2;
  static constexpr uint32_t kOptionEchoToConsole = 8;
  static constexpr uint32_t kOptionRecordAsMuchAsPossible = 16;

  // The most event filters the log makes, one bit each in a category's
  // filter bitmap.
  static constexpr size_t kMaxEventFilters = 32;

  class EnabledStateObserver {
   public:
    virtual ~EnabledStateObserver() = default;
    virtual void OnTraceLogEnabled() = 0;
    virtual void OnTraceLogDisabled() = 0;
  };

  // Makes the filter of a configuration whose predicate the log does not
  // know; null makes none.
  using FilterFactory =
      std::unique_ptr<TraceEventFilter> (*)(const std::string& predicate_name);

  // Made on first use, never destroyed.
  static TraceLog* GetInstance();
  ~TraceLog() override;

  // The group's state byte, valid for the life of the process; never null.
  // Callers cache the pointer.
  static const uint8_t* GetCategoryEnabledFlag(const char* category_group);
  // The name of the group whose byte this is.
  static const char* GetCategoryGroupName(const uint8_t* category_enabled);

  // Adds one event (at most two arguments); an empty handle when nothing was
  // recorded. Convertable arguments (type 8) are taken from `convertables`.
  TraceEventHandle AddEvent(
      char phase, const uint8_t* category_enabled, const char* name,
      const char* scope, uint64_t id, uint64_t bind_id, int32_t thread_id,
      int64_t timestamp_us, int argument_count, const char* const* names,
      const uint8_t* types, const TraceValue* values,
      std::unique_ptr<ConvertableToTraceFormat>* convertables,
      uint32_t flags);
  // The base library's form: no scope, no convertables, values as words.
  TraceEventHandle AddEvent(char phase, const uint8_t* category_enabled,
                            const char* name, uint64_t id, uint64_t bind_id,
                            uint32_t thread_id, int64_t timestamp_us,
                            int argument_count, const char* const* names,
                            const uint8_t* types, const uint64_t* values,
                            uint32_t flags);

  // Closes a complete event; its duration runs up to now.
  void CompleteEventDuration(const uint8_t* category_enabled, const char* name,
                             TraceEventHandle handle);

  // A metadata event with one convertable argument, kept until recording
  // stops.
  void AddMetadataEvent(const uint8_t* category_enabled, const char* name,
                        const char* argument_name,
                        std::unique_ptr<ConvertableToTraceFormat> value);

  void AddEnabledStateObserver(EnabledStateObserver* observer);
  void RemoveEnabledStateObserver(EnabledStateObserver* observer);
  // Told of a disabling by a task on the calling thread's runner, while
  // `observer_ref` is valid.
  void AddAsyncEnabledStateObserver(EnabledStateObserver* observer,
                                    WeakReference observer_ref);
  void RemoveAsyncEnabledStateObserver(EnabledStateObserver* observer);

  void SetFilterFactory(FilterFactory factory);
  void SetProcessName(const std::string& name);
  void SetProcessSortIndex(int32_t sort_index);
  void UpdateProcessLabel(int label_id, const std::string& label);
  void SetThreadSortIndex(uint32_t thread_id, int32_t sort_index);

  // Gives the calling thread its own event chunk while recording, when it
  // has a message loop; null otherwise.
  ThreadLocalEventBuffer* InitializeThreadLocalEventBuffer();

  // A copy of the trace configuration in force.
  TraceConfig GetCurrentTraceConfig() const;

  bool OnMemoryDump(const MemoryDumpArgs& args,
                    ProcessMemoryDump* dump) override;

  // The process the events and memory dumps are of, and its one-step 64-bit
  // FNV-1a hash, which makes ids unique per process.
  int32_t process_id() const { return process_id_; }
  uint64_t process_id_hash() const { return process_id_hash_; }

  // Nothing in the program records: tests switch the modes on with a
  // configuration and options, then off again, and read the events back
  // as a JSON array. A flush leaves a fresh buffer; events still in the
  // chunk of a thread whose loop lives on are not in it.
  void SetEnabledForTesting(const TraceConfig& config, uint8_t modes,
                            uint32_t options);
  void SetDisabledForTesting();
  std::string FlushForTesting();
  // The category table as it stands, records in order.
  static std::vector<const TraceCategory*> GetCategoriesForTesting();

 private:
  friend class ThreadLocalEventBuffer;

  struct AsyncObserver {
    RefPtr<SequencedTaskRunner> task_runner;
    WeakReference observer_ref;
  };

  TraceLog();

  // The instance, the category table, the modes and the metadata written
  // when recording stops (trace_log.cc).
  static void Create();
  // The record whose state byte `category_enabled` is.
  static const TraceCategory* CategoryOf(const uint8_t* category_enabled);
  const uint8_t* AddCategory(const char* category_group);
  void UpdateCategoryEnabledFlag(TraceCategory* category);
  void UpdateCategoryRegistry();
  void SetDisabledWhileLocked(uint8_t modes_to_disable);
  void AddMetadataEventsWhileLocked();
  void AddMetadataEventWhileLocked(int32_t thread_id, const char* name,
                                   const char* argument_name, uint8_t type,
                                   TraceValue value);

  // Event filters (trace_log_filters.cc).
  void CreateFilters();
  std::unique_ptr<TraceEventFilter> CreateFilter(
      const EventFilterConfig& config);
  bool FilterEvent(const TraceEvent& event) const;
  void EndEventWithFilters(const uint8_t* category_enabled,
                           const char* name) const;

  // Adding events (trace_log_events.cc).
  // The time events are stamped with: the tick clock, in microseconds.
  static int64_t Now();
  void UpdateThreadName(int32_t thread_id);
  std::string EventToConsoleMessage(char phase, int64_t timestamp,
                                    const TraceEvent& event);

  // The buffer (trace_log_buffer.cc).
  std::unique_ptr<TraceBuffer> CreateTraceBuffer() const;
  TraceEvent* AddEventToSharedChunkWhileLocked(TraceEventHandle* handle,
                                               bool check_buffer_is_full);
  void CheckIfBufferIsFullWhileLocked();
  // Takes the main lock into `lock` when the event is not in this thread's
  // own chunk.
  TraceEvent* GetEventByHandle(TraceEventHandle handle,
                               std::unique_ptr<AutoLock>* lock);
  uint32_t generation() const {
    return generation_.load(std::memory_order_acquire);
  }

  // Guards the buffer, the shared chunk, metadata events, observers, the
  // modes, the options, the configuration and the category computation.
  mutable Lock lock_;
  // Guards thread names, begin-time stacks and colours; taken inside
  // `lock_` where both are held.
  Lock thread_info_lock_;
  uint8_t modes_ = 0;
  std::unique_ptr<TraceBuffer> logged_events_;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;
  bool dispatching_to_observers_ = false;
  std::vector<EnabledStateObserver*> enabled_state_observers_;
  std::map<EnabledStateObserver*, AsyncObserver> async_observers_;
  std::string process_name_;
  std::unordered_map<int, std::string> process_labels_;
  int32_t process_sort_index_ = 0;
  std::unordered_map<uint32_t, int32_t> thread_sort_indices_;
  // Several names of one thread are joined by ",".
  std::unordered_map<uint32_t, std::string> thread_names_;
  std::unordered_map<uint32_t, std::deque<int64_t>> thread_event_start_times_;
  std::map<std::string, int> thread_colors_;
  // 0 while the buffer never filled.
  int64_t buffer_overflow_timestamp_ = 0;
  const int32_t process_id_;
  const uint64_t process_id_hash_;
  uint32_t trace_options_ = kOptionRecordUntilFull;
  TraceConfig trace_config_;
  FilterFactory filter_factory_ = nullptr;
  // The loops of threads that own a thread-local buffer.
  std::set<MessageLoop*> thread_message_loops_;
  std::unique_ptr<TraceBufferChunk> thread_shared_chunk_;
  size_t thread_shared_chunk_index_ = 0;
  // A thread-local buffer of another generation belongs to an older buffer.
  std::atomic<uint32_t> generation_{0};
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_

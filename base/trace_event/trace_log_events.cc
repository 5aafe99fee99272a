// Adding events to the trace log: the checks every instrumented place passes
// through, the event built once for the filters and the buffer, the
// duration of a complete event, and the echo to the console with each
// thread's name.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <memory>
#include <string>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_tokenizer.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/time/tsc.h"
#include "base/trace_event/thread_local_event_buffer.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event_etw_export.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// Per thread; only touched while something records.
thread_local bool t_inside_event_creation = false;
thread_local const char* t_reported_thread_name = nullptr;

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

uint8_t LoadState(const uint8_t* category_enabled) {
  return std::atomic_ref<const uint8_t>(*category_enabled)
      .load(std::memory_order_relaxed);
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
int64_t TraceLog::Now() {
  return TickTime::Now().ToInternalValue();
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

}  // namespace base

#include "base/trace_event/memory_dump_manager.h"

#include <windows.h>

#include <string>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/lazy_global.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/metrics/thread_heap_usage.h"
#include "base/threading/thread.h"
#include "base/time/tick_time.h"
#include "base/trace_event/memory_dump_scheduler.h"
#include "base/trace_event/thread_trace_context.h"

namespace base {

namespace {

constexpr char kGlobalDumpEvent[] = "GlobalMemoryDump";
constexpr uint32_t kGlobalDumpEventFlags =
    kTraceFlagHasId | kTraceFlagMangleId;

constinit std::atomic<uintptr_t> g_instance{LazyGlobal::kNotCreated};
constinit std::atomic<DWORD> g_instance_maker{0};
// Counts the manager's creation and every dump request.
constinit std::atomic<uint64_t> g_dump_guid_counter{0};

const uint8_t* MemoryInfraCategory() {
  static const uint8_t* const category =
      TraceLog::GetCategoryEnabledFlag(MemoryDumpManager::kTraceCategory);
  return category;
}

bool MemoryInfraTraced() {
  return (*MemoryInfraCategory() & kCategoryGroupEnabledMask) != 0;
}

void AddGlobalDumpEvent(char phase, uint64_t guid, int argument_count,
                        const char* argument_name, bool success) {
  const uint8_t type = kTraceValueTypeBool;
  TraceValue value = {};
  value.as_bool = success;
  TraceLog::GetInstance()->AddEvent(
      phase, MemoryInfraCategory(), kGlobalDumpEvent, nullptr, guid, 0,
      static_cast<int32_t>(GetCurrentThreadId()),
      TickTime::Now().ToInternalValue(), argument_count, &argument_name,
      &type, &value, nullptr, kGlobalDumpEventFlags);
}

// Writes one of the session's tables when the trace is written out; holds
// the session so that the table outlives the tracing period.
class SessionTableWriter : public ConvertableToTraceFormat {
 public:
  using Table = ConvertableToTraceFormat* (*)(const MemoryDumpSessionState&);

  SessionTableWriter(RefPtr<MemoryDumpSessionState> session, Table table)
      : session_(std::move(session)), table_(table) {}

  void AppendAsTraceFormat(std::string* out) const override {
    table_(*session_)->AppendAsTraceFormat(out);
  }
  void EstimateTraceMemoryOverhead(
      TraceEventMemoryOverhead* overhead) override {
    table_(*session_)->EstimateTraceMemoryOverhead(overhead);
  }

 private:
  RefPtr<MemoryDumpSessionState> session_;
  Table table_;
};

ConvertableToTraceFormat* StackFrames(const MemoryDumpSessionState& session) {
  return session.stack_frame_deduplicator();
}

ConvertableToTraceFormat* TypeNames(const MemoryDumpSessionState& session) {
  return session.type_name_deduplicator();
}

}  // namespace

// static
MemoryDumpManager* MemoryDumpManager::GetInstance() {
  const uintptr_t value = g_instance.load(std::memory_order_acquire);
  if (value > LazyGlobal::kBeingCreated)
    return reinterpret_cast<MemoryDumpManager*>(value);
  Create();
  return reinterpret_cast<MemoryDumpManager*>(
      g_instance.load(std::memory_order_acquire));
}

// static
void MemoryDumpManager::Create() {
  uintptr_t expected = LazyGlobal::kNotCreated;
  if (g_instance.compare_exchange_strong(expected, LazyGlobal::kBeingCreated,
                                         std::memory_order_acq_rel)) {
    g_instance_maker.store(GetCurrentThreadId(), std::memory_order_release);
    // Owned through the instance word for the life of the process.
    MemoryDumpManager* manager =
        std::unique_ptr<MemoryDumpManager>(new MemoryDumpManager()).release();
    g_instance.store(reinterpret_cast<uintptr_t>(manager),
                     std::memory_order_release);
    g_instance_maker.store(0, std::memory_order_release);
    return;
  }
  CHECK(g_instance_maker.load(std::memory_order_acquire) !=
        GetCurrentThreadId())
      << "the memory-dump manager is asked for inside its own construction";
  LazyGlobal::WaitForInstance(g_instance);
}

MemoryDumpManager::MemoryDumpManager() {
  g_dump_guid_counter.fetch_add(1, std::memory_order_relaxed);
  EnableHeapProfilingIfNeeded();
}

// Never runs: the manager lives as long as the process.
MemoryDumpManager::~MemoryDumpManager() {
  TraceLog::GetInstance()->RemoveEnabledStateObserver(this);
}

void MemoryDumpManager::EnableHeapProfilingIfNeeded() {
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (heap_profiling_enabled_ || !command_line ||
      !command_line->HasSwitch(kHeapProfilingSwitch)) {
    return;
  }
  const std::wstring value =
      command_line->GetSwitchValueNative(kHeapProfilingSwitch);
  if (value.empty()) {
    ThreadTraceContext::SetCaptureMode(ThreadTraceContext::kCapturePseudoStack);
  } else if (command_line->GetSwitchValueASCII(kHeapProfilingSwitch) ==
             kHeapProfilingTaskProfiler) {
    if (!HeapUsageHooksInserted())
      InsertHeapUsageHooks();
  } else {
    LOG(ERROR) << "Unknown --" << kHeapProfilingSwitch
               << " value; heap profiling stays off";
    return;
  }
  // The set is empty while the manager is being made; kept for a later
  // call with providers in it.
  ProviderSet providers;
  {
    AutoLock lock(lock_);
    providers = dump_providers_;
  }
  for (const RefPtr<MemoryDumpProviderInfo>& info : providers)
    info->provider->OnHeapProfilingEnabled(true);
  heap_profiling_enabled_ = true;
}

void MemoryDumpManager::RegisterDumpProvider(
    MemoryDumpProvider* provider, const char* name,
    RefPtr<SequencedTaskRunner> task_runner) {
  RegisterDumpProviderInternal(provider, name, std::move(task_runner),
                               MemoryDumpProviderOptions());
}

void MemoryDumpManager::RegisterDumpProviderInternal(
    MemoryDumpProvider* provider, const char* name,
    RefPtr<SequencedTaskRunner> task_runner,
    const MemoryDumpProviderOptions& options) {
  RefPtr<MemoryDumpProviderInfo> info = MakeRefCounted<MemoryDumpProviderInfo>(
      provider, name, std::move(task_runner), options);
  {
    AutoLock lock(lock_);
    if (!dump_providers_.insert(info).second)
      return;
    if (options.is_fast_polling_supported && dump_thread_) {
      dump_thread_->GetTaskRunner()->PostTask(
          FROM_HERE, Bind(&MemoryDumpManager::AddToPollingSet, this, info));
    }
  }
  if (heap_profiling_enabled_)
    provider->OnHeapProfilingEnabled(true);
}

void MemoryDumpManager::UnregisterDumpProviderInternal(
    MemoryDumpProvider* provider) {
  AutoLock lock(lock_);
  for (auto it = dump_providers_.begin(); it != dump_providers_.end(); ++it) {
    const RefPtr<MemoryDumpProviderInfo>& info = *it;
    if (info->provider != provider)
      continue;
    if (info->options.is_fast_polling_supported && dump_thread_) {
      dump_thread_->GetTaskRunner()->PostTask(
          FROM_HERE,
          Bind(&MemoryDumpManager::RemoveFromPollingSet, this, info));
    }
    info->disabled = true;
    dump_providers_.erase(it);
    return;
  }
}

void MemoryDumpManager::AddToPollingSet(RefPtr<MemoryDumpProviderInfo> info) {
  AutoLock lock(lock_);
  dump_providers_for_polling_.insert(std::move(info));
  if (dump_providers_for_polling_.size() == 1 && dump_scheduler_)
    dump_scheduler_->NotifyPollingSupported();
}

void MemoryDumpManager::RemoveFromPollingSet(
    RefPtr<MemoryDumpProviderInfo> info) {
  info->provider->SuspendFastMemoryPolling();
  AutoLock lock(lock_);
  dump_providers_for_polling_.erase(info);
}

uint64_t MemoryDumpManager::NextDumpGuid() {
  const uint64_t count =
      g_dump_guid_counter.fetch_add(1, std::memory_order_relaxed);
  return count ^ TraceLog::GetInstance()->process_id_hash();
}

void MemoryDumpManager::RequestGlobalDump(uint32_t dump_type,
                                          int level_of_detail,
                                          GlobalDumpCallback callback) {
  if (!memory_tracing_enabled_.load(std::memory_order_acquire) ||
      !IsDumpModeAllowed(level_of_detail)) {
    VLOG(1) << "Memory-infra dump failed because " << kTraceCategory
            << " tracing category is not enabled or the requested dump mode "
               "is not allowed by trace config.";
    if (callback)
      callback.Run(0, false);
    return;
  }
  const uint64_t guid = NextDumpGuid();
  if (MemoryInfraTraced())
    AddGlobalDumpEvent('b', guid, 0, nullptr, false);
  GlobalDumpCallback done = Bind<void(uint64_t, bool)>(
      [](const GlobalDumpCallback& callback, uint64_t guid, bool success) {
        if (MemoryInfraTraced())
          AddGlobalDumpEvent('e', guid, 1, "success", success);
        if (callback)
          callback.Run(guid, success);
      },
      std::move(callback));
  Delegate* delegate;
  {
    AutoLock lock(lock_);
    delegate = delegate_;
  }
  // Without a delegate nothing collects the dump.
  if (!delegate) {
    done.Run(guid, false);
    return;
  }
  delegate->RequestGlobalMemoryDump({guid, dump_type, level_of_detail},
                                    std::move(done));
}

bool MemoryDumpManager::IsDumpModeAllowed(int level_of_detail) const {
  AutoLock lock(lock_);
  return session_state_ && session_state_->IsDumpModeAllowed(level_of_detail);
}

uint64_t MemoryDumpManager::PollFastMemoryTotal() {
  ProviderSet providers;
  {
    AutoLock lock(lock_);
    providers = dump_providers_for_polling_;
  }
  uint64_t total = 0;
  for (const RefPtr<MemoryDumpProviderInfo>& info : providers) {
    uint64_t provider_total = 0;
    info->provider->PollFastMemoryTotal(&provider_total);
    total += provider_total;
  }
  return total;
}

void MemoryDumpManager::OnTraceLogEnabled() {
  constexpr uint8_t kDumpingBits =
      TraceLog::kCategoryRecording | TraceLog::kCategoryEtwExport;
  if (!(*MemoryInfraCategory() & kDumpingBits))
    return;
  TraceLog::GetInstance()->InitializeThreadLocalEventBuffer();
  StartSession();
}

void MemoryDumpManager::StartSession() {
  auto thread = std::make_unique<Thread>("MemoryInfra");
  if (!thread->Start()) {
    LOG(ERROR) << "Failed to start the memory-infra thread for tracing";
    return;
  }
  const TraceConfig config = TraceLog::GetInstance()->GetCurrentTraceConfig();
  RefPtr<MemoryDumpSessionState> session =
      MakeRefCounted<MemoryDumpSessionState>(
          config.allowed_dump_levels(),
          config.heap_breakdown_threshold_bytes());
  if (heap_profiling_enabled_) {
    session->CreateDeduplicators();
    TraceLog* log = TraceLog::GetInstance();
    const uint8_t* metadata = TraceLog::GetCategoryEnabledFlag("__metadata");
    log->AddMetadataEvent(
        metadata, "stackFrames", "stackFrames",
        std::make_unique<SessionTableWriter>(session, &StackFrames));
    log->AddMetadataEvent(
        metadata, "typeNames", "typeNames",
        std::make_unique<SessionTableWriter>(session, &TypeNames));
  }

  auto scheduler =
      std::make_unique<MemoryDumpScheduler>(this, thread->GetTaskRunner());
  for (const TraceConfig::MemoryDumpTrigger& trigger :
       config.memory_dump_triggers()) {
    const int level = static_cast<int>(trigger.level_of_detail);
    if (session->IsDumpModeAllowed(level)) {
      scheduler->AddTrigger(trigger.trigger_type, level,
                            trigger.min_time_between_dumps_ms);
    }
  }

  AutoLock lock(lock_);
  session_state_ = std::move(session);
  dump_thread_ = std::move(thread);
  dump_scheduler_ = std::move(scheduler);
  memory_tracing_enabled_.store(1, std::memory_order_release);
  for (const RefPtr<MemoryDumpProviderInfo>& info : dump_providers_) {
    if (info->options.is_fast_polling_supported)
      dump_providers_for_polling_.insert(info);
  }
  if (!dump_providers_for_polling_.empty())
    dump_scheduler_->NotifyPollingSupported();
  if (is_coordinator_)
    dump_scheduler_->NotifyPeriodicTriggerSupported();
}

void MemoryDumpManager::OnTraceLogDisabled() {
  if (!memory_tracing_enabled_.exchange(0, std::memory_order_acq_rel))
    return;
  std::unique_ptr<Thread> thread;
  std::unique_ptr<MemoryDumpScheduler> scheduler;
  {
    AutoLock lock(lock_);
    thread = std::move(dump_thread_);
    scheduler = std::move(dump_scheduler_);
    session_state_ = nullptr;
  }
  if (scheduler) {
    scheduler->DisablePeriodicTrigger();
    scheduler->DisablePolling();
  }
  // Runs the queued stop of the polling before the thread ends; the
  // scheduler's posted polls hold it unretained, so it goes after.
  thread.reset();
  scheduler.reset();
  ProviderSet polling;
  {
    AutoLock lock(lock_);
    polling.swap(dump_providers_for_polling_);
  }
  for (const RefPtr<MemoryDumpProviderInfo>& info : polling)
    info->provider->SuspendFastMemoryPolling();
}

std::vector<MemoryDumpManager::ProviderRecord>
MemoryDumpManager::GetDumpProvidersForTesting() const {
  AutoLock lock(lock_);
  std::vector<ProviderRecord> records;
  for (const RefPtr<MemoryDumpProviderInfo>& info : dump_providers_) {
    records.push_back({info->name, info->whitelisted_for_background_mode,
                       info->task_runner != nullptr});
  }
  return records;
}

size_t MemoryDumpManager::GetPollingProviderCountForTesting() const {
  AutoLock lock(lock_);
  return dump_providers_for_polling_.size();
}

void MemoryDumpManager::SetDelegateForTesting(Delegate* delegate) {
  AutoLock lock(lock_);
  delegate_ = delegate;
}

}  // namespace base

#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "base/trace_event/memory_dump_session_state.h"
#include "base/trace_event/trace_log.h"

namespace base {

class MemoryDumpScheduler;
class Thread;

// The process's registry of memory-dump providers, and the coordinator of
// memory dumps while tracing asks for them. At its creation it decides, from
// the command line, whether heap profiling is on. Nothing in the program
// switches tracing on, so its dump thread, session and scheduler stay
// unmade; tests make them through the trace log's test switches.
class MemoryDumpManager : public TraceLog::EnabledStateObserver {
 public:
  static constexpr char kTraceCategory[] = "disabled-by-default-memory-infra";
  static constexpr char kHeapProfilingSwitch[] = "enable-heap-profiling";
  static constexpr char kHeapProfilingTaskProfiler[] = "task-profiler";

  // Dump trigger types.
  static constexpr uint32_t kDumpTypePeriodicInterval = 0;
  static constexpr uint32_t kDumpTypePeakMemoryUsage = 2;

  struct GlobalDumpRequest {
    uint64_t dump_guid;
    uint32_t dump_type;
    int level_of_detail;
  };
  using GlobalDumpCallback = Callback<void(uint64_t dump_guid, bool success)>;

  // Collects the process dumps of a global dump and answers its callback.
  // Nothing in the program sets one.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void RequestGlobalMemoryDump(const GlobalDumpRequest& request,
                                         GlobalDumpCallback callback) = 0;
  };

  // Made on first use (with the trace log), never destroyed.
  static MemoryDumpManager* GetInstance();
  ~MemoryDumpManager() override;

  // Default options. `name` is a literal; `task_runner` may be null (any
  // thread). One registration per (task runner, provider).
  void RegisterDumpProvider(MemoryDumpProvider* provider, const char* name,
                            RefPtr<SequencedTaskRunner> task_runner);
  void RegisterDumpProviderInternal(MemoryDumpProvider* provider,
                                    const char* name,
                                    RefPtr<SequencedTaskRunner> task_runner,
                                    const MemoryDumpProviderOptions& options);
  void UnregisterDumpProviderInternal(MemoryDumpProvider* provider);

  // Outside a session, or for a level the session does not allow, the
  // callback (if any) is answered at once with (0, false).
  void RequestGlobalDump(uint32_t dump_type, int level_of_detail,
                         GlobalDumpCallback callback);
  bool IsDumpModeAllowed(int level_of_detail) const;
  // The sum of the fast-polling providers' totals; on the dump thread.
  uint64_t PollFastMemoryTotal();

  bool is_heap_profiling_enabled() const { return heap_profiling_enabled_; }

  void OnTraceLogEnabled() override;
  void OnTraceLogDisabled() override;

  struct ProviderRecord {
    const char* name;
    bool whitelisted_for_background_mode;
    bool has_task_runner;
  };
  std::vector<ProviderRecord> GetDumpProvidersForTesting() const;
  size_t GetPollingProviderCountForTesting() const;
  void SetDelegateForTesting(Delegate* delegate);

 private:
  using ProviderSet = std::set<RefPtr<MemoryDumpProviderInfo>,
                               MemoryDumpProviderInfo::Order>;

  MemoryDumpManager();

  static void Create();
  void EnableHeapProfilingIfNeeded();
  uint64_t NextDumpGuid();
  void AddToPollingSet(RefPtr<MemoryDumpProviderInfo> info);
  void RemoveFromPollingSet(RefPtr<MemoryDumpProviderInfo> info);
  void StartSession();

  ProviderSet dump_providers_;
  ProviderSet dump_providers_for_polling_;
  RefPtr<MemoryDumpSessionState> session_state_;
  Delegate* delegate_ = nullptr;
  // Never set here: the periodic trigger runs only in a coordinator.
  bool is_coordinator_ = false;
  // Guards the sets, the session, the scheduler, the thread and the
  // delegate.
  mutable Lock lock_;
  std::atomic<int> memory_tracing_enabled_{0};
  std::unique_ptr<MemoryDumpScheduler> dump_scheduler_;
  std::unique_ptr<Thread> dump_thread_;
  // Written once, in the constructor.
  bool heap_profiling_enabled_ = false;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

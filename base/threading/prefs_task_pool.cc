#include "base/threading/prefs_task_pool.h"

#include <windows.h>

#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/time/tick_time.h"

namespace base {

namespace {

constexpr char kThreadNamePrefix[] = "PrefsTaskPool";
constexpr DWORD kWaitStepMs = 100;

constinit LazyGlobalInstance<PrefsTaskPool> g_prefs_task_pool(
    LazyGlobalLifetime::kDestroyAtExit);

}  // namespace

PrefsTaskPool::PrefsTaskPool()
    : pool_(MakeRefCounted<SequencedWorkerPool>(kMaxThreads,
                                                kThreadNamePrefix)) {}

PrefsTaskPool::~PrefsTaskPool() {
  Shutdown();
}

void PrefsTaskPool::Shutdown() {
  if (!pool_)
    return;
  pool_->Shutdown();
  if (wait_for_last_reference_)
    WaitForOtherHolders();
  pool_.reset();
}

void PrefsTaskPool::WaitForOtherHolders() {
  const TickTime start = TickTime::Now();
  while (pool_->IsHeldByRunnersOrWorkers()) {
    if (TickTime::Now() - start >= wait_limit_) {
      LOG(WARNING) << "PrefsTaskPool is still held after "
                   << wait_limit_.InMilliseconds() << " ms; letting go of it";
      return;
    }
    Sleep(kWaitStepMs);
  }
}

PrefsTaskPool* GetPrefsTaskPool() {
  return g_prefs_task_pool.Get();
}

}  // namespace base

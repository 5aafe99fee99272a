#include "base/threading/prefs_task_pool.h"

#include <windows.h>

#include <algorithm>

#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/time/tick_time.h"

namespace base {

namespace {

constexpr char kThreadNamePrefix[] = "PrefsTaskPool";
// The pool's workers let go of it a moment after its shutdown, as their
// threads end: the first checks come soon, the later ones no more often
// than every 100 ms.
constexpr DWORD kFirstWaitStepMs = 1;
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
  DWORD step = kFirstWaitStepMs;
  while (pool_->IsHeldByRunnersOrWorkers()) {
    if (TickTime::Now() - start >= wait_limit_) {
      LOG(WARNING) << "PrefsTaskPool is still held after "
                   << wait_limit_.InMilliseconds() << " ms; letting go of it";
      return;
    }
    Sleep(step);
    step = std::min(step * 2, kWaitStepMs);
  }
}

PrefsTaskPool* GetPrefsTaskPool() {
  return g_prefs_task_pool.Get();
}

}  // namespace base

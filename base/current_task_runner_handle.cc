#include "base/current_task_runner_handle.h"

#include <atomic>

namespace base {

namespace {

// A plain thread_local pointer rather than a Windows TLS index: it needs no
// lazily made slot and has no failure path, it is lock-free, and being
// trivially destructible it cannot run into thread-exit ordering.
constinit thread_local CurrentTaskRunnerHandle* t_current_handle = nullptr;

std::atomic<PoolSequenceRunnerGetter> g_pool_sequence_runner_getter{nullptr};

}  // namespace

CurrentTaskRunnerHandle::CurrentTaskRunnerHandle(
    RefPtr<SequencedTaskRunner> runner)
    : runner_(std::move(runner)) {
  t_current_handle = this;
}

CurrentTaskRunnerHandle::~CurrentTaskRunnerHandle() {
  // A handle installed after this one keeps the slot.
  if (t_current_handle == this)
    t_current_handle = nullptr;
}

// static
RefPtr<SequencedTaskRunner> CurrentTaskRunnerHandle::Get() {
  return t_current_handle ? t_current_handle->runner_ : nullptr;
}

RefPtr<SequencedTaskRunner> GetCurrentSequencedTaskRunner() {
  if (RefPtr<SequencedTaskRunner> runner = CurrentTaskRunnerHandle::Get())
    return runner;
  // Neither a loop thread nor, without a pool, a pool worker: no runner.
  PoolSequenceRunnerGetter getter = g_pool_sequence_runner_getter.load();
  return getter ? getter() : nullptr;
}

void SetPoolSequenceRunnerGetter(PoolSequenceRunnerGetter getter) {
  g_pool_sequence_runner_getter.store(getter);
}

}  // namespace base

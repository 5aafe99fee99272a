#include "base/threading/pool_worker.h"

#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_com_initializer.h"

namespace base {

namespace {

// thread_local rather than a TLS slot: set once per worker, lock-free, no
// failure path, and trivially destructible at thread exit.
constinit thread_local PoolWorker* t_current_worker = nullptr;

std::string WorkerName(StringSlice prefix, int thread_number) {
  return prefix.AsString() + "Worker" + IntToString(thread_number);
}

}  // namespace

PoolWorker::PoolWorker(RefPtr<SequencedWorkerPool> pool, int thread_number,
                       StringSlice prefix)
    : RunnableThread(WorkerName(prefix, thread_number)),
      pool_(std::move(pool)) {
  pool_->AddHolder();
}

PoolWorker::~PoolWorker() {
  ReleasePool();
}

void PoolWorker::set_running_task_info(
    int32_t token, SequencedWorkerPool::ShutdownBehavior behavior) {
  task_sequence_token_ = token;
  task_shutdown_behavior_ = behavior;
  is_processing_task_ = true;
}

void PoolWorker::Run() {
  // Status computations use COM objects of the apartment-threaded kind.
  win::ScopedCOMInitializer com(
      win::ScopedCOMInitializer::Apartment::kSingleThreaded);
  t_current_worker = this;
  pool_->ThreadLoop(*this);
  ReleasePool();
  t_current_worker = nullptr;
}

void PoolWorker::ReleasePool() {
  if (!pool_)
    return;
  pool_->RemoveHolder();
  pool_.reset();
}

PoolWorker* GetCurrentPoolWorker() {
  return t_current_worker;
}

}  // namespace base

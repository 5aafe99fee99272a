#ifndef BASE_THREADING_POOL_WORKER_H_
#define BASE_THREADING_POOL_WORKER_H_

#include <cstdint>
#include <string>

#include "base/ref_counted.h"
#include "base/strings/string_slice.h"
#include "base/threading/runnable_thread.h"
#include "base/threading/sequenced_worker_pool.h"

namespace base {

// One worker thread of a `SequencedWorkerPool`: runs the pool's task loop
// with COM initialised apartment-threaded. The pool's threads map owns it
// once it runs; the pool joins and deletes it.
class PoolWorker : public RunnableThread {
 public:
  // Named `prefix` + "Worker" + `thread_number` (numbers start at 1).
  PoolWorker(RefPtr<SequencedWorkerPool> pool, int thread_number,
             StringSlice prefix);
  ~PoolWorker() override;

  // Null once the worker has left the pool's loop.
  SequencedWorkerPool* pool() const { return pool_.get(); }

  // What the worker runs (or releases unrun) now; read on its own thread.
  bool is_processing_task() const { return is_processing_task_; }
  int32_t task_sequence_token() const { return task_sequence_token_; }
  SequencedWorkerPool::ShutdownBehavior task_shutdown_behavior() const {
    return task_shutdown_behavior_;
  }
  void set_running_task_info(int32_t token,
                             SequencedWorkerPool::ShutdownBehavior behavior);
  void reset_running_task_info() { is_processing_task_ = false; }

 protected:
  void Run() override;

 private:
  // Drops the pool reference, also for a worker whose thread never ran.
  void ReleasePool();

  RefPtr<SequencedWorkerPool> pool_;
  int32_t task_sequence_token_ = 0;
  SequencedWorkerPool::ShutdownBehavior task_shutdown_behavior_ =
      SequencedWorkerPool::ShutdownBehavior::kBlockShutdown;
  bool is_processing_task_ = false;
};

// The `PoolWorker` of the calling thread, or null.
PoolWorker* GetCurrentPoolWorker();

}  // namespace base

#endif  // BASE_THREADING_POOL_WORKER_H_

#ifndef BASE_TEST_TEST_THREAD_RUNNER_H_
#define BASE_TEST_TEST_THREAD_RUNNER_H_

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "base/bind.h"
#include "base/closure.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"

namespace base {

// A sequenced runner over one real thread that drains a queue, for tests
// until message loops exist. Delays are ignored: tasks run in posting order.
// After `Stop` posts fail and release their task unrun.
class TestThreadRunner : public SequencedTaskRunner {
 public:
  static RefPtr<TestThreadRunner> Start() {
    RefPtr<TestThreadRunner> runner(new TestThreadRunner);
    runner->thread_ = std::thread(&TestThreadRunner::ThreadMain, runner.get());
    return runner;
  }

  // Runners alive in the process, to see that every reference was released.
  static std::atomic<int>& live_count() {
    static std::atomic<int> count{0};
    return count;
  }

  bool PostTaskWithDelay(const SourceLocation&, Closure task,
                         TimeDelta) override {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stopping_)
      return false;
    tasks_.push_back(std::move(task));
    wake_.notify_one();
    return true;
  }
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override {
    return PostTaskWithDelay(from_here, std::move(task), delay);
  }
  bool IsOnOwnThread() const override {
    return GetCurrentThreadId() == thread_id_.load();
  }

  // Runs what was posted so far, then ends the thread.
  void Stop() {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      stopping_ = true;
      wake_.notify_one();
    }
    if (thread_.joinable())
      thread_.join();
  }

  // Runs `work` on the runner's thread and waits for it.
  template <class Work>
  void RunAndWait(Work work) {
    std::promise<void> done;
    PostTask(FROM_HERE, Bind([&] {
               work();
               done.set_value();
             }));
    done.get_future().wait();
  }

  DWORD thread_id() const { return thread_id_.load(); }

 private:
  TestThreadRunner() { ++live_count(); }
  ~TestThreadRunner() override {
    Stop();
    --live_count();
  }

  void ThreadMain() {
    thread_id_ = GetCurrentThreadId();
    CurrentTaskRunnerHandle handle{RefPtr<SequencedTaskRunner>(this)};
    for (;;) {
      Closure task;
      {
        std::unique_lock<std::mutex> hold(mutex_);
        wake_.wait(hold, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty())
          return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task.Run();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Closure> tasks_;
  bool stopping_ = false;
  std::atomic<DWORD> thread_id_{0};
  std::thread thread_;
};

}  // namespace base

#endif  // BASE_TEST_TEST_THREAD_RUNNER_H_

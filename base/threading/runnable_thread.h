#ifndef BASE_THREADING_RUNNABLE_THREAD_H_
#define BASE_THREADING_RUNNABLE_THREAD_H_

#include <cstdint>
#include <string>

#include "base/threading/os_thread.h"
#include "base/win/scoped_handle.h"

namespace base {

// A named OS thread that runs the derived class's `Run` once and ends. The
// object must outlive the thread: join it, or keep a non-joinable one alive
// until `Run` has returned.
class RunnableThread : public ThreadDelegate {
 public:
  explicit RunnableThread(std::string name);
  RunnableThread(const RunnableThread&) = delete;
  RunnableThread& operator=(const RunnableThread&) = delete;
  // Does not join.
  ~RunnableThread() override;

  // Starts the thread and returns once it has named itself ("name/id") and
  // is about to run. False, with nothing started, when the system refuses
  // the thread.
  virtual bool Start();
  // Waits until `Run` has returned. Only for a joinable, started thread.
  virtual void Join();

  // Set before `Start`. A stack size of 0 takes the process default.
  void set_stack_size(uint64_t stack_size) { stack_size_ = stack_size; }
  void set_priority(ThreadPriority priority) { priority_ = priority; }
  void set_joinable(bool joinable) { joinable_ = joinable; }

  const std::string& name() const { return name_; }
  // 0 until `Start` has returned true.
  uint32_t thread_id() const { return thread_id_; }
  bool has_been_joined() const { return joined_; }

 protected:
  // The thread's work, on the new thread.
  virtual void Run() = 0;

 private:
  void ThreadMain() override;

  std::string name_;
  uint64_t stack_size_ = 0;
  ThreadPriority priority_ = ThreadPriority::kNormal;
  bool joinable_ = true;
  win::ScopedHandle thread_handle_;
  // Manual reset: signalled once the thread is named and about to run.
  win::ScopedHandle start_event_;
  uint32_t thread_id_ = 0;
  bool joined_ = false;
};

}  // namespace base

#endif  // BASE_THREADING_RUNNABLE_THREAD_H_

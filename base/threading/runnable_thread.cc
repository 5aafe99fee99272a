#include "base/threading/runnable_thread.h"

#include <utility>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/trace_event/activity_scope.h"

namespace base {

RunnableThread::RunnableThread(std::string name)
    : name_(std::move(name)),
      start_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  CHECK(start_event_.IsValid())
      << "CreateEventW failed: " << GetLastError();
}

RunnableThread::~RunnableThread() = default;

bool RunnableThread::Start() {
  const bool created =
      joinable_
          ? CreateOsThread(stack_size_, this, &thread_handle_, priority_)
          : CreateOsThreadNonJoinable(stack_size_, this, priority_);
  // A thread that never ran would never signal the event.
  if (!created)
    return false;
  EventWaitActivityScope activity(__builtin_return_address(0),
                                  start_event_.Get());
  WaitForSingleObject(start_event_.Get(), INFINITE);
  return true;
}

void RunnableThread::Join() {
  CHECK(joinable_ && thread_handle_.IsValid())
      << "Joining a thread that is not joinable or not started";
  JoinOsThread(thread_handle_);
  joined_ = true;
}

void RunnableThread::ThreadMain() {
  thread_id_ = GetCurrentThreadId();
  SetCurrentThreadName(name_ + "/" + Uint64ToString(thread_id_));
  SetEvent(start_event_.Get());
  Run();
}

}  // namespace base

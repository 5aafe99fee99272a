#include "base/win/object_watcher.h"

#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"

namespace base::win {

ObjectWatcher::ObjectWatcher() = default;

ObjectWatcher::~ObjectWatcher() {
  if (wait_handle_ && UnregisterWait())
    ClearWatch();
  weak_source_.Invalidate();
  task_runner_.reset();
  callback_.Reset();
}

bool ObjectWatcher::StartWatching(HANDLE object, Delegate* delegate) {
  // A second registration would post the same callback twice.
  if (wait_handle_)
    StopWatching();
  return StartWatchingInternal(object, delegate);
}

bool ObjectWatcher::StopWatching() {
  if (!wait_handle_ || !UnregisterWait())
    return false;
  ClearWatch();
  return true;
}

bool ObjectWatcher::StartWatchingInternal(HANDLE object, Delegate* delegate) {
  task_runner_ = GetCurrentSequencedTaskRunner();
  if (!task_runner_) {
    LOG(ERROR) << "Watching an object needs a thread with a task runner";
    return false;
  }
  callback_ = BindWeak(&ObjectWatcher::RunSignalled, weak_source_.GetRef(),
                       this, delegate);
  object_ = object;
  if (!RegisterWaitForSingleObject(&wait_handle_, object, &DoneWaiting, this,
                                   INFINITE,
                                   WT_EXECUTEINWAITTHREAD |
                                       WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "RegisterWaitForSingleObject failed";
    wait_handle_ = nullptr;
    ClearWatch();
    return false;
  }
  return true;
}

// static
void CALLBACK ObjectWatcher::DoneWaiting(void* context, BOOLEAN timed_out) {
  auto* self = static_cast<ObjectWatcher*>(context);
  self->task_runner_->PostTask(FROM_HERE, self->callback_);
  // The posted task now holds the only reference.
  self->callback_.Reset();
}

void ObjectWatcher::RunSignalled(Delegate* delegate) {
  HANDLE object = object_;
  if (wait_handle_ && UnregisterWait())
    ClearWatch();
  delegate->OnObjectSignaled(object);
}

bool ObjectWatcher::UnregisterWait() {
  if (UnregisterWaitEx(wait_handle_, INVALID_HANDLE_VALUE))
    return true;
  PLOG(ERROR) << "UnregisterWaitEx failed";
  return false;
}

void ObjectWatcher::ClearWatch() {
  callback_.Reset();
  object_ = nullptr;
  wait_handle_ = nullptr;
  task_runner_.reset();
  weak_source_.Invalidate();
}

}  // namespace base::win

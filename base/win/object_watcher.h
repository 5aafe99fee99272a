#ifndef BASE_WIN_OBJECT_WATCHER_H_
#define BASE_WIN_OBJECT_WATCHER_H_

#include <windows.h>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/weak_reference.h"

namespace base::win {

// Waits on a system wait thread for a kernel object (a process, an event)
// to be signalled, then tells the delegate on the thread that started the
// watch, as a posted task. A watch fires at most once. Lives on that thread;
// once stopped or destroyed, a signal already posted is dropped.
class ObjectWatcher {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // May start a new watch.
    virtual void OnObjectSignaled(HANDLE object) = 0;
  };

  ObjectWatcher();
  ObjectWatcher(const ObjectWatcher&) = delete;
  ObjectWatcher& operator=(const ObjectWatcher&) = delete;
  ~ObjectWatcher();

  // The calling thread must have a sequenced task runner. An earlier watch
  // is stopped first. False (logged) when the watch cannot be made.
  bool StartWatching(HANDLE object, Delegate* delegate);
  // False when nothing is watched or the wait cannot be unregistered.
  bool StopWatching();

 private:
  static void CALLBACK DoneWaiting(void* context, BOOLEAN timed_out);
  bool StartWatchingInternal(HANDLE object, Delegate* delegate);
  void RunSignalled(Delegate* delegate);
  // Waits until a wait callback already running has finished.
  bool UnregisterWait();
  void ClearWatch();

  // Holds the delegate and a weak reference to this watcher; the wait
  // thread hands it to the posted task.
  Closure callback_;
  HANDLE object_ = nullptr;
  HANDLE wait_handle_ = nullptr;
  RefPtr<SequencedTaskRunner> task_runner_;
  WeakReferenceSource weak_source_;
};

}  // namespace base::win

#endif  // BASE_WIN_OBJECT_WATCHER_H_

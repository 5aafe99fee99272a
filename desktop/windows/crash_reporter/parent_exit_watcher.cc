#include "desktop/windows/crash_reporter/parent_exit_watcher.h"

#include "base/logging.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"

namespace installer {

ParentExitWatcher::ParentExitWatcher(ReporterQuitSignal* quit_signal)
    : quit_signal_(quit_signal) {}

ParentExitWatcher::~ParentExitWatcher() {
  Cancel();
}

bool ParentExitWatcher::Watch(uint32_t parent_pid) {
  parent_.Set(::OpenProcess(SYNCHRONIZE, FALSE, parent_pid));
  if (!parent_.IsValid()) {
    // A parent that ended before its reporter got here needs no reporter:
    // the system names no process by that number any more.
    if (::GetLastError() == ERROR_INVALID_PARAMETER)
      LOG(INFO) << "Process " << parent_pid << " has ended: nothing to watch";
    else
      PLOG(ERROR) << "Cannot watch process " << parent_pid;
    return false;
  }
  quit_signal_->AddHold();
  armed_ = 1;
  if (!wait_.Register(parent_.Get(), &OnParentExit, this, WT_EXECUTEONLYONCE)) {
    Disarm();
    return false;
  }
  return true;
}

void ParentExitWatcher::Cancel() {
  Disarm();
  // The callback touches this object: it must be over before it goes.
  wait_.Unregister(true);
  parent_.Close();
}

// static
void CALLBACK ParentExitWatcher::OnParentExit(void* watcher,
                                              BOOLEAN timed_out) {
  static_cast<ParentExitWatcher*>(watcher)->Disarm();
}

void ParentExitWatcher::Disarm() {
  int32_t armed = 1;
  if (armed_.compare_exchange_strong(armed, 0))
    quit_signal_->ReleaseHold();
}

}  // namespace installer

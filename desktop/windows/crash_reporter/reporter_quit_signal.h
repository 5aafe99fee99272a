#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_QUIT_SIGNAL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_QUIT_SIGNAL_H_

#include <cstdint>

#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"

namespace installer {

// Keeps the crash-reporter process alive while anything holds it: its
// parent's life, a crash in processing, an upload in flight. The reporter's
// main thread waits until no hold is left. A hold taken after the count
// fell to zero arms the signal again, so work that starts late (a dump
// requested while the server shuts down) is still waited for.
class ReporterQuitSignal {
 public:
  // The process-wide signal, made on first use, destroyed at exit.
  static ReporterQuitSignal* Instance();

  ReporterQuitSignal() = default;
  ReporterQuitSignal(const ReporterQuitSignal&) = delete;
  ReporterQuitSignal& operator=(const ReporterQuitSignal&) = delete;
  ~ReporterQuitSignal();

  bool CreateQuitEvent();

  // Any thread.
  void AddHold();
  void ReleaseHold();

  // Main thread: until no hold is left. False when the wait failed.
  bool Wait();
  // Whether Wait would return at once.
  bool IsSignalled() const;

 private:
  base::win::ScopedHandle event_;
  // Guards the count together with the event's state, so that a release
  // and a late hold cannot leave the event set while a hold is open.
  base::Lock lock_;
  uint32_t holds_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_QUIT_SIGNAL_H_

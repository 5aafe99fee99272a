#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUGGER_ATTACHMENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUGGER_ATTACHMENT_H_

#include <windows.h>

namespace installer {

// The calling thread attached to a process as its debugger, for as long as
// this lives: the crashed process stays put while its state is read. A
// failed attach is logged and the reading goes on without it. Detach on
// the thread that attached.
class ScopedDebuggerAttachment {
 public:
  explicit ScopedDebuggerAttachment(DWORD process_id);
  ScopedDebuggerAttachment(const ScopedDebuggerAttachment&) = delete;
  ScopedDebuggerAttachment& operator=(const ScopedDebuggerAttachment&) = delete;
  ~ScopedDebuggerAttachment();

 private:
  const DWORD process_id_;
  bool attached_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUGGER_ATTACHMENT_H_

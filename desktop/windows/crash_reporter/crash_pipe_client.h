#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_

#include <windows.h>

#include <cstdint>

#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/custom_info.h"

namespace installer {

// A crash reporter started for this process, which may not serve yet.
struct LaunchedReporter {
  uint32_t pid = 0;
  // Set by the reporter once it serves; none for one that is taken to
  // serve already.
  base::win::ScopedHandle serving;
  base::Process process;
};

// Starts a reporter; an invalid process when none could be started.
using ReporterLaunch = LaunchedReporter (*)();

// This process's side of the crash pipe. It registers once, at start-up
// or on a thread of its own while the reporter starts, and is handed the
// events through which it later asks for a dump. When it
// crashes it does not talk over the pipe: it leaves the crash in its own
// memory, where the crash reporter reads it, and waits. Must not move after
// Register: the reporter knows the addresses of its crash slots.
class CrashPipeClient {
 public:
  // Registers with the reporter of process `reporter_pid`, over its pipe;
  // a pipe of that name served by any other process is refused. 0 for the
  // one StartLaunchingReporter launches.
  CrashPipeClient(uint32_t reporter_pid,
                  uint32_t dump_type,
                  const CustomInfoBlock& custom_info);
  // Registers over `pipe`, an open connection, which it takes.
  CrashPipeClient(base::win::ScopedHandle pipe,
                  uint32_t dump_type,
                  const CustomInfoBlock& custom_info);
  CrashPipeClient(const CrashPipeClient&) = delete;
  CrashPipeClient& operator=(const CrashPipeClient&) = delete;
  ~CrashPipeClient();

  bool Register();
  bool IsRegistered() const { return dump_request_event_.IsValid(); }
  // On a thread of its own, starts the reporter with `launch` and
  // registers with it once it serves, unless it ends first or `wait_ms`
  // pass: the process goes on while its reporter starts.
  bool StartLaunchingReporter(ReporterLaunch launch, DWORD wait_ms);
  // True once registered; waits, bounded, for a registration under way.
  bool AwaitRegistration() const;
  // Waits until a launch under way has started its reporter, or failed to:
  // the launch holds this process's program. The reporter's id, 0 when none
  // started or its registration has failed already.
  uint32_t AwaitLaunch() const;
  DWORD server_process_id() const { return server_process_id_; }

  // On the crashing thread. True once the reporter says the dump is taken;
  // false when it is gone, or silent for 15 s.
  bool RequestDump(EXCEPTION_POINTERS* pointers,
                   const AssertionRecord* assertion);

  // Test-only: how long RequestDump waits, for every client of the process.
  static void SetDumpWaitForTesting(DWORD milliseconds);
  static DWORD GetDumpWaitForTesting();

 private:
  static DWORD WINAPI LaunchAndRegister(void* client);
  base::win::ScopedHandle Connect();
  CrashPipeMessage MakeRegisterRequest() const;
  bool AcceptReply(const CrashPipeMessage& reply);

  // Written by the launching thread before it registers.
  uint32_t reporter_pid_ = 0;
  // The connection given instead of a name; used once.
  base::win::ScopedHandle given_pipe_;
  const uint32_t dump_type_;
  const CustomInfoBlock custom_info_;

  base::win::ScopedHandle dump_request_event_;
  base::win::ScopedHandle dump_generated_event_;
  base::win::ScopedHandle server_alive_mutex_;
  DWORD server_process_id_ = 0;

  // A launch and registration under way on its own thread; its outcome is
  // read only once the thread has ended.
  ReporterLaunch launch_ = nullptr;
  // Set once the launch has ended, whatever came of it.
  base::win::ScopedHandle launch_ended_;
  DWORD serving_wait_ms_ = 0;
  base::win::ScopedHandle registration_thread_;

  // The crash, read by the reporter out of this process's memory.
  DWORD crashing_thread_id_ = 0;
  EXCEPTION_POINTERS* exception_pointers_ = nullptr;
  AssertionRecord assertion_ = {};
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_

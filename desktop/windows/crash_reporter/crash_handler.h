#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_HANDLER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_HANDLER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/custom_info.h"
#include "desktop/windows/crash_reporter/runtime_crash_handlers.h"

struct _MINIDUMP_CALLBACK_INPUT;
struct _MINIDUMP_CALLBACK_OUTPUT;

namespace installer {

class CrashHandling;
class CrashPipeClient;
class ScopedSystemLibrary;

// Catches this process's crashes: unhandled exceptions, the runtime's
// invalid-parameter and pure-call reports, and (under g++) std::terminate
// and abort(). Connected to a crash reporter it hands each crash over the
// crash pipe and waits; otherwise it writes a minidump itself, from a
// healthy thread of its own. Handlers nest: the process-wide handlers always
// dispatch to the one installed last.
class CrashHandler {
 public:
  // Runs first, on the crashing thread; false: nothing is written.
  using FilterCallback = bool (*)(void* context,
                                  EXCEPTION_POINTERS* pointers,
                                  AssertionRecord* assertion);
  // Its result says whether the crash counts as handled (the process then
  // ends).
  using AfterDumpCallback = bool (*)(const wchar_t* dump_folder,
                                     const wchar_t* dump_id,
                                     void* context,
                                     EXCEPTION_POINTERS* pointers,
                                     AssertionRecord* assertion,
                                     bool succeeded);

  // `handler_types` are RuntimeCrashHandlers kinds. With `reporter_pid`
  // (or, without, a connected `pipe`) the handler tries to register with a
  // crash reporter; it is connected when that succeeds.
  CrashHandler(const std::wstring& dump_folder,
               FilterCallback filter,
               AfterDumpCallback after_dump,
               void* context,
               int handler_types,
               uint32_t dump_type,
               uint32_t reporter_pid,
               base::win::ScopedHandle pipe,
               const CustomInfoBlock& custom_info);
  // Connected through `client`, registered or registering on its own
  // thread: a crash waits for that registration's outcome.
  CrashHandler(FilterCallback filter,
               AfterDumpCallback after_dump,
               void* context,
               int handler_types,
               std::unique_ptr<CrashPipeClient> client);
  CrashHandler(const CrashHandler&) = delete;
  CrashHandler& operator=(const CrashHandler&) = delete;
  ~CrashHandler();

  bool IsConnected() const { return pipe_client_ != nullptr; }
  // True when registered with a reporter; waits, bounded, for a
  // registration under way.
  bool AwaitReporter() const;
  // Waits until a reporter launch under way has ended; the reporter's id,
  // as CrashPipeClient::AwaitLaunch gives it.
  uint32_t AwaitReporterLaunch() const;
  // The reporter's process id, once AwaitReporter is true.
  uint32_t reporter_process_id() const;

  // Writes a dump for a crash caught elsewhere (a guarded window
  // procedure), now.
  bool WriteMinidumpForException(EXCEPTION_POINTERS* pointers);

  // Breakpoints and debug prints are passed on unless this is set.
  void set_handle_debug_exceptions(bool handle) {
    handle_debug_exceptions_ = handle;
  }
  void set_consume_invalid_handle_exceptions(bool consume) {
    consume_invalid_handle_exceptions_ = consume;
  }

  // The process-wide handlers. The runtime cannot always take the last
  // four (see RuntimeCrashHandlers): they may also be called directly.
  static LONG WINAPI HandleException(EXCEPTION_POINTERS* pointers);
  static void __cdecl HandleInvalidParameter(const wchar_t* expression,
                                             const wchar_t* function,
                                             const wchar_t* file,
                                             unsigned int line,
                                             uintptr_t reserved);
  static void __cdecl HandlePureCall();
  static void HandleTerminate();
  static void __cdecl HandleAbortSignal(int signal);

 private:
  struct MemoryRange {
    uint64_t base;
    uint32_t size;
  };

  void Install(std::unique_ptr<CrashPipeClient> client,
               const std::wstring& dump_folder);
  void StartInProcessMode(const std::wstring& dump_folder);
  void PushOnHandlerStack();
  void RemoveFromHandlerStack();

  LONG FilterException(EXCEPTION_POINTERS* pointers);
  // A fatal error that the runtime reports instead of raising: handled as an
  // exception of `code`, from the calling place.
  bool WriteForRuntimeReport(DWORD code, AssertionRecord* assertion);
  bool WriteMinidumpWithException(DWORD thread_id,
                                  EXCEPTION_POINTERS* pointers,
                                  AssertionRecord* assertion);
  bool WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* pointers,
                                    AssertionRecord* assertion);
  bool WriteMinidumpInProcess(DWORD thread_id,
                              EXCEPTION_POINTERS* pointers,
                              AssertionRecord* assertion);
  void UpdateNextDumpPath();
  void KeepMemoryAroundInstruction(const EXCEPTION_POINTERS* pointers);

  friend class CrashHandling;

  // Gives this handler's saved handlers to `above` where it saved ours.
  void HandOverPreviousHandlers(CrashHandler* above, int kind) const;

  static DWORD WINAPI HandlerThreadMain(void* handler);
  static BOOL CALLBACK OnMinidumpCallback(void* handler,
                                          _MINIDUMP_CALLBACK_INPUT* input,
                                          _MINIDUMP_CALLBACK_OUTPUT* output);

  const FilterCallback filter_;
  const AfterDumpCallback after_dump_;
  void* const context_;
  const uint32_t dump_type_;
  const int handler_types_;
  std::unique_ptr<CrashPipeClient> pipe_client_;

  // What this handler replaced, put back when it is the last one to go.
  RuntimeCrashHandlers previous_handlers_;

  bool handle_debug_exceptions_ = false;
  bool consume_invalid_handle_exceptions_ = false;

  // In-process mode only.
  std::wstring dump_folder_;
  std::wstring next_dump_id_;
  std::wstring next_dump_path_;
  std::unique_ptr<ScopedSystemLibrary> dbghelp_;
  std::unique_ptr<ScopedSystemLibrary> rpcrt4_;
  base::win::ScopedHandle handler_thread_;
  base::win::ScopedHandle start_semaphore_;
  base::win::ScopedHandle finish_semaphore_;
  bool shutting_down_ = false;
  // One crashing thread at a time hands its request to the handler thread.
  base::Lock request_lock_;
  DWORD requesting_thread_id_ = 0;
  EXCEPTION_POINTERS* exception_pointers_ = nullptr;
  AssertionRecord* assertion_ = nullptr;
  bool request_result_ = false;
  // Extra memory for an in-process dump; the first range is kept for the
  // code around the faulting instruction.
  std::vector<MemoryRange> app_memory_;
  size_t next_app_memory_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_HANDLER_H_

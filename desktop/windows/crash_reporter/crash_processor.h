#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PROCESSOR_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PROCESSOR_H_

#include <windows.h>

#include <cstdint>
#include <string>

namespace base {
class FilePath;
}

namespace installer {

class CounterFileWriter;
class CrashFile;
class ParameterMap;
class PipeClientRecord;

// Turns each crash of an installer process into a report: a crash log
// written while attached to the process, offered to the crash server and
// uploaded zipped (or, with alternative crash logging, a minidump for the
// alternative collector). Runs inside the crash pipe server's dump
// callback, on its thread-pool threads, several crashes at once; the
// reporter does not quit while one is in hand.
class CrashProcessor {
 public:
  // `counter_writer` counts crashes by process type; `keep_logs` keeps the
  // files after upload or refusal.
  CrashProcessor(CounterFileWriter* counter_writer, bool keep_logs);
  CrashProcessor(const CrashProcessor&) = delete;
  CrashProcessor& operator=(const CrashProcessor&) = delete;
  ~CrashProcessor();

  // The crash pipe server's dump callback; `context` is the processor.
  static void OnClientDumpRequested(void* context,
                                    const PipeClientRecord& client,
                                    const std::wstring* dump_path);

 private:
  void ProcessCrash(uint32_t crash_number,
                    const PipeClientRecord& client,
                    const ParameterMap& parameters);
  void ProcessCrashAlternative(uint32_t crash_number,
                               const PipeClientRecord& client,
                               const ParameterMap& parameters);
  void WriteCrashId(uint32_t crash_number,
                    const ParameterMap& parameters,
                    const std::wstring& location);

  CounterFileWriter* const counter_writer_;
  const bool keep_logs_;
};

// The crash log of a client, read while attached to it as a debugger,
// written into `file`.
bool WriteCrashLogViaDebugger(const PipeClientRecord& client, CrashFile* file);

// The minidump of a crashed process from the crash it keeps in its own
// memory (see CrashExceptionInfo); `assertion_address` may be 0. Written
// into a crash file made new under `path` (see CrashFile), whose name is
// given in `made_path`; removed when it cannot be written within
// `size_limit` bytes.
bool WriteMinidumpFromClientInfo(DWORD process_id,
                                 uint64_t thread_id_address,
                                 uint64_t exception_pointers_address,
                                 uint64_t assertion_address,
                                 const base::FilePath& path,
                                 uint64_t size_limit,
                                 base::FilePath* made_path = nullptr);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PROCESSOR_H_

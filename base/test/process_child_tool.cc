// The child of the process-launch tests. One mode per run:
//
//   process_child_tool --signal=<h1>,<h2>,...
//       calls SetEvent on each decimal handle value; the exit code has bit i
//       set when the i-th value was a usable event in this process, so a
//       test sees which handles were inherited.
//   process_child_tool --exit=<n>      exits with code n.
//   process_child_tool --crash         writes through a null pointer.
//   process_child_tool --sleep=<ms>    sleeps, then exits 0; -1 sleeps until
//                                      the test ends it.
//   process_child_tool --write=<n>     writes n bytes ('a' to 'z' repeated)
//                                      to standard output, then exits 0.
//   process_child_tool --env=<name>    exits 10 when the variable is set,
//                                      11 when not.
//   process_child_tool --cwd           prints its current directory (UTF-8).
//   process_child_tool --touch=<path>  creates the file, writing "marker".
//   process_child_tool --start-children [--after=<h>]
//       waits for the event whose decimal handle value is h when given, then
//       starts two children of its own, each ended before it ends; the exit
//       code has bit 0 set when the one started plainly is in no job, bit 1
//       when this process could put that one in a job of its own, bit 2 when
//       the other, asking to start outside this process's job
//       (CREATE_BREAKAWAY_FROM_JOB), started.
//   process_child_tool --hold-child=suspended|in-job|resumed --then-end=<h>
//       starts a child of its own (--sleep=-1) held suspended, held in a job
//       of its own that does not end it, or let run; prints the child's
//       process id and a line end, waits for the event whose decimal handle
//       value is h, and ends itself on purpose (TerminateCurrentProcess,
//       exit code 3).

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/process/suspended_child.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace {

int SignalHandles(const std::string& list) {
  int usable = 0;
  int bit = 0;
  for (const std::string& value :
       base::SplitString(list, ",", base::KEEP_WHITESPACE,
                         base::SPLIT_WANT_NONEMPTY)) {
    uint64_t handle = 0;
    if (base::StringToUint64(value, &handle) &&
        ::SetEvent(reinterpret_cast<HANDLE>(handle))) {
      usable |= 1 << bit;
    }
    ++bit;
  }
  return usable;
}

int WriteBytes(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i)
    bytes += static_cast<char>('a' + i % 26);
  DWORD written = 0;
  const bool ok = ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(),
                              static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
  return ok && written == bytes.size() ? 0 : 2;
}

int PrintCurrentDirectory() {
  wchar_t directory[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, directory);
  const std::string text =
      base::WideToUtf8(std::wstring(directory, length));
  DWORD written = 0;
  return ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                     static_cast<DWORD>(text.size()), &written, nullptr)
             ? 0
             : 2;
}

int Touch(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 2;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, "marker", 6, &written, nullptr);
  ::CloseHandle(file);
  return ok ? 0 : 2;
}

// The command line that starts this program again with `switches`.
std::wstring OwnCommandLine(const wchar_t* switches) {
  wchar_t program[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  return L"\"" + std::wstring(program, length) + L"\" " + switches;
}

HANDLE HandleSwitch(const base::CommandLine& command_line, const char* name) {
  uint64_t value = 0;
  base::StringToUint64(command_line.GetSwitchValueASCII(name), &value);
  return reinterpret_cast<HANDLE>(value);
}

int StartChildren(const base::CommandLine& command_line) {
  if (command_line.HasSwitch("after"))
    ::WaitForSingleObject(HandleSwitch(command_line, "after"), INFINITE);
  int result = 0;
  base::ProcessLaunchOptions options;
  options.start_hidden = true;
  // Running while it is looked at: an ended process joins no job.
  const base::Process plain =
      base::LaunchProcess(OwnCommandLine(L"--sleep=-1"), options);
  BOOL in_job = TRUE;
  if (plain.IsValid() && ::IsProcessInJob(plain.Handle(), nullptr, &in_job) &&
      !in_job) {
    result |= 1;
  }
  const base::win::ScopedHandle own_job(::CreateJobObjectW(nullptr, nullptr));
  if (plain.IsValid() && own_job.IsValid() &&
      ::AssignProcessToJobObject(own_job.Get(), plain.Handle())) {
    result |= 2;
  }
  // Each ended before this one ends, so that none holds the program's file.
  if (plain.IsValid()) {
    ::TerminateProcess(plain.Handle(), 0);
    plain.WaitForExit(nullptr);
  }
  options.force_breakaway_from_job = true;
  const base::Process broken_away =
      base::LaunchProcess(OwnCommandLine(L"--exit=0"), options);
  if (broken_away.IsValid()) {
    result |= 4;
    broken_away.WaitForExit(nullptr);
  }
  return result;
}

int HoldChildThenEnd(const base::CommandLine& command_line) {
  const std::string how = command_line.GetSwitchValueASCII("hold-child");
  const base::win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  base::SuspendedChild held;
  base::ProcessLaunchOptions options;
  options.start_hidden = true;
  options.suspended_child = &held;
  if (how == "in-job")
    options.job = job.Get();
  const base::Process child =
      base::LaunchProcess(OwnCommandLine(L"--sleep=-1"), options);
  if (!child.IsValid() || (how == "resumed" && !held.Resume()))
    return 2;
  const std::string line = std::to_string(child.Pid()) + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(),
              static_cast<DWORD>(line.size()), &written, nullptr);
  ::WaitForSingleObject(HandleSwitch(command_line, "then-end"), INFINITE);
  base::TerminateCurrentProcess(3);
}

int SwitchInt(const base::CommandLine& command_line, const char* name) {
  int32_t value = 0;
  base::StringToInt(command_line.GetSwitchValueASCII(name), &value);
  return value;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("signal"))
    return SignalHandles(command_line.GetSwitchValueASCII("signal"));
  if (command_line.HasSwitch("exit"))
    return SwitchInt(command_line, "exit");
  if (command_line.HasSwitch("crash")) {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
  }
  if (command_line.HasSwitch("sleep")) {
    ::Sleep(SwitchInt(command_line, "sleep"));
    return 0;
  }
  if (command_line.HasSwitch("write"))
    return WriteBytes(SwitchInt(command_line, "write"));
  if (command_line.HasSwitch("env")) {
    const std::wstring name = command_line.GetSwitchValueNative("env");
    return ::GetEnvironmentVariableW(name.c_str(), nullptr, 0) ? 10 : 11;
  }
  if (command_line.HasSwitch("cwd"))
    return PrintCurrentDirectory();
  if (command_line.HasSwitch("touch"))
    return Touch(command_line.GetSwitchValueNative("touch"));
  if (command_line.HasSwitch("start-children"))
    return StartChildren(command_line);
  if (command_line.HasSwitch("hold-child"))
    return HoldChildThenEnd(command_line);
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}

// Writes log lines with every header item on, for the end-to-end logging
// tests. Prints "pid <process id> tid <main thread id>" first.
//
//   log_writer --mode=lines --file=<path> --count=<n>
//       INFO lines "line <i>", then a WARNING and an ERROR line.
//   log_writer --mode=lines --file=<path> --count=<n> --new-file-only
//       the same into a file made new (LoggingSettings::new_file_only).
//   log_writer --mode=fatal --file=<path>
//       an INFO line, then a FATAL line; prints "survived" if it returns.
//   log_writer --mode=race --threads=<n> --count=<n>
//       without InitLogging (so the first lines open "debug.log" beside the
//       program), n threads released at once write <count> lines each. Then
//       prints "exclusive <while open> <after close>": whether "debug.log"
//       can be opened without sharing while logging holds it, and after
//       InitLogging has moved logging to "other.log" (1 only when no second
//       handle leaked).

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"

namespace {

int SwitchInt(const base::CommandLine& command_line, const char* name) {
  int32_t value = 0;
  base::StringToInt(command_line.GetSwitchValueASCII(name), &value);
  return value;
}

bool InitLoggingToFile(const std::wstring& path, bool new_file_only = false) {
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_TO_FILE;
  settings.log_file_path = path.c_str();
  settings.old_file_mode = new_file_only ? base::APPEND_TO_OLD_LOG_FILE
                                         : base::DELETE_OLD_LOG_FILE;
  settings.new_file_only = new_file_only;
  return base::InitLogging(settings);
}

int WriteLines(int count) {
  for (int i = 0; i < count; ++i)
    LOG(INFO) << "line " << i;
  LOG(WARNING) << "warning line";
  LOG(ERROR) << "error line";
  return 0;
}

int WriteFatal() {
  LOG(INFO) << "before the fatal line";
  LOG(FATAL) << "fatal line";
  std::printf("survived\n");
  return 0;
}

struct RaceThread {
  HANDLE start;
  int index;
  int count;
};

DWORD WINAPI RaceThreadMain(void* parameter) {
  const RaceThread* thread = static_cast<const RaceThread*>(parameter);
  WaitForSingleObject(thread->start, INFINITE);
  for (int i = 0; i < thread->count; ++i)
    LOG(INFO) << "thread " << thread->index << " line " << i;
  return 0;
}

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring program(path, length);
  return program.substr(0, program.rfind(L'\\') + 1);
}

// Share modes are enforced across all handles, so this fails while any
// handle of the file is open.
int CanOpenExclusively(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  CloseHandle(file);
  return 1;
}

int Race(int thread_count, int count) {
  const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<RaceThread> threads(thread_count);
  std::vector<HANDLE> thread_handles;
  for (int i = 0; i < thread_count; ++i) {
    threads[i] = {start, i, count};
    thread_handles.push_back(
        CreateThread(nullptr, 0, &RaceThreadMain, &threads[i], 0, nullptr));
  }
  Sleep(100);
  SetEvent(start);
  WaitForMultipleObjects(static_cast<DWORD>(thread_handles.size()),
                         thread_handles.data(), TRUE, INFINITE);
  for (HANDLE handle : thread_handles)
    CloseHandle(handle);
  CloseHandle(start);

  const std::wstring log = ProgramDirectory() + L"debug.log";
  const int while_open = CanOpenExclusively(log);
  if (!InitLoggingToFile(ProgramDirectory() + L"other.log"))
    return 2;
  std::printf("exclusive %d %d\n", while_open, CanOpenExclusively(log));
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::SetLogItems(true, true, true, true);
  std::printf("pid %lu tid %lu\n", GetCurrentProcessId(), GetCurrentThreadId());
  std::fflush(stdout);

  const std::string mode = command_line.GetSwitchValueASCII("mode");
  if (mode == "race")
    return Race(SwitchInt(command_line, "threads"), SwitchInt(command_line, "count"));
  if (!InitLoggingToFile(command_line.GetSwitchValueNative("file"),
                         command_line.HasSwitch("new-file-only"))) {
    std::fprintf(stderr, "cannot open the log file\n");
    return 2;
  }
  if (mode == "lines")
    return WriteLines(SwitchInt(command_line, "count"));
  if (mode == "fatal")
    return WriteFatal();
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}

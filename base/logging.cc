#include "base/logging.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/command_line.h"
#include "base/files/new_file_in_folder.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "base/verbose_log_patterns.h"

namespace base {
namespace {

constexpr wchar_t kDefaultLogFileName[] = L"debug.log";

// The process's log file, opened on the first line that needs it. Every
// line is appended under one lock: threads that log their first lines at
// once open the file once, and lines never overwrite each other where
// appends from several threads are not atomic (Wine). The lock is held only
// for the one WriteFile call of a line.
class LogFile {
 public:
  constexpr LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  // No destructor closes the handle: lines may still be written while the
  // process's statics are destroyed, and the system closes it at exit.

  // Appends `text`, opening the file first when needed. A file that cannot
  // be opened is tried again by the next line.
  void Write(StringSlice text) {
    AutoLock hold(lock_);
    HANDLE file = nullptr;
    if (!OpenLocked(&file) || !file)
      return;
    handle_ = file;
    if (Append(file, text))
      return;
    // The line is lost here: it and the later ones go to the fallback.
    const DWORD error = GetLastError();
    if (!SwitchToFallbackLocked(error))
      return;
    Append(handle_, text);
  }

  // Closes the file and opens `path` (the default name when null) instead,
  // deleting it first when asked to; `fallback` (may be null) takes over
  // when it fails.
  bool Reopen(const wchar_t* path, const wchar_t* fallback,
              bool delete_old_file, bool new_file_only) {
    AutoLock hold(lock_);
    if (handle_)
      CloseHandle(handle_);
    handle_ = nullptr;
    name_ = path ? path : L"";
    fallback_ = fallback ? fallback : L"";
    new_file_only_ = new_file_only;
    delete_old_file_ = delete_old_file;
    gave_up_ = false;
    // The new-file mode deletes old files itself, in a folder it checked.
    if (delete_old_file && !new_file_only && !name_.empty())
      DeleteFileW(name_.c_str());
    HANDLE file = nullptr;
    const bool opened = OpenLocked(&file);
    handle_ = file;
    return opened;
  }

 private:
  // False when the line did not reach the file whole.
  static bool Append(HANDLE file, StringSlice text) {
    DWORD written = 0;
    SetLastError(ERROR_SUCCESS);
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()),
                     &written, nullptr) &&
           written == text.size();
  }

  // Once per process: the fallback becomes the log, its first line naming
  // the file that failed and why. False when there is none or it cannot be
  // opened either; the failing file is then kept.
  bool SwitchToFallbackLocked(DWORD error) {
    if (fallback_.empty())
      return false;
    const std::wstring fallback = std::move(fallback_);
    fallback_.clear();
    const size_t separator = fallback.rfind(L'\\');
    if (separator != std::wstring::npos)
      CreateDirectoryW(fallback.substr(0, separator).c_str(), nullptr);
    std::wstring made = fallback;
    const HANDLE file = Create(&made);
    if (!file)
      return false;
    if (handle_)
      CloseHandle(handle_);
    handle_ = file;
    const std::string note = "The log file " + WideToUtf8(name_) +
                             " cannot be written (" +
                             SystemErrorCodeToString(error) +
                             "): the log goes on here.\n";
    name_ = made;
    Append(handle_, note);
    return true;
  }

  // `*name` becomes the name of the file made, which in the new-file mode
  // may carry a suffix.
  HANDLE Create(std::wstring* name) const {
    if (new_file_only_) {
      NewFileInFolder::Result made = NewFileInFolder::Create(
          *name, delete_old_file_ ? NewFileInFolder::OldFile::kDelete
                                  : NewFileInFolder::OldFile::kKeep);
      *name = made.path;
      SetLastError(made.error);
      return made.file.Take();
    }
    const HANDLE file = CreateFileW(name->c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }

  static std::wstring ExecutableDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD size = static_cast<DWORD>(path.size());
      const DWORD length = GetModuleFileNameW(nullptr, path.data(), size);
      if (length < size) {
        path.resize(length);
        break;
      }
      path.resize(path.size() * 2);
    }
    return path.substr(0, path.rfind(L'\\') + 1);
  }

  // Empty when the current directory cannot be read or is too long.
  static std::wstring CurrentDirectoryLogName() {
    wchar_t directory[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH)
      return std::wstring();
    std::wstring name(directory, length);
    if (name.back() != L'\\')
      name += L'\\';
    return name + kDefaultLogFileName;
  }

  // `*file` is the open handle, null when none is needed or it cannot be
  // opened (then the result is false); the caller publishes it.
  bool OpenLocked(HANDLE* file) {
    *file = handle_;
    if (*file || gave_up_)
      return *file != nullptr;
    if (name_.empty())
      name_ = ExecutableDirectory() + kDefaultLogFileName;
    if (!(GetLoggingDestination() & LOG_TO_FILE))
      return true;
    *file = Create(&name_);
    if (*file)
      return true;
    if (SwitchToFallbackLocked(GetLastError())) {
      *file = handle_;
      return true;
    }
    // The new-file mode logs where it was told to or nowhere: "debug.log"
    // in whatever folder the process was started from would be a file made
    // outside the log folders; and each try may take a new name, so one
    // is enough.
    if (new_file_only_) {
      gave_up_ = true;
      return false;
    }
    std::wstring fallback = CurrentDirectoryLogName();
    if (fallback.empty())
      return false;
    name_ = std::move(fallback);
    *file = Create(&name_);
    return *file != nullptr;
  }

  Lock lock_;
  HANDLE handle_ = nullptr;  // Guarded by lock_, like the names.
  std::wstring name_;
  // Empty once used, or when there is none.
  std::wstring fallback_;
  bool new_file_only_ = false;
  bool delete_old_file_ = false;
  // Set once the new-file mode made no file anywhere.
  bool gave_up_ = false;
};

// Settings are written at start-up, before other threads log.
constinit uint32_t g_logging_destination = LOG_TO_FILE;
constinit int32_t g_min_log_level = LOG_INFO;
constinit LogItems g_log_items = {false, false, true, false};
constinit LogMessageHandlerFunction g_log_message_handler = nullptr;
constinit LogFile g_log_file;
// The previous patterns stay alive: a thread may still be reading them.
constinit std::unique_ptr<VerboseLogPatterns> g_verbose_patterns;
constinit std::unique_ptr<VerboseLogPatterns> g_previous_verbose_patterns;

int NegatedMinLogLevel() {
  const int64_t negated = -static_cast<int64_t>(g_min_log_level);
  return static_cast<int>(std::min<int64_t>(negated, INT32_MAX));
}

void InstallVerboseLogPatterns(std::unique_ptr<VerboseLogPatterns> patterns) {
  g_previous_verbose_patterns = std::move(g_verbose_patterns);
  g_verbose_patterns = std::move(patterns);
}

void ReadVerbositySwitches() {
  // Logging may start before the command line is parsed.
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (!command_line ||
      (!command_line->HasSwitch("v") && !command_line->HasSwitch("vmodule"))) {
    return;
  }
  InstallVerboseLogPatterns(std::make_unique<VerboseLogPatterns>(
      command_line->GetSwitchValueASCII("v"),
      command_line->GetSwitchValueASCII("vmodule"), &g_min_log_level));
}

}  // namespace

LoggingSettings::LoggingSettings()
    : logging_destination(LOG_TO_FILE),
      log_file_path(nullptr),
      fallback_log_file_path(nullptr),
      lock_mode(0),
      old_file_mode(APPEND_TO_OLD_LOG_FILE),
      new_file_only(false) {}

bool InitLogging(const LoggingSettings& settings) {
  ReadVerbositySwitches();
  g_logging_destination = static_cast<uint32_t>(settings.logging_destination);
  if (!(g_logging_destination & LOG_TO_FILE))
    return true;
  return g_log_file.Reopen(settings.log_file_path,
                           settings.fallback_log_file_path,
                           settings.old_file_mode == DELETE_OLD_LOG_FILE,
                           settings.new_file_only);
}

void SetMinLogLevel(LogSeverity level) {
  g_min_log_level = std::min(level, LOG_FATAL);
}

LogSeverity GetMinLogLevel() {
  return g_min_log_level;
}

void SetLogItems(bool process_id, bool thread_id, bool timestamp, bool tick_count) {
  g_log_items = {process_id, thread_id, timestamp, tick_count};
}

void SetLogMessageHandler(LogMessageHandlerFunction handler) {
  g_log_message_handler = handler;
}

LogMessageHandlerFunction GetLogMessageHandler() {
  return g_log_message_handler;
}

bool ShouldCreateLogMessage(LogSeverity severity) {
  if (severity < g_min_log_level)
    return false;
  return g_logging_destination != LOG_NONE || g_log_message_handler ||
         severity >= LOG_ERROR;
}

int GetModuleVerbosity(const char* file, size_t file_size) {
  const VerboseLogPatterns* patterns = g_verbose_patterns.get();
  if (!patterns)
    return std::max(-1, NegatedMinLogLevel());
  return patterns->GetVerbosityLevel(StringSlice(file, file_size ? file_size - 1 : 0));
}

void ResetVerboseLogPatternsForTesting() {
  InstallVerboseLogPatterns(nullptr);
}

LogItems GetLogItems() {
  return g_log_items;
}

uint32_t GetLoggingDestination() {
  return g_logging_destination;
}

void WriteToLogFile(StringSlice text) {
  g_log_file.Write(text);
}

}  // namespace base

#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

#include "base/log_message.h"
#include "base/strings/string_slice.h"

namespace base {

// Bits of the logging destination.
constexpr uint32_t LOG_NONE = 0;
constexpr uint32_t LOG_TO_FILE = 1;
constexpr uint32_t LOG_TO_DEBUGGER = 2;

// What InitLogging does with a log file that already exists.
enum OldLogFileMode : int32_t {
  DELETE_OLD_LOG_FILE = 0,
  APPEND_TO_OLD_LOG_FILE = 1,
};

struct LoggingSettings {
  LoggingSettings();

  int32_t logging_destination;
  // Must name the log file when LOG_TO_FILE is set; null falls back to
  // "debug.log" beside the executable.
  const wchar_t* log_file_path;
  // May be null. Where the lines go once the log file cannot take them (a
  // full or lost volume), or cannot be made: the lines from then on, after
  // one that names the file that failed. Its folder is made when missing.
  const wchar_t* fallback_log_file_path;
  // Carried for callers that set it; nothing acts on it.
  int32_t lock_mode;
  int32_t old_file_mode;
  // For a log in a folder that a less trusted process may write: every log
  // file (the fallback and "debug.log" included) is made new, never opened
  // through a name that exists or a link, and checked to lie in its folder;
  // a taken name gives way to a suffixed one (NewFileInFolder). Old files
  // under those names are still deleted first when old_file_mode says so.
  // There is no "debug.log" in the current folder as a last resort: once
  // neither the file nor the fallback can be made, the process logs to no
  // file, and does not try again on every line.
  bool new_file_only;
};

// Called as handler(severity, file, line, message start, whole text); returns
// true when it consumed the line, which then goes nowhere else.
using LogMessageHandlerFunction = bool (*)(LogSeverity severity,
                                           const char* file,
                                           int line,
                                           size_t message_start,
                                           const std::string& text);

// Reads "v" and "vmodule" from the process command line (when there is one),
// sets the destination and opens the log file. Meant to be called once, at
// start-up, before other threads log.
bool InitLogging(const LoggingSettings& settings);

// Levels above FATAL are clamped to FATAL; negative levels enable verbose
// lines down to that level.
void SetMinLogLevel(LogSeverity level);
LogSeverity GetMinLogLevel();

void SetLogItems(bool process_id, bool thread_id, bool timestamp, bool tick_count);
void SetLogMessageHandler(LogMessageHandlerFunction handler);
LogMessageHandlerFunction GetLogMessageHandler();

// Whether a site of `severity` should build a LogMessage at all.
bool ShouldCreateLogMessage(LogSeverity severity);

// The verbosity enabled for a source file; `file_size` counts the file's
// terminating NUL, as sizeof(__FILE__) does. VLOG(n) logs when n is at most
// this value.
int GetModuleVerbosity(const char* file, size_t file_size);

// Tests only: forgets the patterns of "v" and "vmodule", as before InitLogging.
void ResetVerboseLogPatternsForTesting();

// What LogMessage needs of the settings.
struct LogItems {
  bool process_id;
  bool thread_id;
  bool timestamp;
  bool tick_count;
};
LogItems GetLogItems();
uint32_t GetLoggingDestination();
// Appends one finished line to the log file, opening it first when needed.
void WriteToLogFile(StringSlice text);

// Makes the conditional of the site macros void on both branches; binds
// looser than << so that everything streamed reaches the message first.
class LogStreamSink {
 public:
  void operator&(std::ostream&) {}
};

}  // namespace base

#define BASE_LOG_STREAM_IF(message, condition) \
  !(condition) ? (void)0 : ::base::LogStreamSink() & (message).stream()

// The severity tokens are pasted directly: an expanded ERROR would be the
// 0 of <wingdi.h>.
#define LOG(severity)                                                  \
  BASE_LOG_STREAM_IF(                                                  \
      ::base::LogMessage(__FILE__, __LINE__, ::base::LOG_##severity),  \
      ::base::ShouldCreateLogMessage(::base::LOG_##severity))

// Gated by the file's verbosity alone: a "vmodule" pattern must enable its
// files even while the minimum severity stays at INFO.
#define VLOG(level)                                          \
  BASE_LOG_STREAM_IF(                                        \
      ::base::LogMessage(__FILE__, __LINE__, -(level)),      \
      ::base::GetModuleVerbosity(__FILE__, sizeof(__FILE__)) >= (level))

// Appends ": " and the text of the last system error code.
#define PLOG(severity)                                                  \
  BASE_LOG_STREAM_IF(                                                   \
      ::base::ErrorLogMessage(__FILE__, __LINE__, ::base::LOG_##severity, \
                              ::base::GetLastSystemErrorCode()),        \
      ::base::ShouldCreateLogMessage(::base::LOG_##severity))

#define CHECK(condition)                                                   \
  BASE_LOG_STREAM_IF(                                                      \
      ::base::LogMessage(__FILE__, __LINE__, ::base::LOG_FATAL), !(condition)) \
      << "Check failed: " #condition ". "

#endif  // BASE_LOGGING_H_

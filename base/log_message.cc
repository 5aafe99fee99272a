#include "base/log_message.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iomanip>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/trace_event/activity_scope.h"

namespace base {
namespace {

// How much of a FATAL line is copied onto the stack for the crash dump.
constexpr size_t kFatalTextKept = 1024;

// Keeps the compiler from dropping stores into `memory` that nothing reads.
void KeepAlive(const void* memory) {
  asm volatile("" : : "r"(memory) : "memory");
}

const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* c = path; *c; ++c) {
    if (*c == '\\' || *c == '/')
      name = c + 1;
  }
  return name;
}

void WriteSeverityName(std::ostream& out, LogSeverity severity) {
  static constexpr const char* kNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  if (severity >= LOG_INFO && severity <= LOG_FATAL)
    out << kNames[severity];
  else if (severity < 0)
    out << "VERBOSE" << -static_cast<int64_t>(severity);
  else
    out << "UNKNOWN";
}

void WriteToStandardError(const std::string& text) {
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
}

// Without a debugger the breakpoint is an unhandled exception, which ends the
// process through crash reporting.
void StopForFatal(const std::string& text) {
  if (GlobalActivityTracker* tracker = GetGlobalActivityTracker())
    RecordLogMessageForActivityTracker(tracker, text);
  char kept[kFatalTextKept] = {};
  memcpy(kept, text.data(), text.size() < sizeof(kept) ? text.size() : sizeof(kept));
  KeepAlive(kept);
  DebugBreak();
  KeepAlive(kept);
}

}  // namespace

SystemErrorCode GetLastSystemErrorCode() {
  return GetLastError();
}

std::string SystemErrorCodeToString(SystemErrorCode code) {
  // Only failures are logged with a code: the system's text for 0 would read
  // "success" on a line that tells of a failure.
  if (code == ERROR_SUCCESS)
    return "The system gave no error code. (0x0)";
  constexpr DWORD kBufferSize = 256;
  char buffer[kBufferSize];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, buffer, kBufferSize, nullptr);
  if (length == 0) {
    const DWORD format_error = GetLastError();
    return FormatString("Error (0x%lX) while retrieving error. (0x%X)",
                        format_error, code);
  }
  return CollapseWhitespace(StringSlice(buffer, length)) +
         FormatString(" (0x%X)", code);
}

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : LogMessage(file, line, severity, GetLastError()) {}

// The public constructor reads the last error before anything here can
// change it.
LogMessage::LogMessage(const char* file, int line, LogSeverity severity,
                       SystemErrorCode last_error)
    : severity_(severity), file_(file), line_(line), last_error_(last_error) {
  WriteHeader();
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  stream_ << '\n';
  const std::string text = stream_.str();
  Deliver(text);
  SetLastError(last_error_);
}

void LogMessage::WriteHeader() {
  const LogItems items = GetLogItems();
  stream_ << '[';
  if (items.process_id)
    stream_ << GetCurrentProcessId() << ':';
  if (items.thread_id)
    stream_ << GetCurrentThreadId() << ':';
  if (items.timestamp) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    // The fill stays '0' afterwards; the message text inherits it.
    stream_ << std::setfill('0') << std::setw(2) << now.wMonth << std::setw(2)
            << now.wDay << '/' << std::setw(2) << now.wHour << std::setw(2)
            << now.wMinute << std::setw(2) << now.wSecond << '.' << std::setw(3)
            << now.wMilliseconds << ':';
  }
  if (items.tick_count)
    stream_ << GetTickCount() << ':';
  WriteSeverityName(stream_, severity_);
  stream_ << ':' << BaseName(file_) << '(' << line_ << ")] ";
}

void LogMessage::Deliver(const std::string& text) {
  const LogMessageHandlerFunction handler = GetLogMessageHandler();
  if (handler && handler(severity_, file_, line_, message_start_, text))
    return;
  const uint32_t destination = GetLoggingDestination();
  if (destination & LOG_TO_DEBUGGER) {
    OutputDebugStringA(text.c_str());
    WriteToStandardError(text);
  } else if (severity_ >= LOG_ERROR) {
    WriteToStandardError(text);
  }
  if (destination & LOG_TO_FILE)
    WriteToLogFile(text);
  if (severity_ == LOG_FATAL)
    StopForFatal(text);
}

ErrorLogMessage::ErrorLogMessage(const char* file, int line,
                                 LogSeverity severity, SystemErrorCode error)
    : error_(error), log_message_(file, line, severity) {}

ErrorLogMessage::~ErrorLogMessage() {
  stream() << ": " << SystemErrorCodeToString(error_);
  KeepAlive(&error_);
}

}  // namespace base

namespace std {

ostream& operator<<(ostream& out, const wchar_t* wide) {
  if (wide)
    out << base::WideToUtf8(wide);
  return out;
}

}  // namespace std

#ifndef BASE_LOG_MESSAGE_H_
#define BASE_LOG_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

namespace base {

// Negative severities are verbose levels: -1 is VERBOSE1, -2 VERBOSE2, ...
using LogSeverity = int32_t;
constexpr LogSeverity LOG_VERBOSE = -1;
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_FATAL = 3;

using SystemErrorCode = uint32_t;

// GetLastError.
SystemErrorCode GetLastSystemErrorCode();
// The system's text for `code`, on one line, followed by " (0x<code>)"; for
// 0, which a failure may leave, a text saying the system gave no code.
std::string SystemErrorCodeToString(SystemErrorCode code);

// One log line: the constructor writes the header, the caller streams the
// text, and the destructor hands the line to the handler and the
// destinations. A FATAL line then stops the process with a breakpoint.
// Logging never changes the caller's last-error value.
class LogMessage {
 public:
  // `file` is the site's literal path and must outlive the message.
  LogMessage(const char* file, int line, LogSeverity severity);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  std::ostream& stream() { return stream_; }

 private:
  LogMessage(const char* file, int line, LogSeverity severity,
             SystemErrorCode last_error);

  void WriteHeader();
  void Deliver(const std::string& text);

  LogSeverity severity_;
  std::ostringstream stream_;
  // Length of the header in stream_.
  size_t message_start_ = 0;
  const char* file_;
  int line_;
  SystemErrorCode last_error_;
};

// A LogMessage that ends with ": " and the text of a system error code.
class ErrorLogMessage {
 public:
  ErrorLogMessage(const char* file, int line, LogSeverity severity,
                  SystemErrorCode error);
  ErrorLogMessage(const ErrorLogMessage&) = delete;
  ErrorLogMessage& operator=(const ErrorLogMessage&) = delete;
  ~ErrorLogMessage();

  std::ostream& stream() { return log_message_.stream(); }

 private:
  // Stays in this object on the caller's stack until the line is written (and
  // a FATAL one breaks), so a crash dump shows it.
  SystemErrorCode error_;
  LogMessage log_message_;
};

}  // namespace base

namespace std {

// Writes the UTF-8 form of a wide C string; null writes nothing. Declared in
// std because argument-dependent lookup is the only lookup that reaches every
// namespace a log site can be in (the standard's own overload is deleted).
ostream& operator<<(ostream& out, const wchar_t* wide);

}  // namespace std

#endif  // BASE_LOG_MESSAGE_H_

#ifndef BASE_TEST_SCOPED_LOG_CAPTURE_H_
#define BASE_TEST_SCOPED_LOG_CAPTURE_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "base/logging.h"

namespace base {

// Takes every log line while it lives, so a test can check what was logged
// and nothing reaches a log file. One at a time; the
// lines must come from the test's own thread.
class ScopedLogCapture {
 public:
  ScopedLogCapture() : previous_(GetLogMessageHandler()) {
    Lines().clear();
    SetLogMessageHandler(&Capture);
  }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
  ~ScopedLogCapture() { SetLogMessageHandler(previous_); }

  // The message texts, without header or line end.
  const std::vector<std::string>& lines() const { return Lines(); }

 private:
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

  static bool Capture(LogSeverity severity,
                      const char* file,
                      int line,
                      size_t message_start,
                      const std::string& text) {
    std::string message = text.substr(message_start);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r')) {
      message.pop_back();
    }
    Lines().push_back(std::move(message));
    return true;
  }

  LogMessageHandlerFunction previous_;
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_LOG_CAPTURE_H_

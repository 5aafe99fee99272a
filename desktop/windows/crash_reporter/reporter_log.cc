#include "desktop/windows/crash_reporter/reporter_log.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/tls_slot.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/installer/product/branding.h"

namespace installer {

namespace {

constexpr DWORD kMaxLogPath = 261;
constexpr char kLogFileSuffix[] = "_crashreporter.log";
constexpr char kCapturedLogHeader[] = "\nCrash Logger:\n";

// One open capture of a thread; the one it hides comes back when it ends.
struct LogCapture {
  std::string text;
  LogCapture* previous = nullptr;
};

constinit base::TlsSlot g_capture_slot;

LogCapture* CurrentCapture() {
  return static_cast<LogCapture*>(g_capture_slot.Get());
}

// Dump callbacks may open the first captures on several threads at once.
void EnsureCaptureSlot() {
  static const bool initialized = [] {
    g_capture_slot.Initialize(nullptr);
    return true;
  }();
  (void)initialized;
}

// Source paths may use either separator, depending on where it was built.
const char* SourceBaseName(const char* file) {
  const char* base = file;
  for (const char* c = file; *c; ++c) {
    if (*c == '\\' || *c == '/')
      base = c + 1;
  }
  return base;
}

bool CaptureLogMessage(base::LogSeverity severity,
                       const char* file,
                       int line,
                       size_t message_start,
                       const std::string& text) {
  LogCapture* capture = CurrentCapture();
  if (!capture)
    return false;
  capture->text += SourceBaseName(file);
  capture->text += ':' + std::to_string(line) + ':';
  capture->text.append(text, message_start, std::string::npos);
  return true;
}

std::wstring LogFilePath() {
  wchar_t temp[kMaxLogPath];
  const DWORD length = ::GetTempPathW(kMaxLogPath, temp);
  if (length == 0 || length >= kMaxLogPath)
    return std::wstring();
  const std::wstring path =
      std::wstring(temp, length) +
      base::Utf8ToWide(base::ToLowerAsciiString(GetBrandingProductName()) +
                       kLogFileSuffix);
  return path.size() < kMaxLogPath ? path : std::wstring();
}

}  // namespace

void ReporterLogInit() {
  EnsureCaptureSlot();
  // Kept for the process: the logging settings point at it.
  static std::wstring log_path;
  log_path = LogFilePath();
  base::LoggingSettings settings;
  settings.logging_destination =
      log_path.empty() ? base::LOG_TO_DEBUGGER : base::LOG_TO_FILE;
  settings.log_file_path = log_path.empty() ? nullptr : log_path.c_str();
  settings.lock_mode = 0;
  settings.old_file_mode = base::DELETE_OLD_LOG_FILE;
  // The temporary folder is the user's and the reporter may run elevated:
  // the file is made new after the old one is deleted (a link planted
  // under the name goes as a link, never through it).
  settings.new_file_only = true;
  base::InitLogging(settings);
  base::SetLogItems(true, true, true, true);
  base::SetLogMessageHandler(&CaptureLogMessage);
  base::SetMinLogLevel(base::LOG_INFO);
}

void BeginLogCapture() {
  EnsureCaptureSlot();
  auto capture = std::make_unique<LogCapture>();
  capture->previous = CurrentCapture();
  g_capture_slot.Set(capture.release());
}

void EndLogCapture() {
  std::unique_ptr<LogCapture> capture(CurrentCapture());
  if (capture)
    g_capture_slot.Set(capture->previous);
}

bool AppendCapturedLog(CrashFile* file) {
  LogCapture* capture = CurrentCapture();
  if (!capture || capture->text.empty())
    return true;
  const bool written =
      file->AppendText(kCapturedLogHeader) && file->AppendText(capture->text);
  capture->text.clear();
  return written;
}

}  // namespace installer

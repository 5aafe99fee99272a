#include "base/logging.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

struct CapturedLine {
  LogSeverity severity;
  std::string file;
  int line;
  size_t message_start;
  std::string text;
};

std::vector<CapturedLine>& Captured() {
  static std::vector<CapturedLine> lines;
  return lines;
}

bool g_handler_consumes = true;

bool CaptureLine(LogSeverity severity, const char* file, int line,
                 size_t message_start, const std::string& text) {
  Captured().push_back({severity, file, line, message_start, text});
  // Logging must put back the caller's error whatever the handler does.
  SetLastError(ERROR_INVALID_DATA);
  return g_handler_consumes;
}

std::wstring TempDirectory() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  std::wstring directory(buffer, length);
  directory += L"tarvo_logging_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(directory.c_str(), nullptr);
  return directory;
}

std::string ReadFileText(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool InitLoggingTo(uint32_t destination, const wchar_t* path,
                   OldLogFileMode old_file_mode = APPEND_TO_OLD_LOG_FILE) {
  LoggingSettings settings;
  settings.logging_destination = static_cast<int32_t>(destination);
  settings.log_file_path = path;
  settings.old_file_mode = old_file_mode;
  return InitLogging(settings);
}

// Every test starts with lines captured by the handler, the file destination
// parked on the null device (so nothing lands beside the test program), and
// the default header items and level.
class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, L"NUL"));
    Captured().clear();
    g_handler_consumes = true;
    SetLogMessageHandler(&CaptureLine);
    SetLogItems(false, false, true, false);
    SetMinLogLevel(LOG_INFO);
  }

  void TearDown() override {
    // Releases any test file, so it can be deleted.
    InitLoggingTo(LOG_TO_FILE, L"NUL");
    SetLogMessageHandler(nullptr);
    SetLogItems(false, false, true, false);
    SetMinLogLevel(LOG_INFO);
    ResetVerboseLogPatternsForTesting();
    for (const std::wstring& file : files_to_delete_)
      DeleteFileW(file.c_str());
    RemoveDirectoryW(TempDirectory().c_str());
  }

  std::wstring TempFile(const wchar_t* name) {
    const std::wstring path = TempDirectory() + name;
    files_to_delete_.push_back(path);
    return path;
  }

  std::vector<std::wstring> files_to_delete_;
};

using LoggingDeathTest = LoggingTest;

TEST_F(LoggingTest, HeaderHoldsEnabledItemsInOrder) {
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::string tid = std::to_string(GetCurrentThreadId());
  const std::string time = R"(\d{4}/\d{6}\.\d{3}:)";
  const struct {
    bool process_id, thread_id, timestamp, tick_count;
    std::string expected_prefix;
  } kCases[] = {
      {false, false, false, false, ""},
      {true, false, false, false, pid + ":"},
      {false, true, false, false, tid + ":"},
      {false, false, true, false, time},
      {false, false, false, true, R"(\d+:)"},
      {true, true, true, true, pid + ":" + tid + ":" + time + R"(\d+:)"},
  };
  for (const auto& c : kCases) {
    Captured().clear();
    SetLogItems(c.process_id, c.thread_id, c.timestamp, c.tick_count);
    LOG(WARNING) << "text";
    ASSERT_EQ(1u, Captured().size());
    const CapturedLine& line = Captured()[0];
    const std::regex expected(R"(\[)" + c.expected_prefix +
                              R"(WARNING:logging_unittest\.cc\((\d+)\)\] text\n)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line.text, match, expected)) << line.text;
    EXPECT_EQ(std::to_string(line.line), match[1].str());
    EXPECT_EQ(line.text.size() - 5, line.message_start);
    EXPECT_EQ(LOG_WARNING, line.severity);
  }
}

TEST_F(LoggingTest, SeverityNameAndFileBaseName) {
  SetLogItems(false, false, false, false);
  const struct {
    LogSeverity severity;
    const char* file;
    const char* expected;
  } kCases[] = {
      {LOG_INFO, "a/b/c.cc", "[INFO:c.cc(7)] x\n"},
      {LOG_WARNING, "a\\b\\c.h", "[WARNING:c.h(7)] x\n"},
      {LOG_ERROR, "a\\b/c.cc", "[ERROR:c.cc(7)] x\n"},
      {LOG_FATAL, "a/b\\c.cc", "[FATAL:c.cc(7)] x\n"},
      {-1, "c.cc", "[VERBOSE1:c.cc(7)] x\n"},
      {-3, "c.cc", "[VERBOSE3:c.cc(7)] x\n"},
      {4, "c.cc", "[UNKNOWN:c.cc(7)] x\n"},
      {7, "dir/", "[UNKNOWN:(7)] x\n"},
  };
  for (const auto& c : kCases) {
    Captured().clear();
    // The handler consumes the line, so FATAL does not stop the test.
    LogMessage(c.file, 7, c.severity).stream() << "x";
    ASSERT_EQ(1u, Captured().size());
    EXPECT_EQ(c.expected, Captured()[0].text);
    EXPECT_EQ(c.file, Captured()[0].file);
  }
}

TEST_F(LoggingTest, WideStringsAreWrittenAsUtf8) {
  const wchar_t* const kNull = nullptr;
  LOG(INFO) << L"caf\x00E9 " << kNull << L"\xD83D\xDE00";
  ASSERT_EQ(1u, Captured().size());
  EXPECT_EQ("caf\xC3\xA9 \xF0\x9F\x98\x80\n",
            Captured()[0].text.substr(Captured()[0].message_start));
}

TEST_F(LoggingTest, MinLogLevelIsClampedToFatal) {
  const struct {
    LogSeverity set;
    LogSeverity stored;
  } kCases[] = {{5, 3}, {INT32_MAX, 3}, {3, 3}, {1, 1}, {-2, -2}};
  for (const auto& c : kCases) {
    SetMinLogLevel(c.set);
    EXPECT_EQ(c.stored, GetMinLogLevel()) << c.set;
  }
}

TEST_F(LoggingTest, ShouldCreateLogMessageFollowsLevelDestinationAndHandler) {
  const struct {
    uint32_t destination;
    bool handler;
    LogSeverity min_level;
    LogSeverity severity;
    bool expected;
  } kCases[] = {
      {LOG_NONE, false, LOG_INFO, LOG_INFO, false},
      {LOG_NONE, false, LOG_INFO, LOG_WARNING, false},
      {LOG_NONE, false, LOG_INFO, LOG_ERROR, true},
      {LOG_NONE, false, LOG_INFO, LOG_FATAL, true},
      {LOG_NONE, true, LOG_INFO, LOG_INFO, true},
      {LOG_TO_DEBUGGER, false, LOG_INFO, LOG_INFO, true},
      {LOG_TO_FILE, false, LOG_INFO, LOG_INFO, true},
      {LOG_TO_FILE, false, LOG_INFO, -1, false},
      {LOG_TO_FILE, false, -1, -1, true},
      {LOG_TO_FILE, true, LOG_FATAL, LOG_ERROR, false},
      {LOG_NONE, false, LOG_FATAL, LOG_FATAL, true},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(InitLoggingTo(c.destination, L"NUL"));
    SetLogMessageHandler(c.handler ? &CaptureLine : nullptr);
    SetMinLogLevel(c.min_level);
    EXPECT_EQ(c.expected, ShouldCreateLogMessage(c.severity))
        << "destination " << c.destination << " handler " << c.handler
        << " min " << c.min_level << " severity " << c.severity;
  }
}

TEST_F(LoggingTest, LinesGoToFileUnlessHandlerConsumesThem) {
  const std::wstring path = TempFile(L"lines.log");
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, path.c_str(), DELETE_OLD_LOG_FILE));
  g_handler_consumes = true;
  LOG(ERROR) << "consumed";
  g_handler_consumes = false;
  LOG(WARNING) << "passed on";
  LOG(INFO) << "second";
  EXPECT_EQ(3u, Captured().size());
  const std::string text = ReadFileText(path);
  EXPECT_EQ(std::string::npos, text.find("consumed"));
  EXPECT_TRUE(std::regex_match(
      text, std::regex(R"(\[[0-9/.]+:WARNING:logging_unittest\.cc\(\d+\)\] passed on\n)"
                       R"(\[[0-9/.]+:INFO:logging_unittest\.cc\(\d+\)\] second\n)")))
      << text;
}

TEST_F(LoggingTest, OldFileModeAppendsOrDeletes) {
  const std::wstring path = TempFile(L"old.log");
  SetLogMessageHandler(nullptr);
  SetLogItems(false, false, false, false);
  const auto line_text = [](int line, const char* text) {
    return "[INFO:logging_unittest.cc(" + std::to_string(line) + ")] " + text + "\n";
  };
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, path.c_str(), DELETE_OLD_LOG_FILE));
  const int first_line = __LINE__ + 1;
  LOG(INFO) << "first";
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, path.c_str(), APPEND_TO_OLD_LOG_FILE));
  const int second_line = __LINE__ + 1;
  LOG(INFO) << "second";
  EXPECT_EQ(line_text(first_line, "first") + line_text(second_line, "second"),
            ReadFileText(path));
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, path.c_str(), DELETE_OLD_LOG_FILE));
  const int third_line = __LINE__ + 1;
  LOG(INFO) << "third";
  EXPECT_EQ(line_text(third_line, "third"), ReadFileText(path));
}

TEST_F(LoggingTest, FallsBackToDebugLogInCurrentDirectory) {
  const std::wstring fallback = TempFile(L"debug.log");
  wchar_t saved_directory[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, saved_directory);
  ASSERT_TRUE(SetCurrentDirectoryW(TempDirectory().c_str()));
  const std::wstring unreachable = TempDirectory() + L"missing\\x.log";
  const bool opened = InitLoggingTo(LOG_TO_FILE, unreachable.c_str());
  SetCurrentDirectoryW(saved_directory);
  ASSERT_TRUE(opened);
  g_handler_consumes = false;
  LOG(INFO) << "landed in the fallback";
  EXPECT_NE(std::string::npos, ReadFileText(fallback).find("landed in the fallback"));
}

// A log that cannot be made goes on in the fallback, whose folder is made,
// after a line naming the file that failed. (A write that fails on a full
// volume takes the same way: Wine lets no test make one fail here, the
// end-to-end tests fill a volume.)
TEST_F(LoggingTest, LinesGoToTheFallbackWhenTheLogFails) {
  const std::wstring path = TempDirectory() + L"missing\\x.log";
  const std::wstring fallback_folder = TempDirectory() + L"fallback";
  const std::wstring fallback = fallback_folder + L"\\later.log";
  LoggingSettings settings;
  settings.log_file_path = path.c_str();
  settings.fallback_log_file_path = fallback.c_str();
  ASSERT_TRUE(InitLogging(settings));
  g_handler_consumes = false;
  LOG(INFO) << "first line";
  LOG(INFO) << "second line";
  InitLoggingTo(LOG_TO_FILE, L"NUL");

  const std::string text = ReadFileText(fallback);
  DeleteFileW(fallback.c_str());
  RemoveDirectoryW(fallback_folder.c_str());
  EXPECT_EQ(0u, text.find("The log file " + WideToUtf8(path) +
                          " cannot be written ("))
      << text;
  EXPECT_NE(std::string::npos, text.find("first line")) << text;
  EXPECT_NE(std::string::npos, text.find("second line")) << text;
}

TEST_F(LoggingTest, LoggingKeepsLastError) {
  const std::wstring path = TempFile(L"error.log");
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, path.c_str(), DELETE_OLD_LOG_FILE));
  for (bool consumes : {true, false}) {
    g_handler_consumes = consumes;
    SetLastError(1234);
    LOG(ERROR) << "x";
    EXPECT_EQ(1234u, GetLastError());
    SetLastError(1234);
    PLOG(WARNING) << "y";
    EXPECT_EQ(1234u, GetLastError());
  }
}

TEST_F(LoggingTest, ErrorLogMessageAppendsSystemErrorText) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  PLOG(ERROR) << "open";
  ASSERT_EQ(1u, Captured().size());
  EXPECT_EQ("open: " + SystemErrorCodeToString(ERROR_FILE_NOT_FOUND) + "\n",
            Captured()[0].text.substr(Captured()[0].message_start));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(LoggingTest, SystemErrorCodeToStringShapes) {
  // Wine's message table words this code "File not found." where Windows
  // says "The system cannot find the file specified.".
  const std::string not_found = SystemErrorCodeToString(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(not_found == "The system cannot find the file specified. (0x2)" ||
              not_found == "File not found. (0x2)")
      << not_found;
  // One line, whatever line breaks the system text has.
  const std::string access = SystemErrorCodeToString(ERROR_ACCESS_DENIED);
  EXPECT_TRUE(std::regex_match(access, std::regex(R"(\S.*\S \(0x5\))"))) << access;
  EXPECT_EQ(std::string::npos, access.find('\n'));
  EXPECT_EQ("Error (0x13D) while retrieving error. (0x2000ABCD)",
            SystemErrorCodeToString(0x2000ABCD));
  // A failure without a code is never told as the system's "success".
  EXPECT_EQ("The system gave no error code. (0x0)", SystemErrorCodeToString(0));
}

TEST_F(LoggingTest, GetModuleVerbosityWithoutPatternsFollowsMinLevel) {
  const struct {
    LogSeverity min_level;
    int expected;
  } kCases[] = {{LOG_INFO, 0}, {LOG_ERROR, -1}, {LOG_FATAL, -1}, {-3, 3},
                {INT32_MIN, INT32_MAX}};
  for (const auto& c : kCases) {
    SetMinLogLevel(c.min_level);
    EXPECT_EQ(c.expected, GetModuleVerbosity(__FILE__, sizeof(__FILE__)))
        << c.min_level;
  }
}

// Installs a process command line for one test and puts the old one back.
class ScopedCommandLine {
 public:
  explicit ScopedCommandLine(const wchar_t* command_line) {
    auto replacement = std::make_unique<CommandLine>(CommandLine::NO_PROGRAM);
    replacement->ParseFromString(command_line);
    previous_ = CommandLine::SetForCurrentProcessForTesting(std::move(replacement));
  }
  ~ScopedCommandLine() {
    CommandLine::SetForCurrentProcessForTesting(std::move(previous_));
  }

 private:
  std::unique_ptr<CommandLine> previous_;
};

TEST_F(LoggingTest, VerbositySwitchesEnableVerboseSites) {
  ScopedCommandLine command_line(
      L"installer.exe --vmodule=logging_unittest=2,*/other/*=4 --v=1");
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, L"NUL"));
  EXPECT_EQ(-1, GetMinLogLevel());
  EXPECT_EQ(2, GetModuleVerbosity(__FILE__, sizeof(__FILE__)));
  EXPECT_EQ(4, GetModuleVerbosity("src\\other\\x.cc", sizeof("src\\other\\x.cc")));
  EXPECT_EQ(1, GetModuleVerbosity("src/x.cc", sizeof("src/x.cc")));
  VLOG(3) << "too verbose";
  VLOG(2) << "enabled";
  ASSERT_EQ(1u, Captured().size());
  EXPECT_EQ(-2, Captured()[0].severity);
  EXPECT_NE(std::string::npos, Captured()[0].text.find(":VERBOSE2:logging_unittest.cc("));
}

TEST_F(LoggingTest, VmoduleAloneEnablesItsFiles) {
  ScopedCommandLine command_line(L"installer.exe --vmodule=logging_unittest=1");
  ASSERT_TRUE(InitLoggingTo(LOG_TO_FILE, L"NUL"));
  EXPECT_EQ(LOG_INFO, GetMinLogLevel());
  VLOG(1) << "enabled";
  EXPECT_EQ(1u, Captured().size());
}

TEST_F(LoggingTest, InitLoggingWithoutProcessCommandLine) {
  ScopedCommandLine no_command_line(L"");
  CommandLine::SetForCurrentProcessForTesting(nullptr);
  EXPECT_TRUE(InitLoggingTo(LOG_TO_FILE, L"NUL"));
  VLOG(1) << "off";
  EXPECT_TRUE(Captured().empty());
}

TEST_F(LoggingDeathTest, HandledFatalDoesNotStop) {
  LOG(FATAL) << "handled";
  EXPECT_EQ(1u, Captured().size());
}

TEST_F(LoggingDeathTest, FatalStopsAfterWriting) {
  // The dying child is another process: the file must not be named after
  // the process id, as TempFile's folder is.
  wchar_t temp[MAX_PATH];
  const std::wstring path =
      std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"tarvo_logging_fatal.log";
  files_to_delete_.push_back(path);
  EXPECT_DEATH(
      {
        SetLogMessageHandler(nullptr);
        InitLoggingTo(LOG_TO_FILE, path.c_str(), DELETE_OLD_LOG_FILE);
        LOG(FATAL) << "fatal reached";
      },
      "FATAL:logging_unittest.cc\\(\\d+\\)\\] fatal reached");
  EXPECT_NE(std::string::npos, ReadFileText(path).find("fatal reached"));
}

TEST_F(LoggingDeathTest, FailedCheckStops) {
  EXPECT_DEATH(
      {
        SetLogMessageHandler(nullptr);
        CHECK(1 + 1 == 3) << "arithmetic";
      },
      "Check failed: 1 \\+ 1 == 3\\. arithmetic");
  CHECK(1 + 1 == 2) << "never evaluated";
}

TEST_F(LoggingDeathTest, ErrorWithoutDestinationGoesToStandardError) {
  EXPECT_EXIT(
      {
        SetLogMessageHandler(nullptr);
        InitLoggingTo(LOG_NONE, nullptr);
        LOG(ERROR) << "only on stderr";
        std::exit(0);
      },
      testing::ExitedWithCode(0), "ERROR:logging_unittest.cc\\(\\d+\\)\\] only on stderr");
}

}  // namespace
}  // namespace base

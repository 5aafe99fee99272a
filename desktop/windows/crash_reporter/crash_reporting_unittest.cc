#include "desktop/windows/crash_reporter/crash_reporting.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/strings/string_format.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/recording_crash_server.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ChildProcess;
using test::MinidumpFile;
using test::ValueOfLine;

constexpr wchar_t kCrashChild[] = L"crash_child.exe";

// Sets an environment variable for the children started in its scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value)
      : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironmentVariable() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* const name_;
};

std::vector<std::string> RunChild(const std::wstring& arguments,
                                  DWORD* exit_code) {
  ChildProcess child;
  EXPECT_TRUE(child.Start(kCrashChild, arguments));
  return child.WaitForExit(exit_code);
}

// A crash folder of the test's own whose logs are kept: no crash server takes
// them ("ftp" is refused before any connection).
struct KeptCrashLogs {
  const base::ScopedTempFolder folder;
  const ScopedEnvironmentVariable log_dir{L"TARVO_CRASH_LOG_DIR",
                                          folder.path().value()};
  const ScopedEnvironmentVariable keep_logs{L"TARVO_CRASH_KEEP_LOGS", L"1"};
  const ScopedEnvironmentVariable server{L"TARVO_CRASH_SERVER_URL",
                                         L"ftp://127.0.0.1/crash"};
};

// This program links the test hooks the library that ships links: they ask
// for no other waits, and crash reporting keeps its own (2 s for the
// reporter to serve, 15 s for a dump).
TEST(CrashReportingTest, ShippedHooksKeepTheShippedWaits) {
  EXPECT_FALSE(TestHooks::CrashReportingWaitMs());
  const internal::CrashReportingWaits waits =
      internal::GetCrashReportingWaitsForTesting();
  EXPECT_EQ(waits.reporter_start_ms, 2000u);
  EXPECT_EQ(waits.dump_ms, 15000u);
}

// Without a usable "crash-reporter-pid" the installer process launches its
// own reporter, which writes the crash log of its crash into the crash
// folder. No crash server takes it ("ftp" is refused before any
// connection), and the log is kept.
TEST(CrashReportingTest, InstallerLaunchesAReporterThatLogsItsCrash) {
  for (const wchar_t* reporter_switch : {L"", L"--crash-reporter-pid=abc "}) {
    SCOPED_TRACE(reporter_switch);
    const KeptCrashLogs kept;
    const base::ScopedTempFolder& folder = kept.folder;
    DWORD exit_code = 0;
    const std::vector<std::string> lines =
        RunChild(reporter_switch + std::wstring(L"--crash=access-violation"),
                 &exit_code);
    EXPECT_EQ(exit_code, 0xC0000005u);
    const std::string reporter = ValueOfLine(lines, "reporter");
    EXPECT_NE(reporter, "0");

    // Written before the crashed process was let go.
    std::string log;
    ASSERT_TRUE(base::ReadFileToString(
        folder.path().AppendASCII("tarvo-crashlog-" + reporter + "-1.txt"),
        &log));
    EXPECT_NE(log.find("\r\ncrash_child.exe caused exception C0000005 at "),
              std::string::npos)
        << log.substr(0, 300);
    // The crashing thread runs at normal priority.
    const std::string crashed_thread = base::FormatString(
        "ThreadInfo: %08X\r\nPriority=00000000\r\nCrashed=1\r\n",
        static_cast<unsigned>(std::stoul(ValueOfLine(lines, "thread"))));
    EXPECT_NE(log.find(crashed_thread), std::string::npos);
  }
}

// The installer process goes on while its reporter starts, and hands it on
// to a child once it has started: a crash that comes before the reporter
// serves, the installer's or the child's, waits for it and is logged by it.
TEST(CrashReportingTest, CrashBeforeTheReporterServesIsLoggedByIt) {
  const struct {
    const wchar_t* arguments;
    DWORD exit_code;
  } kCases[] = {
      {L"--crash=access-violation --at-once", 0xC0000005u},
      {L"--crash-child=access-violation --at-once", 0},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.exit_code);
    const KeptCrashLogs kept;
    DWORD exit_code = 1;
    RunChild(test_case.arguments, &exit_code);
    EXPECT_EQ(exit_code, test_case.exit_code);

    // Named after the reporter, which the installer did not wait to learn.
    base::FileEnumerator found(kept.folder.path(), false,
                               base::FileEnumerator::kFiles,
                               L"tarvo-crashlog-*-1.txt");
    std::vector<base::FilePath> logs;
    for (base::FilePath path = found.Next(); !path.empty();
         path = found.Next()) {
      logs.push_back(path);
    }
    ASSERT_EQ(logs.size(), 1u);
    std::string log;
    ASSERT_TRUE(base::ReadFileToString(logs[0], &log));
    EXPECT_NE(log.find("\r\ncrash_child.exe caused exception C0000005 at "),
              std::string::npos)
        << log.substr(0, 300);
  }
}

// The reporter a child is handed ("crash-reporter-pid"): a standard
// user's process takes any, one that may run elevated only one that runs
// elevated as its user, as a standard user's cannot. Refused, it serves
// itself with a reporter of its own.
TEST(CrashReportingTest, NamedReporterIsTakenOnlyWhereItRunsAsPrivileged) {
  enum class Server { kStandardUser, kAdministrator, kEnded, kNotNumeric };
  using Token = ChildProcess::Token;
  struct Case {
    const char* name;
    Server server;
    Token child;
    bool taken;
  };
  const Case cases[] = {
      {"standard user's, by a standard user", Server::kStandardUser,
       Token::kStandardUser, true},
      {"administrator's, by a standard user", Server::kAdministrator,
       Token::kStandardUser, true},
      {"administrator's, by an elevated process", Server::kAdministrator,
       Token::kOwn, true},
      {"standard user's, by an elevated process", Server::kStandardUser,
       Token::kOwn, false},
      {"ended, by an elevated process", Server::kEnded, Token::kOwn, false},
      {"not a number, by an elevated process", Server::kNotNumeric,
       Token::kOwn, false},
  };
  for (const Case& check : cases) {
    SCOPED_TRACE(check.name);
    ChildProcess server;
    std::string server_pid = "1x";
    if (check.server != Server::kNotNumeric) {
      ASSERT_TRUE(server.Start(L"crash_test_server.exe", L"--clients=1",
                               check.server == Server::kStandardUser
                                   ? Token::kStandardUser
                                   : Token::kOwn));
      std::string ready;
      ASSERT_TRUE(server.ReadLine(&ready));
      ASSERT_EQ(ready, "ready " + std::to_string(server.pid()));
      server_pid = std::to_string(server.pid());
    }
    if (check.server == Server::kEnded) {
      // Held by this test, its id names no other process.
      ::TerminateProcess(server.handle(), 1);
      ::WaitForSingleObject(server.handle(), INFINITE);
    }
    ChildProcess child;
    ASSERT_TRUE(child.Start(
        kCrashChild,
        L"--crash=none --crash-reporter-pid=" +
            std::wstring(server_pid.begin(), server_pid.end()),
        check.child));
    DWORD exit_code = 1;
    const std::vector<std::string> lines = child.WaitForExit(&exit_code);
    EXPECT_EQ(exit_code, 0u);
    const std::string reporter = ValueOfLine(lines, "reporter");
    EXPECT_EQ(check.taken, reporter == server_pid) << reporter;
    EXPECT_NE(reporter, "0");
    EXPECT_FALSE(reporter.empty());
    EXPECT_EQ(ValueOfLine(lines, "child reporter"), reporter);
  }
}

TEST(CrashReportingTest, InstallerRunsOnWhenItsReporterEndsFirst) {
  DWORD exit_code = 1;
  const std::vector<std::string> lines =
      RunChild(L"--crash=none --reporter-exits", &exit_code);
  EXPECT_EQ(exit_code, 0u);
  EXPECT_EQ(ValueOfLine(lines, "reporter"), "0");
}

// The installer process gives up on its reporter before the reporter looks
// for it (a busy machine's late reporter): the run goes on without one, and
// the reporter ends quietly, with a line in its own log. Nothing it says
// reaches its starter's output, whoever starts it.
TEST(CrashReportingTest, LateReporterEndsQuietlyInItsOwnLog) {
  for (const ChildProcess::Token token :
       {ChildProcess::Token::kStandardUser, ChildProcess::Token::kOwn}) {
    SCOPED_TRACE(token == ChildProcess::Token::kOwn);
    const base::ScopedTempFolder temp;
    const ScopedEnvironmentVariable tmp(L"TMP", temp.path().value());
    const ScopedEnvironmentVariable temp_variable(L"TEMP", temp.path().value());
    ChildProcess child;
    ASSERT_TRUE(child.Start(kCrashChild, L"--reporter-late", token));
    DWORD exit_code = 1;
    const std::vector<std::string> lines = child.WaitForExit(&exit_code);
    EXPECT_EQ(exit_code, 0u);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"reporter 0", "child reporter 0"}));

    std::string log;
    ASSERT_TRUE(base::ReadFileToString(
        temp.path().Append(L"tarvo_crashreporter.log"), &log));
    EXPECT_NE(log.find(":WARNING:crash_reporter_main.cc("), std::string::npos)
        << log;
    EXPECT_NE(log.find("] Process " + std::to_string(child.pid()) +
                       " no longer waits for its crash reporter\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(":ERROR:"), std::string::npos) << log;
  }
}

TEST(CrashReportingTest, OriginComesFromTheTestRunBeforeTheOriginVariable) {
  struct Case {
    const wchar_t* tvauto_test;
    const wchar_t* origin;
    const wchar_t* expected_origin;
  };
  const Case cases[] = {
      {L"", L"nightly-run", L"nightly-run"},
      {L"suite-7", L"nightly-run", L"TvAuto"},
  };
  test::RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  for (const Case& expected : cases) {
    const ScopedEnvironmentVariable tvauto(L"TARVO_CRASH_REPORTER_TVAUTO_TEST",
                                           expected.tvauto_test);
    const ScopedEnvironmentVariable origin(L"TARVO_CRASH_ORIGIN",
                                           expected.origin);
    DWORD exit_code = 0;
    RunChild(L"--crash=access-violation --crash-reporter-pid=" +
                 std::to_wstring(::GetCurrentProcessId()),
             &exit_code);
    const auto request = server.dump_requests().back();
    EXPECT_EQ(request.keys.at(L"Origin"), expected.expected_origin);
    EXPECT_EQ(request.keys.count(L"tvauto_test"),
              *expected.tvauto_test ? 1u : 0u);
  }
}

}  // namespace
}  // namespace installer

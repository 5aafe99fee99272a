#include "desktop/windows/installer/frontend/backend_reports.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

struct VerdictCase {
  const char* name;
  bool success_reported;
  bool error_reported;
  bool exit_code_read;
  DWORD exit_code;
  bool succeeded;
};

constexpr VerdictCase kVerdictCases[] = {
    {"report and 0", true, false, true, 0, true},
    // A killed backend reads 0 under Wine, as TerminateProcess(h, 0) does
    // on Windows.
    {"no report and 0", false, false, true, 0, false},
    {"report and nonzero", true, false, true, 1, false},
    {"report and unreadable code", true, false, false, 0, false},
    {"error and 0", false, true, true, 0, false},
    {"success, then error, and 0", true, true, true, 0, false},
    {"nothing and nonzero", false, false, true, 3, false},
};

TEST(BackendReportsTest, RunSucceedsOnlyWithSuccessReportAndExitCodeZero) {
  for (const VerdictCase& test : kVerdictCases) {
    SCOPED_TRACE(test.name);
    BackendReports reports;
    if (test.success_reported)
      reports.OnSuccess();
    if (test.error_reported)
      reports.OnError({37062, L"C:\\Tarvo", "Failed copying", 0});
    EXPECT_EQ(test.succeeded,
              reports.RunSucceeded(test.exit_code_read, test.exit_code));
  }
}

// The reports as the front end receives them around a hand-over: the
// package's installer speaks between the two brackets, its waiting backend
// after them.
struct HandoverCase {
  const char* name;
  bool child_success;
  bool child_nested_handover_success;
  bool succeeded;
};

constexpr HandoverCase kHandoverCases[] = {
    {"child reports success", true, true, true},
    // Killed: no word from it, and its exit code reads 0 to its waiter.
    {"child ends without a report", false, true, false},
    {"child's own hand-over ends without a report", true, false, false},
};

TEST(BackendReportsTest, HandedOverInstallerMustReportItsOwnSuccess) {
  for (const HandoverCase& test : kHandoverCases) {
    SCOPED_TRACE(test.name);
    BackendReports reports;
    reports.OnStartingNewMainProcess(false);
    reports.OnStartingNewMainProcess(false);
    if (test.child_nested_handover_success)
      reports.OnSuccess();
    reports.OnReturnedToPreviousMainProcess();
    if (test.child_success)
      reports.OnSuccess();
    reports.OnReturnedToPreviousMainProcess();
    reports.OnSuccess();
    EXPECT_EQ(test.succeeded, reports.RunSucceeded(true, 0));
    EXPECT_EQ(!test.succeeded, reports.handover_unconfirmed());
  }
}

}  // namespace
}  // namespace installer

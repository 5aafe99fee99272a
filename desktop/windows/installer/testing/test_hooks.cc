// The test hooks of the library the tests run.
#include "desktop/windows/installer/testing/test_hooks.h"

#include <string>

#include "base/environment.h"
#include "base/logging.h"
#include "desktop/windows/installer/testing/test_fault_injection.h"

namespace installer {

namespace {

// The one variable every hook reads; the product never sets it.
constexpr char kVariable[] = "TARVO_TEST_FAULT";
// Only a guard against a hang: a busy machine may start the reporter, or
// write a dump, slower than the shipped waits allow, and the tests judge
// the crash path, not the machine's speed. Short of the end-to-end tests'
// own guard, so that a process still ends by itself first.
constexpr uint32_t kCrashReportingHangGuardMs = 5 * 60 * 1000;

TestFaultInjection::Plan ReadPlan() {
  TestFaultInjection::Plan plan;
  std::string text;
  if (!base::CreateEnvironment()->GetVar(kVariable, &text))
    return plan;
  if (!TestFaultInjection::Parse(text, &plan)) {
    LOG(ERROR) << "Ignoring " << kVariable << " that does not parse: " << text;
    return TestFaultInjection::Plan();
  }
  LOG(WARNING) << "Test fault injection armed: " << text;
  return plan;
}

// Read on first use: by then the process's log is open.
TestFaultInjection& Injection() {
  static TestFaultInjection injection(ReadPlan());
  return injection;
}

}  // namespace

void TestHooks::OnRolePoint(RolePoint point) {
  // The host opens no log of its own: the plan's lines would make a
  // "debug.log" beside it, inside the installation that tests compare.
  if (point == RolePoint::kHostStart) {
    base::LoggingSettings settings;
    settings.logging_destination = base::LOG_NONE;
    base::InitLogging(settings);
  }
  Injection().OnRolePoint(point);
}

void TestHooks::OnStepStarted(size_t index, const char* name) {
  Injection().OnStepStarted(index, name);
}

bool TestHooks::ShouldFailAfterStep() {
  return Injection().ShouldFailAfterStep();
}

bool TestHooks::ShouldFailOperation() {
  return Injection().ShouldFailOperation();
}

void TestHooks::OnOperationRolledBack() {
  Injection().OnOperationRolledBack();
}

std::optional<uint32_t> TestHooks::CrashReportingWaitMs() {
  return kCrashReportingHangGuardMs;
}

}  // namespace installer

#include "desktop/windows/installer/testing/test_fault_injection.h"

#include <windows.h>

#include <algorithm>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/threading/lock.h"

namespace installer {

namespace {

using RolePoint = TestHooks::RolePoint;
using Action = TestFaultInjection::Action;

struct RolePointName {
  RolePoint point;
  const char* name;
};
constexpr RolePointName kRolePointNames[] = {
    {RolePoint::kSilentFrontEnd, "silent-front-end"},
    {RolePoint::kBackend, "backend"},
    {RolePoint::kRecoveryLine, "recovery-line"},
    {RolePoint::kTemporaryFile, "temporary-file"},
    {RolePoint::kHandOver, "hand-over"},
    {RolePoint::kFolderProbe, "folder-probe"},
    {RolePoint::kVersionCheck, "version-check"},
    {RolePoint::kHostStart, "host-start"},
    {RolePoint::kHostLoad, "host-load"},
    {RolePoint::kPackageInstallerStart, "package-installer-start"},
    {RolePoint::kHandOverStart, "hand-over-start"},
    {RolePoint::kFolderProbeStart, "folder-probe-start"},
    {RolePoint::kBackendStart, "backend-start"},
    {RolePoint::kProtectedUnpack, "protected-unpack"},
    {RolePoint::kLeftoverRemoval, "leftover-removal"},
    {RolePoint::kMovedFile, "moved-file"},
    {RolePoint::kInstallFolder, "install-folder"},
};

struct ActionName {
  Action action;
  const char* name;
};
constexpr ActionName kActionNames[] = {
    {Action::kFail, "fail"},
    {Action::kKill, "kill"},
    {Action::kHang, "hang"},
    {Action::kPause, "pause"},
    {Action::kCrash, "crash"},
};

bool ParseRolePoint(const std::string& value,
                    std::optional<RolePoint>* point) {
  for (const RolePointName& entry : kRolePointNames) {
    if (value == entry.name) {
      *point = entry.point;
      return true;
    }
  }
  return false;
}

bool ParseAction(const std::string& value, Action* action) {
  for (const ActionName& entry : kActionNames) {
    if (value == entry.name) {
      *action = entry.action;
      return true;
    }
  }
  return false;
}

bool ParseCount(const std::string& value, int* count) {
  return base::StringToInt(value, count) && *count >= 1;
}

bool ParseField(const std::string& key,
                const std::string& value,
                TestFaultInjection::Plan* plan) {
  if (value.empty())
    return false;
  if (key == "step") {
    plan->step = value;
    return true;
  }
  if (key == "marker") {
    plan->marker = value;
    return true;
  }
  if (key == "at")
    return ParseRolePoint(value, &plan->role_point);
  if (key == "action")
    return ParseAction(value, &plan->action);
  if (key == "operation")
    return ParseCount(value, &plan->operation);
  if (key == "times")
    return ParseCount(value, &plan->times);
  if (key == "rollback")
    return ParseCount(value, &plan->kill_after_rollbacks);
  if (key == "code") {
    return base::StringToUintImpl(value.data(), value.data() + value.size(),
                                  &plan->exit_code);
  }
  return false;
}

// One point, an action that fits it, and the options of that action only.
bool IsWhole(const TestFaultInjection::Plan& plan) {
  const bool at_step = !plan.step.empty();
  if (at_step == plan.role_point.has_value() || plan.action == Action::kNone)
    return false;
  if (!at_step && plan.action == Action::kFail)
    return false;
  // Only a point reached more than once has a count.
  if (!at_step && plan.operation != 0 &&
      plan.role_point != RolePoint::kRecoveryLine &&
      plan.role_point != RolePoint::kTemporaryFile &&
      plan.role_point != RolePoint::kLeftoverRemoval &&
      plan.role_point != RolePoint::kMovedFile) {
    return false;
  }
  const bool marks = plan.action == Action::kHang ||
                     plan.action == Action::kPause;
  if (marks == plan.marker.empty())
    return false;
  // Only a pause leaves the process to reach its point again.
  if (plan.times != 1 && (at_step || plan.action != Action::kPause ||
                          plan.operation != 0)) {
    return false;
  }
  return plan.kill_after_rollbacks == 0 || plan.action == Action::kFail;
}

}  // namespace

// static
bool TestFaultInjection::Parse(const std::string& text, Plan* plan) {
  Plan parsed;
  for (const std::string& field :
       base::SplitString(text, ";", base::TRIM_WHITESPACE,
                         base::SPLIT_WANT_NONEMPTY)) {
    const size_t equals = field.find('=');
    if (equals == std::string::npos ||
        !ParseField(field.substr(0, equals), field.substr(equals + 1),
                    &parsed)) {
      return false;
    }
  }
  if (!IsWhole(parsed))
    return false;
  *plan = parsed;
  return true;
}

TestFaultInjection::TestFaultInjection(const Plan& plan) : plan_(plan) {}

void TestFaultInjection::OnRolePoint(TestHooks::RolePoint point) {
  if (plan_.role_point != point || fired_)
    return;
  ++role_points_reached_;
  if (role_points_reached_ < plan_.operation)
    return;
  fired_ = role_points_reached_ >= std::max(plan_.operation, plan_.times);
  EndProcessAsPlanned();
}

void TestFaultInjection::OnStepStarted(size_t index, const char* name) {
  in_chosen_step_ = !plan_.step.empty() &&
                    (plan_.step == name || plan_.step == std::to_string(index));
  operations_done_ = 0;
}

bool TestFaultInjection::ShouldFailAfterStep() {
  return plan_.operation == 0 && Fire();
}

bool TestFaultInjection::ShouldFailOperation() {
  if (!in_chosen_step_ || plan_.operation == 0)
    return false;
  return ++operations_done_ == plan_.operation && Fire();
}

void TestFaultInjection::OnOperationRolledBack() {
  if (fired_ && plan_.kill_after_rollbacks > 0 &&
      ++operations_rolled_back_ == plan_.kill_after_rollbacks) {
    EndProcess();
  }
}

void TestFaultInjection::EndProcess() {
  LOG(WARNING) << "Test fault injection: ending the process";
  // Hard, as a crash or a killed process would end: nothing is rolled
  // back and no destructor runs.
  base::TerminateCurrentProcess(plan_.exit_code);
}

void TestFaultInjection::Hang() {
  LOG(WARNING) << "Test fault injection: waiting here to be ended";
  // Ended from outside, it ends in the middle of no child's start.
  base::GetChildStartLock().Acquire();
  base::WriteBufferToFile(base::FilePath::FromUTF8(plan_.marker), "", 0);
  ::Sleep(INFINITE);
}

void TestFaultInjection::Pause() {
  LOG(WARNING) << "Test fault injection: pausing here";
  // Ended from outside while it pauses, it ends in the middle of no
  // child's start.
  const base::AutoLock no_child_start(base::GetChildStartLock());
  const base::FilePath marker = base::FilePath::FromUTF8(plan_.marker);
  base::WriteBufferToFile(marker, "", 0);
  while (base::PathExists(marker))
    ::Sleep(50);
  LOG(WARNING) << "Test fault injection: going on";
}

void TestFaultInjection::Crash() {
  LOG(WARNING) << "Test fault injection: crashing here";
  *static_cast<volatile int*>(nullptr) = 1;
}

bool TestFaultInjection::Fire() {
  if (!in_chosen_step_ || fired_)
    return false;
  fired_ = true;
  EndProcessAsPlanned();
  LOG(WARNING) << "Test fault injection: failing here";
  return true;
}

void TestFaultInjection::EndProcessAsPlanned() {
  switch (plan_.action) {
    case Action::kKill:
      EndProcess();
      break;
    case Action::kHang:
      Hang();
      break;
    case Action::kPause:
      Pause();
      break;
    case Action::kCrash:
      Crash();
      break;
    case Action::kNone:
    case Action::kFail:
      break;
  }
}

}  // namespace installer

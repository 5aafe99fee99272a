#include "desktop/windows/installer/service/transactions/test_fault_injection.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace installer {

namespace {

constexpr char kVariable[] = "TARVO_TEST_FAULT";

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

bool ParseAction(const std::string& value, TestFaultInjection::Action* action) {
  if (value == "fail")
    *action = TestFaultInjection::Action::kFail;
  else if (value == "kill")
    *action = TestFaultInjection::Action::kKill;
  else if (value == "hang")
    *action = TestFaultInjection::Action::kHang;
  else
    return false;
  return true;
}

}  // namespace

// static
TestFaultInjection* TestFaultInjection::Get() {
  static TestFaultInjection injection(ReadPlan());
  return &injection;
}

// static
bool TestFaultInjection::Parse(const std::string& text, Plan* plan) {
  Plan parsed;
  for (const std::string& field :
       base::SplitString(text, ";", base::TRIM_WHITESPACE,
                         base::SPLIT_WANT_NONEMPTY)) {
    const size_t equals = field.find('=');
    if (equals == std::string::npos)
      return false;
    const std::string key = field.substr(0, equals);
    const std::string value = field.substr(equals + 1);
    uint32_t number = 0;
    if (key == "step" && !value.empty()) {
      parsed.step = value;
    } else if (key == "operation") {
      if (!base::StringToInt(value, &parsed.operation) || parsed.operation < 1)
        return false;
    } else if (key == "action") {
      if (!ParseAction(value, &parsed.action))
        return false;
    } else if (key == "code") {
      if (!base::StringToUintImpl(value.data(), value.data() + value.size(),
                                  &number)) {
        return false;
      }
      parsed.exit_code = number;
    } else if (key == "rollback") {
      if (!base::StringToInt(value, &parsed.kill_after_rollbacks) ||
          parsed.kill_after_rollbacks < 1) {
        return false;
      }
    } else if (key == "marker" && !value.empty()) {
      parsed.marker = value;
    } else {
      return false;
    }
  }
  if (parsed.step.empty() || parsed.action == Action::kNone ||
      (parsed.action == Action::kHang) == parsed.marker.empty() ||
      (parsed.kill_after_rollbacks > 0 && parsed.action != Action::kFail)) {
    return false;
  }
  *plan = parsed;
  return true;
}

TestFaultInjection::TestFaultInjection(const Plan& plan) : plan_(plan) {}

void TestFaultInjection::OnStepStarted(size_t index, const char* name) {
  in_chosen_step_ = plan_.action != Action::kNone &&
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
  ::TerminateProcess(::GetCurrentProcess(), plan_.exit_code);
}

bool TestFaultInjection::Fire() {
  if (!in_chosen_step_ || fired_)
    return false;
  fired_ = true;
  if (plan_.action == Action::kKill)
    EndProcess();
  if (plan_.action == Action::kHang) {
    LOG(WARNING) << "Test fault injection: waiting here to be ended";
    base::WriteBufferToFile(base::FilePath::FromUTF8(plan_.marker), "", 0);
    ::Sleep(INFINITE);
  }
  LOG(WARNING) << "Test fault injection: failing here";
  return true;
}

}  // namespace installer

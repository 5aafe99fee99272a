#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TEST_FAULT_INJECTION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TEST_FAULT_INJECTION_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace installer {

// For tests only: makes a real run of the backend fail, or end hard, at a
// chosen point, so that end-to-end tests can show that the real step bodies
// are rolled back. The product never sets the variable it reads:
//   TARVO_TEST_FAULT=step=NAME|INDEX[;operation=N];action=fail|kill|hang
//                    [;code=N][;marker=PATH][;rollback=N]
// Without `operation` the point is the end of the step's body; with it, the
// step's Nth transaction operation (1-based, counted as each one is done,
// sub-operations included), right after its `Do` succeeded. `code` is the
// exit code of `kill`. `hang` creates the file `marker` and then waits for
// good, so that a test can end the whole process tree from outside at a
// known point. `rollback` (with `fail`) ends the process hard once the
// failure's rollback has undone N operations. The step machine tells it where the run is; the
// transaction asks it after each operation. Lives on the backend's main
// thread, as the step machine does.
class TestFaultInjection {
 public:
  enum class Action { kNone, kFail, kKill, kHang };
  struct Plan {
    // A step's name as the step machine calls it, or its index in the
    // operation's step list.
    std::string step;
    // 0: the end of the step.
    int operation = 0;
    Action action = Action::kNone;
    uint32_t exit_code = kDefaultKillCode;
    // `hang`: created once the point is reached.
    std::string marker;
    // `fail`: the number of operations undone before the process ends; 0
    // lets the rollback finish.
    int kill_after_rollbacks = 0;
  };
  static constexpr uint32_t kDefaultKillCode = 0xDEAD;

  // The one of this process, read from the environment on first use.
  static TestFaultInjection* Get();
  // False for a value that is not a whole plan as above.
  static bool Parse(const std::string& text, Plan* plan);

  explicit TestFaultInjection(const Plan& plan);

  // Step `index` of the list, named `name`, starts now.
  void OnStepStarted(size_t index, const char* name);
  // The current step's body is done. True when the run must fail here; does
  // not return when the process is to end.
  bool ShouldFailAfterStep();
  // An operation of the current step succeeded. True when it must be taken
  // as failed; does not return when the process is to end.
  bool ShouldFailOperation();
  // An operation was rolled back; does not return when the process is to
  // end.
  void OnOperationRolledBack();

 private:
  // True when the plan's point is reached now (only once).
  bool Fire();
  void EndProcess();

  const Plan plan_;
  bool in_chosen_step_ = false;
  int operations_done_ = 0;
  int operations_rolled_back_ = 0;
  bool fired_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TEST_FAULT_INJECTION_H_

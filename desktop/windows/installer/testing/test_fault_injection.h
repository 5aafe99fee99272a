#ifndef DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_FAULT_INJECTION_H_
#define DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_FAULT_INJECTION_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

// The plan of a test's fault and where the run is against it: makes a real
// run of the backend fail, or a front end or backend end hard, crash or
// hang, at a chosen point, so that end-to-end tests can show that the real
// step bodies are rolled back and that crashes are reported. Read from
// the environment by test_hooks.cc:
//   TARVO_TEST_FAULT=(step=NAME|INDEX[;operation=N] | at=POINT)
//                    ;action=fail|kill|hang|pause|crash
//                    [;code=N][;marker=PATH][;rollback=N][;times=N]
// With `step` and without `operation` the point is the end of the step's
// body; with `operation`, the step's Nth transaction operation (1-based,
// counted as each one is done, sub-operations included), right after its
// `Do` succeeded. `at` names a point of a process role instead
// ("silent-front-end", "backend", "recovery-line", "host-start" and the
// others of TestHooks::RolePoint), where only kill, hang
// and crash apply; with `operation`, the Nth time the point is reached
// (only "recovery-line", "temporary-file", "leftover-removal" and
// "moved-file" are reached more than once).
// `code` is the exit code of `kill`. `hang` creates the file `marker` and
// then waits for good, so that a test can end the whole process tree from
// outside at a known point. `pause` creates `marker` and goes on once
// the test has deleted it, so that a test can change what the run finds
// next; with `times` (at a point only), it pauses each of the first N
// times the point is reached, so that a test can change what each attempt
// finds. `crash` writes through a null pointer, as a
// fault of the library's own code. `rollback` (with `fail`) ends the
// process hard once the failure's rollback has undone N operations. Lives
// on the main thread of its process, as the step machine does; only the
// "recovery-line" point is reached on the worker that recovers a folder,
// and then only that worker counts and fires.
class TestFaultInjection {
 public:
  enum class Action { kNone, kFail, kKill, kHang, kPause, kCrash };
  struct Plan {
    // A step's name as the step machine calls it, or its index in the
    // operation's step list; empty when the point is a role's.
    std::string step;
    std::optional<TestHooks::RolePoint> role_point;
    // 0: the end of the step.
    int operation = 0;
    // `pause` at a role point: how many times the point pauses.
    int times = 1;
    Action action = Action::kNone;
    uint32_t exit_code = kDefaultKillCode;
    // `hang`, `pause`: created once the point is reached.
    std::string marker;
    // `fail`: the number of operations undone before the process ends; 0
    // lets the rollback finish.
    int kill_after_rollbacks = 0;
  };
  static constexpr uint32_t kDefaultKillCode = 0xDEAD;

  // False for a value that is not a whole plan as above.
  static bool Parse(const std::string& text, Plan* plan);

  explicit TestFaultInjection(const Plan& plan);

  // The role reached `point`; does not return when the process is to end,
  // hang or crash there.
  void OnRolePoint(TestHooks::RolePoint point);
  // Step `index` of the list, named `name`, starts now.
  void OnStepStarted(size_t index, const char* name);
  // The current step's body is done. True when the run must fail here; does
  // not return when the process is to end.
  [[nodiscard]] bool ShouldFailAfterStep();
  // An operation of the current step succeeded. True when it must be taken
  // as failed; does not return when the process is to end.
  [[nodiscard]] bool ShouldFailOperation();
  // An operation was rolled back; does not return when the process is to
  // end.
  void OnOperationRolledBack();

 private:
  // True when the plan's point is reached now (only once).
  bool Fire();
  // Returns only when the plan's action is to fail.
  void EndProcessAsPlanned();
  void EndProcess();
  void Hang();
  void Pause();
  void Crash();

  const Plan plan_;
  bool in_chosen_step_ = false;
  int operations_done_ = 0;
  int operations_rolled_back_ = 0;
  int role_points_reached_ = 0;
  bool fired_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TESTING_TEST_FAULT_INJECTION_H_

#include "desktop/windows/installer/testing/test_fault_injection.h"

#include <optional>
#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

using Action = TestFaultInjection::Action;
using RolePoint = TestHooks::RolePoint;
constexpr uint32_t kKillCode = TestFaultInjection::kDefaultKillCode;

TEST(TestFaultInjectionTest, ParsesWholePlansAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool parses;
    const char* step;
    std::optional<RolePoint> role_point;
    int operation;
    Action action;
    uint32_t code;
    int times = 1;
  } const cases[] = {
      {"step=set up the registry;action=fail", true, "set up the registry",
       std::nullopt, 0, Action::kFail, kKillCode},
      {" step=3 ; operation=2 ; action=kill ; code=77 ", true, "3",
       std::nullopt, 2, Action::kKill, 77},
      {"step=3;action=hang;marker=C:\\t\\hung", true, "3", std::nullopt, 0,
       Action::kHang, kKillCode},
      {"step=3;action=fail;rollback=5", true, "3", std::nullopt, 0,
       Action::kFail, kKillCode},
      {"step=3;operation=1;action=crash", true, "3", std::nullopt, 1,
       Action::kCrash, kKillCode},
      {"at=silent-front-end;action=crash", true, "", RolePoint::kSilentFrontEnd,
       0, Action::kCrash, kKillCode},
      {"at=backend;action=kill;code=0", true, "", RolePoint::kBackend, 0,
       Action::kKill, 0},
      {"at=backend;action=hang;marker=m", true, "", RolePoint::kBackend, 0,
       Action::kHang, kKillCode},
      {"at=recovery-line;operation=3;action=kill", true, "",
       RolePoint::kRecoveryLine, 3, Action::kKill, kKillCode},
      {"at=temporary-file;operation=2;action=kill", true, "",
       RolePoint::kTemporaryFile, 2, Action::kKill, kKillCode},
      {"at=leftover-removal;operation=2;action=kill", true, "",
       RolePoint::kLeftoverRemoval, 2, Action::kKill, kKillCode},
      {"at=moved-file;operation=3;action=kill", true, "", RolePoint::kMovedFile,
       3, Action::kKill, kKillCode},
      {"at=hand-over;action=pause;marker=m", true, "", RolePoint::kHandOver, 0,
       Action::kPause, kKillCode},
      {"at=folder-probe;action=pause;marker=m", true, "",
       RolePoint::kFolderProbe, 0, Action::kPause, kKillCode},
      {"at=version-check;action=pause;marker=m", true, "",
       RolePoint::kVersionCheck, 0, Action::kPause, kKillCode},
      {"at=version-check;action=pause;marker=m;times=3", true, "",
       RolePoint::kVersionCheck, 0, Action::kPause, kKillCode, 3},
      {"at=install-folder;action=pause;marker=m;times=2", true, "",
       RolePoint::kInstallFolder, 0, Action::kPause, kKillCode, 2},
      // Only a pause at a role point is reached again.
      {"at=backend;action=kill;times=2", false},
      {"step=3;action=hang;marker=m;times=2", false},
      {"at=recovery-line;operation=2;action=pause;marker=m;times=2", false},
      {"at=hand-over;action=pause;marker=m;times=0", false},
      // A pause goes on once its marker is gone: it needs one.
      {"at=hand-over;action=pause", false},
      // A role's point cannot fail a step, nor have operations.
      {"at=backend;action=fail", false},
      {"at=recovery-line;operation=3;action=fail", false},
      {"at=backend;operation=1;action=kill", false},
      {"at=front-end;action=kill", false},
      {"at=backend;step=3;action=kill", false},
      {"step=3;action=kill;rollback=5", false},
      {"step=3;action=fail;rollback=0", false},
      {"step=3;action=hang", false},
      {"step=3;action=fail;marker=C:\\t\\hung", false},
      {"action=fail", false},
      {"step=3", false},
      {"step=3;action=explode", false},
      {"step=3;action=fail;operation=0", false},
      {"step=3;action=fail;operation=two", false},
      {"step=3;action=kill;code=-1", false},
      {"step=3;action=fail;when=later", false},
      {"step=;action=fail", false},
      {"step 3;action=fail", false},
      {"", false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.text);
    TestFaultInjection::Plan plan;
    ASSERT_EQ(TestFaultInjection::Parse(test.text, &plan), test.parses);
    if (!test.parses)
      continue;
    EXPECT_EQ(plan.step, test.step);
    EXPECT_EQ(plan.role_point, test.role_point);
    EXPECT_EQ(plan.operation, test.operation);
    EXPECT_EQ(plan.action, test.action);
    EXPECT_EQ(plan.exit_code, test.code);
    EXPECT_EQ(plan.times, test.times);
  }
}

// The point is found by name or by index, counts only the chosen step's
// operations, and is reached once.
TEST(TestFaultInjectionTest, FailsOnceAtTheChosenOperationOfTheChosenStep) {
  TestFaultInjection::Plan plan;
  ASSERT_TRUE(TestFaultInjection::Parse("step=1;operation=2;action=fail", &plan));
  TestFaultInjection injection(plan);
  injection.OnStepStarted(0, "copy the package files");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailOperation());
  injection.OnStepStarted(1, "copy the root files");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailAfterStep());
  EXPECT_TRUE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailOperation());
  injection.OnStepStarted(1, "copy the root files");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailOperation());
}

TEST(TestFaultInjectionTest, FailsAtTheEndOfTheStepNamed) {
  TestFaultInjection::Plan plan;
  ASSERT_TRUE(TestFaultInjection::Parse("step=install the shortcuts;action=fail",
                                        &plan));
  TestFaultInjection injection(plan);
  injection.OnStepStarted(3, "set up the registry");
  EXPECT_FALSE(injection.ShouldFailAfterStep());
  injection.OnStepStarted(4, "install the shortcuts");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_TRUE(injection.ShouldFailAfterStep());
}

// A plan for a role's point lets every other point pass: the steps and
// operations of a backend that a front end's plan reaches, and the other
// role's point.
TEST(TestFaultInjectionTest, RolePointPlanLeavesOtherPointsAlone) {
  TestFaultInjection::Plan plan;
  ASSERT_TRUE(
      TestFaultInjection::Parse("at=silent-front-end;action=kill", &plan));
  TestFaultInjection injection(plan);
  injection.OnRolePoint(RolePoint::kBackend);
  injection.OnStepStarted(0, "0");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailAfterStep());
}

TEST(TestFaultInjectionTest, UnarmedNeverFails) {
  TestFaultInjection injection{TestFaultInjection::Plan()};
  injection.OnRolePoint(RolePoint::kSilentFrontEnd);
  injection.OnRolePoint(RolePoint::kBackend);
  injection.OnStepStarted(0, "0");
  EXPECT_FALSE(injection.ShouldFailOperation());
  EXPECT_FALSE(injection.ShouldFailAfterStep());
}

}  // namespace
}  // namespace installer

// The test hooks of the library that ships: nothing to read, nothing done.
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

void TestHooks::OnRolePoint(RolePoint point) {}

void TestHooks::OnStepStarted(size_t index, const char* name) {}

bool TestHooks::ShouldFailAfterStep() {
  return false;
}

bool TestHooks::ShouldFailOperation() {
  return false;
}

void TestHooks::OnOperationRolledBack() {}

std::optional<uint32_t> TestHooks::CrashReportingWaitMs() {
  return std::nullopt;
}

}  // namespace installer

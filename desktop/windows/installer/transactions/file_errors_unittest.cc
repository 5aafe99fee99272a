#include "desktop/windows/installer/transactions/file_errors.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(FileErrorsTest, OnlySharingAndLockViolationsMeanInUse) {
  EXPECT_TRUE(IsFileInUseError(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(IsFileInUseError(ERROR_LOCK_VIOLATION));
  EXPECT_TRUE(IsFileInUseError(0));
  EXPECT_FALSE(IsFileInUseError(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(IsFileInUseError(ERROR_WRITE_PROTECT));
}

}  // namespace
}  // namespace installer

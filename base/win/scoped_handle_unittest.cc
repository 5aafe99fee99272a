#include "base/win/scoped_handle.h"

#include <utility>

#include "gtest/gtest.h"

namespace base::win {
namespace {

HANDLE NewEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

// The verifier's fatal trap ends the child with an illegal instruction; any
// other death is a different fault.
const testing::ExitedWithCode kTrapped(static_cast<int>(STATUS_ILLEGAL_INSTRUCTION));

TEST(ScopedHandleTest, NullAndInvalidValueMeanNoHandle) {
  for (HANDLE nothing : {HANDLE{nullptr}, INVALID_HANDLE_VALUE}) {
    ScopedHandle handle(nothing);
    EXPECT_FALSE(handle.IsValid());
    EXPECT_EQ(nullptr, handle.Get());
    handle.Close();
    EXPECT_EQ(nullptr, handle.Take());
  }
  EXPECT_FALSE(ScopedHandle().IsValid());
}

TEST(ScopedHandleTest, ClosesOnDestructionAndCloseLeavesNull) {
  const HANDLE first = NewEvent();
  { ScopedHandle handle(first); }
  EXPECT_FALSE(IsOpen(first));

  const HANDLE second = NewEvent();
  ScopedHandle handle(second);
  handle.Close();
  EXPECT_FALSE(IsOpen(second));
  EXPECT_EQ(nullptr, handle.Get());
  handle.Close();
}

TEST(ScopedHandleTest, SetClosesTheOldHandleOnly) {
  const HANDLE first = NewEvent();
  const HANDLE second = NewEvent();
  ScopedHandle handle(first);
  handle.Set(first);  // The same handle: nothing closes.
  EXPECT_TRUE(IsOpen(first));
  handle.Set(second);
  EXPECT_FALSE(IsOpen(first));
  EXPECT_EQ(second, handle.Get());
  handle.Set(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(handle.IsValid());
}

TEST(ScopedHandleTest, TakeReleasesWithoutClosing) {
  const HANDLE event = NewEvent();
  HANDLE taken = nullptr;
  {
    ScopedHandle handle(event);
    taken = handle.Take();
    EXPECT_FALSE(handle.IsValid());
  }
  EXPECT_EQ(event, taken);
  EXPECT_TRUE(IsOpen(taken));
  CloseHandle(taken);
}

TEST(ScopedHandleTest, MoveTransfersOwnership) {
  const HANDLE first = NewEvent();
  const HANDLE second = NewEvent();
  ScopedHandle source(first);
  ScopedHandle moved(std::move(source));
  EXPECT_FALSE(source.IsValid());
  EXPECT_EQ(first, moved.Get());

  ScopedHandle target(second);
  target = std::move(moved);
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(moved.IsValid());
  EXPECT_EQ(first, target.Get());
  target = std::move(target);
  EXPECT_EQ(first, target.Get());
  target.Close();
  EXPECT_FALSE(IsOpen(first));
}

TEST(ScopedHandleTest, LeavesLastErrorUnchanged) {
  constexpr DWORD kCallerError = ERROR_FILE_NOT_FOUND;
  const HANDLE first = NewEvent();
  SetLastError(kCallerError);
  ScopedHandle handle(first);
  EXPECT_EQ(kCallerError, GetLastError());

  const HANDLE second = NewEvent();
  SetLastError(kCallerError);
  handle.Set(second);
  EXPECT_EQ(kCallerError, GetLastError());
  SetLastError(kCallerError);
  handle.Set(nullptr);
  EXPECT_EQ(kCallerError, GetLastError());
}

TEST(ScopedHandleDeathTest, ClosingAHandleClosedElsewhereStops) {
  EXPECT_EXIT(
      {
        ScopedHandle handle(NewEvent());
        CloseHandle(handle.Get());
        handle.Close();
      },
      kTrapped, "");
}

}  // namespace
}  // namespace base::win

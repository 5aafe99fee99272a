#include "desktop/windows/crash_reporter/reporter_quit_signal.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ReporterQuitSignalTest, SignalledWhenTheLastHoldGoes) {
  ReporterQuitSignal signal;
  ASSERT_TRUE(signal.CreateQuitEvent());
  signal.AddHold();
  signal.AddHold();
  signal.ReleaseHold();
  EXPECT_FALSE(signal.IsSignalled());
  signal.ReleaseHold();
  EXPECT_TRUE(signal.IsSignalled());
  EXPECT_TRUE(signal.Wait());
}

// A dump requested while the reporter shuts down holds it again, and its
// upload is not cut short by the end of the process.
TEST(ReporterQuitSignalTest, LateHoldIsWaitedForAgain) {
  ReporterQuitSignal signal;
  ASSERT_TRUE(signal.CreateQuitEvent());
  signal.AddHold();
  signal.ReleaseHold();
  ASSERT_TRUE(signal.Wait());
  signal.AddHold();
  EXPECT_FALSE(signal.IsSignalled());
  signal.ReleaseHold();
  EXPECT_TRUE(signal.IsSignalled());
}

}  // namespace
}  // namespace installer

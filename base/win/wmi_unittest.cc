#include "base/win/wmi.h"

#include <windows.h>

#include "base/process/process.h"
#include "base/test/process_child.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_variant.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

bool WaitForFile(const FilePath& path, DWORD timeout_ms) {
  const DWORD start = ::GetTickCount();
  while (::GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (::GetTickCount() - start > timeout_ms)
      return false;
    ::Sleep(50);
  }
  return true;
}

class WmiTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(com_.Succeeded()); }

  ScopedCOMInitializer com_;
};

// That the process is no child of ours cannot be shown under Wine: its WMI
// provider runs in the calling process and starts the child itself.
TEST_F(WmiTest, LaunchedProcessWritesItsMarker) {
  ScopedTempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const FilePath marker = folder.path().Append(L"wmi marker.txt");
  DWORD process_id = 0;
  ASSERT_TRUE(LaunchViaWmi(
      ChildCommandLine(L"\"--touch=" + marker.value() + L"\""), &process_id));
  EXPECT_NE(0u, process_id);
  // Only a hang guard: the child starts as fast as a busy Wine lets it.
  EXPECT_TRUE(WaitForFile(marker, 600 * 1000));
  // Let the child close the file before the folder goes away.
  Process child = Process::Open(process_id);
  if (child.IsValid())
    child.WaitForExitWithTimeout(TimeDelta::FromSeconds(30), nullptr);
}

TEST_F(WmiTest, ProgramThatCannotStartGivesFalse) {
  // Win32_Process.Create itself succeeds and reports the failure in its
  // ReturnValue.
  DWORD process_id = 12345;
  EXPECT_FALSE(LaunchViaWmi(L"\"C:\\no such folder\\missing.exe\"",
                            &process_id));
  EXPECT_EQ(12345u, process_id);
}

TEST_F(WmiTest, MethodParametersOfAnUnknownClassOrMethodFail) {
  ComPtr<IWbemServices> services;
  ASSERT_TRUE(CreateLocalWmiConnection(false, &services));
  ASSERT_TRUE(services);
  ComPtr<IWbemClassObject> parameters;
  EXPECT_FALSE(CreateWmiClassMethodObject(services.Get(), L"Tarvo_NoClass",
                                          L"Create", &parameters));
  EXPECT_FALSE(CreateWmiClassMethodObject(services.Get(), L"Win32_Process",
                                          L"NoMethod", &parameters));
  EXPECT_FALSE(parameters);
  ASSERT_TRUE(CreateWmiClassMethodObject(services.Get(), L"Win32_Process",
                                         L"Create", &parameters));
  ScopedVariant value(L"cmd /c exit 0");
  EXPECT_TRUE(
      SetWmiClassMethodParameter(parameters.Get(), L"CommandLine", value.Get()));
  EXPECT_FALSE(
      SetWmiClassMethodParameter(parameters.Get(), L"NoSuchName", value.Get()));
}

}  // namespace
}  // namespace base::win

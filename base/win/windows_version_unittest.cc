#include "base/win/windows_version.h"

#include <windows.h>

#include <set>
#include <thread>
#include <vector>

#include "base/test/scoped_registry_override.h"
#include "base/win/registry.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

using Info = WindowsVersionInfo;

TEST(WindowsVersionTable, IndexOfEachRelease) {
  const struct {
    int32_t major;
    int32_t minor;
    int32_t build;
    WindowsVersion version;
  } kCases[] = {
      {3, 51, 1057, kVersionPreXp},    {4, 0, 1381, kVersionPreXp},
      {5, 0, 2195, kVersionPreXp},     {5, 1, 2600, kVersionXp},
      {5, 2, 3790, kVersionServer2003}, {5, 3, 0, kVersionServer2003},
      {6, 0, 6002, kVersionVista},     {6, 1, 7601, kVersionWin7},
      {6, 2, 9200, kVersionWin8},      {6, 3, 9600, kVersionWin8_1},
      {6, 4, 9841, kVersionWin8_1},    {10, 0, 10240, kVersionWin10},
      {10, 0, 10585, kVersionWin10},   {10, 0, 10586, kVersionWin10Th2},
      {10, 0, 22631, kVersionWin10Th2}, {10, 1, 0, kVersionWin10},
      {7, 0, 0, kVersionNewer},        {9, 9, 0, kVersionNewer},
      {11, 0, 0, kVersionNewer},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.version, Info::VersionFor(c.major, c.minor, c.build))
        << c.major << "." << c.minor << "." << c.build;
  }
}

TEST(WindowsVersionTable, EditionOfProductType) {
  const struct {
    DWORD product_type;
    Info::Edition edition;
  } kCases[] = {
      {0, Info::kEditionHome},          {1, Info::kEditionProfessional},
      {3, Info::kEditionHome},          {6, Info::kEditionProfessional},
      {7, Info::kEditionServer},        {11, Info::kEditionHome},
      {16, Info::kEditionHome},         {25, Info::kEditionServer},
      {28, Info::kEditionHome},         {48, Info::kEditionProfessional},
      {0xABCDABCD, Info::kEditionHome},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.edition, Info::EditionForProductType(c.product_type))
        << c.product_type;
}

TEST(WindowsVersionTable, EditionOfLegacySystems) {
  const struct {
    int32_t minor;
    BYTE product_type;
    WORD suite_mask;
    Info::Architecture architecture;
    Info::Edition edition;
  } kCases[] = {
      // XP x64 against Server 2003 and Home Server on the same version.
      {2, VER_NT_WORKSTATION, 0, Info::kArchitectureX64,
       Info::kEditionProfessional},
      {2, VER_NT_WORKSTATION, 0, Info::kArchitectureX86,
       Info::kEditionServer},
      {2, VER_NT_SERVER, 0x100, Info::kArchitectureX64, Info::kEditionServer},
      {2, VER_NT_SERVER, 0x8000, Info::kArchitectureX86, Info::kEditionHome},
      // XP Professional against XP Home.
      {1, VER_NT_WORKSTATION, 0x100, Info::kArchitectureX86,
       Info::kEditionProfessional},
      {1, VER_NT_WORKSTATION, 0x300, Info::kArchitectureX86,
       Info::kEditionHome},
      {0, VER_NT_WORKSTATION, 0, Info::kArchitectureX86, Info::kEditionHome},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.edition,
              Info::EditionForLegacySystem(c.minor, c.product_type,
                                           c.suite_mask, c.architecture))
        << "5." << c.minor << " type " << int{c.product_type} << " suite "
        << c.suite_mask;
  }
}

TEST(WindowsVersionInfoTest, EveryThreadSeesOneRecord) {
  constexpr int kThreads = 8;
  std::vector<const WindowsVersionInfo*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&seen, i] { seen[i] = &GetWindowsVersionInfo(); });
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(1u, std::set<const WindowsVersionInfo*>(seen.begin(), seen.end())
                    .size());
  EXPECT_EQ(seen[0], &GetWindowsVersionInfo());
}

// The test executable carries the Windows 10 manifest and the test prefix
// is set to Windows 10, so the version API answers as the kernel does.
TEST(WindowsVersionInfoTest, RunningSystemIsTheKernelsWindows10) {
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtl_get_version = reinterpret_cast<RtlGetVersionFunction>(
      reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  ASSERT_TRUE(rtl_get_version);
  OSVERSIONINFOW kernel = {};
  kernel.dwOSVersionInfoSize = sizeof(kernel);
  ASSERT_EQ(0, rtl_get_version(&kernel));

  const WindowsVersionInfo& info = GetWindowsVersionInfo();
  EXPECT_EQ(static_cast<int32_t>(kernel.dwMajorVersion),
            info.version_number().major);
  EXPECT_EQ(static_cast<int32_t>(kernel.dwMinorVersion),
            info.version_number().minor);
  EXPECT_EQ(static_cast<int32_t>(kernel.dwBuildNumber),
            info.version_number().build);
  EXPECT_TRUE(info.version() == kVersionWin10 ||
              info.version() == kVersionWin10Th2)
      << info.version();
  EXPECT_EQ(info.version(), GetWindowsVersion());
  // This test program is itself 64-bit.
  EXPECT_EQ(Info::kArchitectureX64, info.architecture());
  EXPECT_EQ(Info::kWow64Disabled, info.wow64_status());
  EXPECT_GE(info.processor_count(), 1);
  EXPECT_EQ(65536u, info.allocation_granularity());
}

TEST(WindowsVersionInfoTest, UpdateBuildRevisionIsAFourByteNumber) {
  const struct {
    DWORD type;
    std::vector<BYTE> bytes;  // empty: no value
    DWORD revision;
  } kCases[] = {
      {REG_DWORD, {0x45, 0x4A, 0, 0}, 19013},
      {REG_BINARY, {1, 2, 0, 0}, 0x0201},
      {REG_QWORD, {1, 2, 0, 0, 0, 0, 0, 0}, 0},
      {REG_SZ, {'7', 0, 0, 0}, 0},
      {REG_DWORD, {}, 0},
  };
  for (const auto& c : kCases) {
    ScopedRegistryOverride machine(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.Valid());
    RegistryKey key(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                    KEY_WRITE);
    ASSERT_TRUE(key.Valid());
    if (!c.bytes.empty()) {
      ASSERT_EQ(ERROR_SUCCESS,
                RegSetValueExW(key.Handle(), L"UBR", 0, c.type, c.bytes.data(),
                               static_cast<DWORD>(c.bytes.size())));
    }
    EXPECT_EQ(c.revision, GetUpdateBuildRevision()) << c.type;
  }
}

}  // namespace
}  // namespace base::win

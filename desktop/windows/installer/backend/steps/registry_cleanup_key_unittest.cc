#include "desktop/windows/installer/backend/steps/registry_cleanup_key.h"

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RegistryCleanupKeyTest, StripsTheDepthAndRefusesSharedKeys) {
  struct {
    const wchar_t* key_path;
    int32_t depth;
    const wchar_t* expected;  // null: refused
  } const kCases[] = {
      {L"Software\\Tarvo Software\\Tarvo\\Stream\\X", 2,
       L"Software\\Tarvo Software\\Tarvo\\Stream"},
      {L"Software\\Tarvo Software\\Tarvo", 1,
       L"Software\\Tarvo Software\\Tarvo"},
      {L"software\\classes\\TarvoHTML\\shell\\open", 3,
       L"software\\classes\\TarvoHTML"},
      {L"Software\\Clients\\StartMenuInternet\\Tarvo\\Capabilities", 2,
       L"Software\\Clients\\StartMenuInternet\\Tarvo"},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo 1",
       1, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo 1"},
      // Deeper than the key: once the whole hive's subtree.
      {L"Software\\Tarvo Software\\Tarvo", 7, nullptr},
      {L"Software\\Tarvo Software\\Tarvo", 3, nullptr},
      {L"Software\\Tarvo Software", 1, nullptr},
      {L"Software\\Classes\\TarvoHTML", 2, nullptr},
      {L"Software\\Clients\\StartMenuInternet\\Tarvo", 2, nullptr},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x", 2, nullptr},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo", 2,
       nullptr},
      {L"Software\\Microsoft\\Internet Explorer", 1, nullptr},
      {L"System\\CurrentControlSet\\Services\\x", 1, nullptr},
      {L"Software\\Tarvo Software\\..\\..\\System", 1, nullptr},
      {L"Software\\\\Tarvo", 1, nullptr},
      {L"\\Software\\Tarvo Software\\Tarvo", 1, nullptr},
      {L"", 1, nullptr},
      {L"Software\\Tarvo Software\\Tarvo", 0, nullptr},
  };
  for (const auto& test_case : kCases) {
    std::wstring key;
    const bool accepted =
        GetRegistryCleanupKey(test_case.key_path, test_case.depth, &key);
    EXPECT_EQ(test_case.expected != nullptr, accepted)
        << test_case.key_path << " " << test_case.depth;
    if (test_case.expected && accepted) {
      EXPECT_EQ(test_case.expected, key);
    }
  }
}

}  // namespace
}  // namespace installer

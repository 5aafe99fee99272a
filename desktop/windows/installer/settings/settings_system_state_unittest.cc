#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct UninstallEntry {
  HKEY root;
  const wchar_t* key;
  const wchar_t* publisher;     // Null: no value.
  const wchar_t* display_name;  // Null: no value.
};

void WriteUninstallEntry(const UninstallEntry& entry) {
  base::win::RegistryKey key(
      entry.root, GetUninstallRegistryPath(entry.key).c_str(), KEY_SET_VALUE);
  ASSERT_TRUE(key.Valid());
  if (entry.publisher) {
    ASSERT_EQ(ERROR_SUCCESS, key.WriteString(L"Publisher", entry.publisher));
  }
  if (entry.display_name) {
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteString(L"DisplayName", entry.display_name));
  }
}

void DeleteUninstallEntries() {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
    ::RegDeleteTreeW(root, GetUninstallRegistryPath().c_str());
}

using SettingsUninstallScanTest = SettingsTest;

// The build is of the developer channel: its entries say "developer".
TEST_F(SettingsUninstallScanTest, ProfileDeletionNeedsASingleEntryOfTheStream) {
  const HKEY user = HKEY_CURRENT_USER;
  const wchar_t kCompany[] = L"Tarvo Software";
  const UninstallEntry kOurs = {user, L"Tarvo developer", kCompany,
                                L"Tarvo developer"};
  const UninstallEntry kOursX64 = {user, L"Tarvo Developer x64",
                                   L"Tarvo Software GmbH",
                                   L"Tarvo Developer (x64)"};
  struct Case {
    const char* name;
    std::vector<UninstallEntry> entries;
    bool deletion_allowed;
  } const kCases[] = {
      {"none", {}, true},
      {"ours alone", {kOurs}, true},
      {"two of ours", {kOurs, kOursX64}, false},
      {"one in each hive",
       {kOurs,
        {HKEY_LOCAL_MACHINE, L"Tarvo developer", kCompany, L"Tarvo developer"}},
       false},
      {"other stream",
       {kOurs, {user, L"Tarvo stable", kCompany, L"Tarvo Stable"}},
       true},
      {"other publisher",
       {kOurs, {user, L"Tarvo copy", L"Someone Else", L"Tarvo developer"}},
       true},
      {"key not named after the product",
       {kOurs, {user, L"Other developer", kCompany, L"Tarvo developer"}},
       true},
      {"display name of another product",
       {kOurs, {user, L"Tarvo x", kCompany, L"Tarvox developer"}},
       true},
      {"no publisher",
       {kOurs, {user, L"Tarvo 2", nullptr, L"Tarvo developer"}},
       true},
      {"no display name", {kOurs, {user, L"Tarvo 3", kCompany, nullptr}}, true},
      {"stream word is case-sensitive",
       {kOurs, {user, L"Tarvo 4", kCompany, L"Tarvo DEVELOPER"}},
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    DeleteUninstallEntries();
    for (const UninstallEntry& entry : c.entries)
      WriteUninstallEntry(entry);
    // Without "backend" the constructor of an uninstallation scans.
    Settings settings(true, false, false, base::FilePath(), false,
                      Settings::kArchitectureX86);
    WaitForStatus(settings);
    EXPECT_EQ(c.deletion_allowed, settings.profile_deletion_allowed());
  }
  DeleteUninstallEntries();
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/system/machine_install_record.h"

#include <windows.h>

#include <string>

#include "base/test/scoped_registry_override.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/system/utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

void WriteEntry(const std::wstring& name, const wchar_t* location) {
  base::win::RegistryKey entry;
  ASSERT_EQ(entry.Create(HKEY_LOCAL_MACHINE,
                         GetUninstallRegistryPath(name).c_str(),
                         KEY_SET_VALUE | KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  if (location) {
    ASSERT_EQ(entry.WriteString(L"InstallLocation", location), ERROR_SUCCESS);
  }
}

TEST(MachineInstallRecordTest, NamesTheProductsRecordedFoldersOnly) {
  base::win::ScopedRegistryOverride machine(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine.Valid());
  WriteEntry(GetUninstallEntryName(L"1.2548.0.7"), L"C:\\Program Files\\Tarvo");
  WriteEntry(GetUninstallEntryName(L"1.2548.0.7 1"), L"D:\\Apps\\Tarvo\\");
  WriteEntry(GetUninstallEntryName(L"1.2548.0.8"), nullptr);
  WriteEntry(GetUninstallEntryName(L"1.2548.0.9"), L"Tarvo");
  WriteEntry(L"Other 1.0", L"C:\\ProgramData\\Other");
  WriteEntry(GetUninstallEntryName(L"").substr(0, 3), L"C:\\ProgramData\\Tar");

  const MachineInstallRecord record = MachineInstallRecord::Read();

  EXPECT_EQ(record.folders().size(), 2u);
  const struct {
    const wchar_t* folder;
    bool named;
  } kCases[] = {
      {L"C:\\Program Files\\Tarvo", true},
      {L"c:\\PROGRAM FILES\\tarvo", true},
      {L"D:\\Apps\\Tarvo", true},
      {L"C:\\Program Files\\Tarvo\\1.2548.0.7", false},
      {L"C:\\Program Files", false},
      {L"C:\\ProgramData\\Other", false},
      {L"C:\\ProgramData\\Tar", false},
      {L"", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(record.Names(base::FilePath(c.folder)), c.named) << c.folder;
}

TEST(MachineInstallRecordTest, AMachineWithoutEntriesNamesNothing) {
  base::win::ScopedRegistryOverride machine(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine.Valid());
  EXPECT_TRUE(MachineInstallRecord::Read().folders().empty());
}

}  // namespace
}  // namespace installer

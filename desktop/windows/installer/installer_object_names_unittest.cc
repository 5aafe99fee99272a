#include "desktop/windows/installer/installer_object_names.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerObjectNamesTest, NamesOfAFolder) {
  const InstallerObjectNames names(base::FilePath(L"C:\\Program Files\\Tarvo"));
  EXPECT_EQ(L"Global\\Tarvo/Installer/C:/PROGRAM FILES/TARVO", names.mutex());
  EXPECT_EQ(L"tarvo_installer\\C:\\PROGRAM FILES\\TARVO", names.channel());
  EXPECT_EQ(L"Global\\TarvoInstaller/PackageReady/C:/PROGRAM FILES/TARVO",
            names.package_ready_event());
  EXPECT_EQ(
      L"Global\\TarvoInstaller/InstallationInterrupted/C:/PROGRAM FILES/TARVO",
      names.installation_interrupted_event());
  EXPECT_EQ(
      L"Local\\TarvoInstaller/GiveInstallPermission/C:/PROGRAM FILES/TARVO",
      names.give_install_permission_event());
  EXPECT_EQ(
      L"Local\\TarvoInstaller/GiveInstallPermission/Undo/C:/PROGRAM "
      L"FILES/TARVO",
      names.give_install_permission_undo_event());
}

// Two front ends given one folder in different spellings must meet on one
// mutex; kernel-object names are case-sensitive.
TEST(InstallerObjectNamesTest, SpellingsOfOneFolderShareEveryName) {
  struct Spellings {
    const wchar_t* first;
    const wchar_t* second;
  };
  constexpr Spellings kSpellings[] = {
      {L"C:\\Program Files\\Tarvo", L"c:/program files/TARVO"},
      {L"C:\\Program Files\\Tarvo", L"C:\\Program Files\\Tarvo\\"},
      {L"C:\\Program Files\\Tarvo", L"C:\\Program Files\\\\Tarvo//"},
      {L"C:\\Program Files\\Tarvo", L"C:\\Program Files\\.\\x\\..\\Tarvo"},
      {L"\\\\server\\share\\Tarvo", L"//SERVER/share/tarvo/"},
      // Beyond ASCII, as the file system folds case.
      {L"C:\\Tarv\u00f6 \u03c9 \u0436", L"c:\\TARV\u00d6 \u03a9 \u0416"},
  };
  for (const Spellings& spellings : kSpellings) {
    SCOPED_TRACE(spellings.second);
    const InstallerObjectNames first{base::FilePath(spellings.first)};
    const InstallerObjectNames second{base::FilePath(spellings.second)};
    EXPECT_EQ(first.folder().value(), second.folder().value());
    EXPECT_EQ(first.mutex(), second.mutex());
    EXPECT_EQ(first.channel(), second.channel());
    EXPECT_EQ(first.package_ready_event(), second.package_ready_event());
    EXPECT_EQ(first.installation_interrupted_event(),
              second.installation_interrupted_event());
    // The peer: the file system's own comparison calls them one folder.
    EXPECT_EQ(CSTR_EQUAL,
              CompareStringOrdinal(spellings.first, -1,
                                   first.folder().value().c_str(), -1, TRUE));
  }
}

TEST(InstallerObjectNamesTest, RelativeFolderIsNamedByItsFullPath) {
  wchar_t current[MAX_PATH];
  ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, current));
  const InstallerObjectNames relative{base::FilePath(L"Tarvo")};
  const InstallerObjectNames full{base::FilePath(current).Append(L"Tarvo")};
  EXPECT_EQ(full.mutex(), relative.mutex());
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/product/installer_object_names.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerObjectNamesTest, KernelObjectNameJoinsPrefixAndFolder) {
  EXPECT_EQ(L"Global\\x/a/b", MakeKernelObjectName(L"a\\b", L"x", true));
  EXPECT_EQ(L"Local\\TarvoInstaller/PackageReady/C:/Tarvo/App",
            MakeKernelObjectName(L"C:\\Tarvo\\App",
                                 L"TarvoInstaller/PackageReady", false));
}

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
      names.give_permission_event());
  EXPECT_EQ(
      L"Local\\TarvoInstaller/GiveInstallPermission/Undo/C:/PROGRAM FILES/TARVO",
      names.undo_permission_event());
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
    EXPECT_EQ(first.give_permission_event(), second.give_permission_event());
    EXPECT_EQ(first.undo_permission_event(), second.undo_permission_event());
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

std::wstring ShortPath(const base::FilePath& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length =
      GetShortPathNameW(path.value().c_str(), buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length)
                                         : std::wstring();
}

// An existing folder given in its 8.3 or "\\?\" spelling, or a folder still
// to be made below one so given, has the mutex of its long spelling: the
// runs and recoveries of one folder must meet on it.
TEST(InstallerObjectNamesTest, SpellingsOfAnExistingFolderShareTheMutex) {
  base::ScopedTempFolder temp;
  const base::FilePath folder =
      temp.path().Append(L"Tarvo Installation Folder");
  ASSERT_TRUE(base::CreateDirectory(folder));
  const std::wstring short_folder = ShortPath(folder);
  ASSERT_FALSE(short_folder.empty());
  // Wine makes 8.3 names as Windows does; a test that compares nothing is
  // worth nothing.
  ASSERT_NE(folder.value(), short_folder);
  const base::FilePath spellings[][2] = {
      {folder, base::FilePath(short_folder)},
      {folder, base::FilePath(L"\\\\?\\" + folder.value())},
      {folder, base::FilePath(L"\\\\?\\" + short_folder + L"\\")},
      {folder.Append(L"Not There Yet"),
       base::FilePath(short_folder).Append(L"Not There Yet")},
  };
  for (const auto& pair : spellings) {
    SCOPED_TRACE(pair[1].AsUTF8());
    EXPECT_EQ(InstallerObjectNames(pair[0]).mutex(),
              InstallerObjectNames(pair[1]).mutex());
  }
}

// A folder whose name would be too long for a kernel object gets a digest
// of its path, still the same for each spelling, and a mutex can be made
// with it.
TEST(InstallerObjectNamesTest, LongFolderGetsAMutexItCanMake) {
  base::ScopedTempFolder temp;
  base::FilePath folder = temp.path();
  for (int i = 0; i < 6; ++i)
    folder = folder.Append(L"a folder name of some fifty characters, level " +
                           std::to_wstring(i));
  const std::wstring name = InstallerObjectNames(folder).mutex();
  EXPECT_LT(name.size(), static_cast<size_t>(MAX_PATH));
  EXPECT_EQ(name,
            InstallerObjectNames(base::FilePath(L"\\\\?\\" + folder.value()))
                .mutex());
  EXPECT_NE(name, InstallerObjectNames(folder.Append(L"x")).mutex());
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
  EXPECT_NE(nullptr, mutex);
  if (mutex)
    CloseHandle(mutex);
}

}  // namespace
}  // namespace installer

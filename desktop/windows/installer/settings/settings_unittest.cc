#include "desktop/windows/installer/settings/settings.h"

#include <map>
#include <string>
#include <vector>

#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/temp_tree.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class PathChangeCounter : public Settings::Observer {
 public:
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override { ++count; }
  int count = 0;
};

using SettingsCommandLineTest = SettingsTest;

TEST_F(SettingsCommandLineTest, SwitchesGiveTheFlags) {
  struct Case {
    std::vector<std::wstring> switches;
    std::map<SettingsFlag, bool> expected;
  };
  const Case kCases[] = {
      // Not read in copy-only mode: the copy-only consequences win.
      {{L"--copyonly=1", L"--desktopshortcut=1", L"--allusers=1"},
       {{COPY_ONLY, true},
        {ALL_USERS_FLAG, false},
        {DEFAULT_BROWSER, false},
        {DESKTOP_SHORTCUT, false},
        {START_MENU_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, false},
        {PINNED_SHORTCUT, false},
        {SINGLE_PROFILE, true}}},
      {{L"--copyonly=1", L"--singleprofile=0"},
       {{COPY_ONLY, true}, {SINGLE_PROFILE, false}}},
      {{L"--enable-stats=0"},
       {{ENABLE_TARVO_STATS, false}, {ENABLE_INSTALLER_STATS, false}}},
      {{L"--enable-stats=0", L"--enable-installer-stats=1"},
       {{ENABLE_TARVO_STATS, false}, {ENABLE_INSTALLER_STATS, true}}},
      {{L"--enable-installer-stats=0"},
       {{ENABLE_TARVO_STATS, true}, {ENABLE_INSTALLER_STATS, false}}},
      // The fall-back is not read when the switch itself is there.
      {{L"--launchtarvo=0", L"--launchbrowser=1"}, {{LAUNCH_TARVO, false}}},
      {{L"--launchbrowser=no"}, {{LAUNCH_TARVO, false}}},
      {{L"--allusers=0", L"--setdefaultbrowser=1", L"--desktopshortcut=0",
        L"--startmenushortcut=0", L"--quicklaunchshortcut=1",
        L"--pintotaskbar=0", L"--import-browser-data=0"},
       {{ALL_USERS_FLAG, false},
        {DEFAULT_BROWSER, true},
        {DESKTOP_SHORTCUT, false},
        {START_MENU_SHORTCUT, false},
        {QUICK_LAUNCH_SHORTCUT, true},
        {PINNED_SHORTCUT, false},
        {IMPORT_BROWSER_DATA, false}}},
      {{L"--install-assistant"}, {{INSTALL_ASSISTANT, true}}},
      {{L"--install-assistant", L"--copyonly=1"}, {{INSTALL_ASSISTANT, false}}},
      // This build is not of the stable channel, and Wine reports Windows 10.
      {{},
       {{COPY_ONLY, false},
        {LAUNCH_TARVO, true},
        {DEFAULT_BROWSER, false},
        {IMPORT_BROWSER_DATA, true},
        {ENABLE_TARVO_STATS, true},
        {ENABLE_INSTALLER_STATS, true},
        {SINGLE_PROFILE, false},
        {DESKTOP_SHORTCUT, true},
        {START_MENU_SHORTCUT, true},
        {QUICK_LAUNCH_SHORTCUT, false},
        {PINNED_SHORTCUT, true}}},
  };
  base::TempTree tree;
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.switches));
    SetCommandLine(c.switches);
    std::unique_ptr<Settings> settings = MakeSettings(tree.Path(L"folder"));
    for (const auto& [flag, value] : c.expected)
      EXPECT_EQ(value, settings->GetFlag(flag)) << SettingsFlagName(flag);
  }
}

TEST_F(SettingsCommandLineTest, NiuidSwitchMustLookLikeAnInstallerId) {
  const std::wstring kLongest(64, L'a');
  struct Case {
    std::wstring value;
    std::string expected;
  } const kCases[] = {
      {L"{2F1A-bc_9}", "{2F1A-bc_9}"},
      {L"", ""},
      {kLongest, std::string(64, 'a')},
      {kLongest + L"a", ""},
      {L"abc def", ""},
      {L"abc\"--uninstall", ""},
      {L"j\u00fcrgen", ""},
      {L"a\\..\\b", ""},
  };
  base::TempTree tree;
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.value));
    SetCommandLine({L"--niuid=" + c.value});
    EXPECT_EQ(c.expected, MakeSettings(tree.Path(L"folder"))->niuid());
  }
}

using SettingsNiuidTest = SettingsTest;

TEST_F(SettingsNiuidTest, TrackingDataNiuidIsCheckedWhereItEnters) {
  base::TempTree tree;
  std::unique_ptr<Settings> settings = MakeSettings(tree.Path(L"folder"));
  EXPECT_TRUE(settings->SetNiuid("4a5B-{x}_0"));
  EXPECT_EQ("4a5B-{x}_0", settings->niuid());
  EXPECT_FALSE(settings->SetNiuid("bad\r\nline"));
  EXPECT_FALSE(settings->SetNiuid("caf\xc3\xa9"));
  EXPECT_FALSE(settings->SetNiuid(std::string(65, '1')));
  EXPECT_EQ("4a5B-{x}_0", settings->niuid());
}

using SettingsFolderTest = SettingsTest;

TEST_F(SettingsFolderTest, UninstallingAFolderWithoutInstallationIsInvalid) {
  base::TempTree tree;
  const base::FilePath empty_folder = tree.MakeDir(L"no installation");
  Settings settings(true, false, false, base::FilePath(), false,
                    Settings::kArchitectureX86);
  WaitForStatus(settings);
  ASSERT_TRUE(settings.SetInstallFolderIfAllowed(empty_folder));
  WaitForStatus(settings);
  EXPECT_EQ(empty_folder, settings.GetStatus()->install_folder);
  EXPECT_TRUE(settings.GetStatus()->valid_install_path);
  EXPECT_EQ(Settings::kNoOperation, settings.operation());
}

TEST_F(SettingsFolderTest, SameFolderTwiceStartsNoSecondRequest) {
  base::TempTree tree;
  const base::FilePath first = tree.Path(L"first");
  const base::FilePath second = tree.Path(L"second");
  std::unique_ptr<Settings> settings = MakeSettings(first);
  PathChangeCounter counter;
  settings->AddObserver(&counter);

  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(first));
  EXPECT_FALSE(settings->IsStatusPending());

  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(second));
  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(second));
  FinishWorkerTasks();
  EXPECT_EQ(1, counter.count);
  EXPECT_EQ(second, settings->GetStatus()->install_folder);
  settings->RemoveObserver(&counter);
}

TEST_F(SettingsFolderTest, ReturningToTheCurrentFolderCancelsThePendingOne) {
  base::TempTree tree;
  const base::FilePath first = tree.Path(L"first");
  const base::FilePath second = tree.Path(L"second");
  std::unique_ptr<Settings> settings = MakeSettings(first);
  PathChangeCounter counter;
  settings->AddObserver(&counter);

  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(second));
  EXPECT_TRUE(settings->IsStatusPending());
  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(first));
  EXPECT_FALSE(settings->IsStatusPending());
  // The second folder's computation ends and its reply runs, to no effect.
  FinishWorkerTasks();
  EXPECT_EQ(first, settings->GetStatus()->install_folder);
  EXPECT_EQ(0, counter.count);
  EXPECT_EQ(Settings::kInstalling, settings->operation());

  // A third folder while the second is pending: the third wins.
  const base::FilePath third = tree.Path(L"third");
  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(second));
  EXPECT_TRUE(settings->SetInstallFolderIfAllowed(third));
  FinishWorkerTasks();
  EXPECT_EQ(third, settings->GetStatus()->install_folder);
  EXPECT_EQ(1, counter.count);
  settings->RemoveObserver(&counter);
}

TEST_F(SettingsFolderTest, FrozenSettingsRefuseEveryChange) {
  base::TempTree tree;
  std::unique_ptr<Settings> settings = MakeSettings(tree.Path(L"folder"));
  settings->set_changeable(false);
  EXPECT_FALSE(settings->SetFlag(DESKTOP_SHORTCUT, false));
  EXPECT_FALSE(settings->SetCopyOnly(true));
  EXPECT_FALSE(settings->SetMode(Settings::kStandaloneMode));
  EXPECT_FALSE(settings->SetLanguage(L"de"));
  EXPECT_FALSE(settings->SetInstallFolderIfAllowed(tree.Path(L"other")));
  EXPECT_TRUE(settings->GetFlag(DESKTOP_SHORTCUT));
  EXPECT_FALSE(settings->GetFlag(COPY_ONLY));
  EXPECT_FALSE(settings->IsStatusPending());
}

// Drives fed to the standalone enumeration of the settings made next.
std::vector<StandaloneDrive> RemovableAndFixedDrives() {
  return {{L'C', DRIVE_FIXED}, {L'E', DRIVE_REMOVABLE}};
}

TEST_F(SettingsFolderTest, StandaloneModeMovesFromTheDefaultFolder) {
  SetDriveFinderForTesting(&RemovableAndFixedDrives);
  SetCommandLine({L"--allusers=0"});
  std::unique_ptr<Settings> settings = MakeSettings();
  const std::wstring leaf = base::Utf8ToWide(GetVisibleProductNameWithStream());
  ASSERT_EQ(settings->GetDefaultInstallFolderForCurrentMode(
                Settings::kFromStandardFolder),
            settings->GetStatus()->install_folder);

  EXPECT_TRUE(settings->SetMode(Settings::kStandaloneMode));
  EXPECT_EQ(Settings::kStandaloneMode, settings->GetMode());
  EXPECT_TRUE(settings->GetFlag(SINGLE_PROFILE));
  EXPECT_FALSE(settings->GetFlag(DESKTOP_SHORTCUT));
  WaitForStatus(*settings);
  EXPECT_EQ(L"E:\\" + leaf, settings->GetStatus()->install_folder.value());
}

TEST_F(SettingsFolderTest, CopyOnlyWithoutDrivesHasNoDefaultFolder) {
  // Wine answers no drive's media check, so the list is empty here anyway.
  std::unique_ptr<Settings> settings = MakeSettings();
  EXPECT_TRUE(settings->standalone_folders().empty());
  EXPECT_TRUE(settings
                  ->GetDefaultInstallFolder(Settings::kFromAnySource,
                                            Settings::kArchitectureX86, false,
                                            true)
                  .empty());
}

TEST_F(SettingsFolderTest, UserProgramsFolderFallsBackToLocalAppData) {
  // Wine has no FOLDERID_UserProgramFiles: the fall-back is what it shows.
  std::unique_ptr<Settings> settings = MakeSettings();
  base::FilePath local_app_data;
  ASSERT_TRUE(base::GetPathForKey(base::kLocalAppData, &local_app_data));
  const base::FilePath expected =
      local_app_data.Append(L"Programs")
          .Append(base::Utf8ToWide(GetVisibleProductNameWithStream()));
  EXPECT_EQ(expected, settings->GetDefaultInstallFolder(
                          Settings::kFromStandardFolder,
                          Settings::kArchitectureX64, false, false));
}

// The 32-bit program files of this test, for one x64 run.
class ScopedProgramFilesX86 {
 public:
  explicit ScopedProgramFilesX86(const base::FilePath& folder) {
    base::GetPathForKey(base::kProgramFilesX86, &original_);
    base::SetPathOverride(base::kProgramFilesX86, folder, true, false);
  }
  ~ScopedProgramFilesX86() {
    base::SetPathOverride(base::kProgramFilesX86, original_, true, false);
  }

 private:
  base::FilePath original_;
};

TEST_F(SettingsFolderTest, X64RunKeepsAnInstallationInThe32BitProgramFiles) {
  base::TempTree tree;
  ScopedProgramFilesX86 program_files_x86(tree.MakeDir(L"x86"));
  WriteInstallLog(tree, L"x86\\installed", false);
  const base::FilePath empty = tree.MakeDir(L"x86\\empty");
  SetCommandLine({L"--allusers=0"});
  base::win::RegistryKey company(HKEY_CURRENT_USER, L"Software\\Tarvo Software",
                                 KEY_SET_VALUE);

  company.WriteString(L"Last developer Install Path",
                      tree.Path(L"x86\\installed").value().c_str());
  std::unique_ptr<Settings> kept =
      MakeSettings(base::FilePath(), Settings::kArchitectureX64);
  EXPECT_EQ(tree.Path(L"x86\\installed"), kept->GetStatus()->install_folder);
  EXPECT_EQ(Settings::kUpgrading, kept->operation());

  company.WriteString(L"Last developer Install Path", empty.value().c_str());
  std::unique_ptr<Settings> moved =
      MakeSettings(base::FilePath(), Settings::kArchitectureX64);
  EXPECT_NE(empty, moved->GetStatus()->install_folder);
  EXPECT_EQ(moved->GetDefaultInstallFolderForCurrentMode(
                Settings::kFromStandardFolder),
            moved->GetStatus()->install_folder);
}

TEST_F(SettingsFolderTest, StoredFolderIsReadWithoutItsTrailingSeparators) {
  base::TempTree tree;
  const base::FilePath folder = tree.MakeDir(L"stored");
  SetCommandLine({L"--allusers=0"});
  base::win::RegistryKey company(HKEY_CURRENT_USER, L"Software\\Tarvo Software",
                                 KEY_SET_VALUE);
  // As written by this installer, and as grown by earlier runs.
  for (const wchar_t* suffix : {L"\\", L"\\\\\\", L""}) {
    SCOPED_TRACE(testing::Message() << "suffix \"" << suffix << "\"");
    company.WriteString(L"Last developer Install Path",
                        (folder.value() + suffix).c_str());
    std::unique_ptr<Settings> settings = MakeSettings(base::FilePath());
    EXPECT_EQ(folder.value(), settings->GetStatus()->install_folder.value());
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/settings/status.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/temp_tree.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/shortcut.h"
#include "components/prefs/read_prefs_file.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// An install log laid out as the writer lays it out.
std::string InstallLogText(const std::string& flags,
                           const std::string& tail,
                           const std::string& subfolder = "1.2.3") {
  return "<?xml version=\"1.0\"?>\n<install_log version=\"1.2.3\" " + flags +
         " pinned=\"False\" app_id=\"t1\">\n <path subfolder=\"" + subfolder +
         "\">C:\\Tarvo</path>\n"
         " <files>\n  <file>launcher.exe</file>\n </files>\n" +
         tail + "</install_log>\n";
}

std::string RegistryElement(const char* hive) {
  return std::string(" <registry hive=\"") + hive +
         "\">\n  <key path=\"Software\\Tarvo Software\" clean=\"1\">\n"
         "   <value name=\"Last install path\" type=\"REG_SZ\">C:\\Tarvo"
         "</value>\n  </key>\n </registry>\n";
}

std::string ShortcutElement(const char* type, const base::FilePath& path) {
  return std::string(" <shortcut type=\"") + type + "\">" + path.AsUTF8() +
         "</shortcut>\n";
}

const std::string kPlainLog =
    InstallLogText("copy_only=\"False\" all_users=\"False\"",
                   RegistryElement("HKCU"));

// Points a path-service key into the test's tree, and back afterwards.
class ScopedPathOverride {
 public:
  ScopedPathOverride(int key, const base::FilePath& path) : key_(key) {
    had_original_ = base::GetPathForKey(key, &original_);
    base::SetPathOverride(key, path, true, true);
  }
  ~ScopedPathOverride() {
    if (had_original_)
      base::SetPathOverride(key_, original_, true, false);
  }

 private:
  const int key_;
  base::FilePath original_;
  bool had_original_ = false;
};

class StatusTest : public testing::Test {
 protected:
  // A folder "Tarvo" of the tree with a launcher and `files` (name, text).
  base::FilePath MakeFolder(
      std::initializer_list<std::pair<const wchar_t*, std::string>> files) {
    const base::FilePath folder = tree_.MakeDir(L"Tarvo");
    tree_.WriteFile(L"Tarvo\\launcher.exe", "MZ");
    for (const auto& [name, text] : files)
      tree_.WriteFile((std::wstring(L"Tarvo\\") + name).c_str(), text);
    return folder;
  }

  base::win::ScopedCOMInitializer com_;
  base::win::ScopedRegistryOverride hkcu_{HKEY_CURRENT_USER};
  base::win::ScopedRegistryOverride hklm_{HKEY_LOCAL_MACHINE};
  base::TempTree tree_;
  ScopedPathOverride start_menu_{base::kStartMenu, tree_.MakeDir(L"menu")};
  ScopedPathOverride pins_{base::kTaskbarPins, tree_.MakeDir(L"pins")};
};

TEST_F(StatusTest, PathsWithoutInstallation) {
  wchar_t missing_drive = L'Z';
  while (::GetLogicalDrives() & (1u << (missing_drive - L'A')))
    --missing_drive;
  const base::FilePath file = tree_.WriteFile(L"plain.txt", "text");
  const base::FilePath folder = MakeFolder({});
  const struct {
    base::FilePath path;
    base::FilePath valid_parent;  // Empty: not valid.
    bool traces;
  } cases[] = {
      {base::FilePath(L"C:\\"), base::FilePath(L"C:\\"), false},
      {tree_.Path(L"new\\Tarvo"), tree_.root(), false},
      {folder, folder, true},
      {base::FilePath(std::wstring(1, missing_drive) + L":\\Tarvo\\Stable")},
      {file},
      {file.Append(L"sub\\Tarvo")},
      {base::FilePath(L"Programs\\Tarvo")},
  };
  for (const auto& test : cases) {
    Status status(false);
    status.Init(test.path);
    SCOPED_TRACE(test.path.AsUTF8());
    EXPECT_EQ(status.valid_install_path, !test.valid_parent.empty());
    EXPECT_EQ(status.valid_parent_folder, test.valid_parent);
    if (test.valid_parent.empty() || tree_.root().IsParent(test.path)) {
      EXPECT_EQ(status.has_write_access, !test.valid_parent.empty());
    }
    EXPECT_FALSE(status.existing_installation);
    EXPECT_EQ(status.existing_installation_traces, test.traces);
  }
}

TEST_F(StatusTest, BrokenStatusFileIsKeptUpToFourKilobytes) {
  // Well-formed and long, but the reader stops at the unknown element after
  // having filled part of the record.
  const std::string text =
      InstallLogText("copy_only=\"True\" all_users=\"False\"",
                     " <!--" + std::string(10000, 'x') + "-->\n <bogus/>\n");
  Status status(false);
  status.Init(MakeFolder({{kInstallLogName, text}}));
  EXPECT_TRUE(status.valid_install_path);
  EXPECT_FALSE(status.existing_installation);
  EXPECT_EQ(status.status_file_error.rfind("Tarvo Fennic status file, ", 0),
            0u);
  EXPECT_EQ(status.status_file_content, text.substr(0, 4096));
  EXPECT_EQ(status.install_log, InstallLog());
}

TEST_F(StatusTest, InstallerPrefsOfAnInstallation) {
  Status status(false);
  status.Init(MakeFolder(
      {{kInstallLogName, kPlainLog},
       {kServerTrackingDataName, "campaign=7"},
       {kInstallerPrefsName,
        R"({"single_profile": "true", "enable_stats": false, "language": "de",
            "all-installer-experiments": ["installer-experiment-test@1"]})"}}));
  ASSERT_TRUE(status.existing_installation) << status.status_file_error;
  EXPECT_EQ(status.single_profile, -1);
  EXPECT_EQ(status.enable_stats, 0);
  EXPECT_EQ(status.import_browser_data, -1);
  EXPECT_EQ(status.language, L"de");
  EXPECT_EQ(status.tracking_data, "campaign=7");
  EXPECT_EQ(status.old_product_type, -1);
  std::vector<base::FeatureEntry> experiments;
  status.experiments.GetFeatureStates(&experiments);
  ASSERT_EQ(experiments.size(), 1u);
  EXPECT_EQ(experiments[0].name, "installer-experiment-test");
}

// What anyone who may write the installation folder leaves there for the
// next run, which may be elevated, to read back: a tracking data file
// beyond the bound, or a second name of a file elsewhere, is not read.
TEST_F(StatusTest, TrackingDataIsReadBackBoundedAndNeverThroughASecondName) {
  const std::string kAtBound(kMaxRunDataFileSize, 't');
  const struct {
    const char* name;
    std::string text;
    bool linked;
    std::string read;
  } kCases[] = {
      {"at the bound", kAtBound, false, kAtBound},
      {"beyond the bound", kAtBound + "t", false, ""},
      {"second name", "campaign=7", true, ""},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    const base::FilePath folder = MakeFolder({{kInstallLogName, kPlainLog}});
    const base::FilePath tracking = folder.Append(kServerTrackingDataName);
    base::DeletePath(tracking, false);
    if (test.linked) {
      tree_.WriteFile(L"elsewhere", test.text);
      ASSERT_TRUE(::CreateHardLinkW(tracking.value().c_str(),
                                    tree_.Path(L"elsewhere").value().c_str(),
                                    nullptr));
    } else {
      tree_.WriteFile(L"Tarvo\\server_tracking_data", test.text);
    }
    Status status(false);
    status.Init(folder);
    ASSERT_TRUE(status.existing_installation) << status.status_file_error;
    EXPECT_EQ(status.tracking_data, test.read);
  }
}

TEST_F(StatusTest, FormerGenerationCountsOnlyWhenReplacementIsAsked) {
  for (bool replace : {false, true}) {
    Status status(replace);
    status.Init(MakeFolder(
        {{kFormerInstallLogName, kPlainLog},
         {kInstallerPrefsName, R"({"language": "de"})"},
         {L"tarvoprefs_default.ini",
          "[System]\r\nTarvo Product=2\r\nMulti User=0\r\n[User Prefs]\r\n"
          "Language Files Directory=C:\\Kilnor\\locale\\fi\\\r\n"}}));
    EXPECT_TRUE(status.valid_install_path);
    EXPECT_TRUE(status.kilnor_installation);
    EXPECT_EQ(status.existing_installation, replace);
    EXPECT_EQ(status.old_product_type, 2);
    EXPECT_EQ(status.single_profile, 1);
    EXPECT_EQ(status.language, L"fi");
  }
}

// The system's reader of the former preferences would read a second name
// of any file the run may read: such a file is left unread.
TEST_F(StatusTest, FormerGenerationPrefsAreNeverReadThroughASecondName) {
  const base::FilePath folder = MakeFolder({{kFormerInstallLogName, kPlainLog}});
  tree_.WriteFile(L"elsewhere.ini", "[System]\r\nTarvo Product=2\r\n");
  ASSERT_TRUE(::CreateHardLinkW(
      folder.Append(L"tarvoprefs_default.ini").value().c_str(),
      tree_.Path(L"elsewhere.ini").value().c_str(), nullptr));
  Status status(true);
  status.Init(folder);
  EXPECT_TRUE(status.kilnor_installation);
  EXPECT_EQ(status.old_product_type, -1);
}

TEST(StatusFlagsTest, NormalizeInstallLogFlags) {
  // copy_only, all_users, HKLM entry, HKCU entry, desktop shortcut -> flags.
  const bool cases[][7] = {
      {true, false, false, false, false, true, false},
      {true, true, false, false, false, true, false},
      {true, false, false, false, true, false, false},
      {true, false, false, true, false, false, false},
      {true, false, true, false, false, false, true},
      {false, false, true, false, false, false, true},
      {false, true, false, true, true, false, true},
  };
  for (const auto& test : cases) {
    Status status(false);
    status.install_log.copy_only = test[0];
    status.install_log.all_users = test[1];
    status.install_log.hklm_registry.resize(test[2]);
    status.install_log.hkcu_registry.resize(test[3]);
    status.install_log.desktop_shortcut = test[4] ? L"C:\\Tarvo.lnk" : L"";
    status.NormalizeInstallLogFlags();
    EXPECT_EQ(status.install_log.copy_only, test[5]) << &test - cases;
    EXPECT_EQ(status.install_log.all_users, test[6]) << &test - cases;
  }
}

TEST_F(StatusTest, ShortcutsToOlderTargetsAreRecreated) {
  const base::FilePath desktop = tree_.Path(L"desktop.lnk");
  const base::FilePath menu = tree_.Path(L"menu\\Tarvo.lnk");
  const base::FilePath quick = tree_.Path(L"quick.lnk");
  const base::FilePath pin = tree_.Path(L"pins\\Tarvo.lnk");
  const base::FilePath folder = MakeFolder(
      {{L"tarvo.exe", "MZ"},
       {kInstallLogName,
        InstallLogText("copy_only=\"False\" all_users=\"True\"",
                       ShortcutElement("SC_DEST_COMMON_DESKTOP", desktop) +
                           ShortcutElement("SC_DEST_COMMON_MENU", menu) +
                           ShortcutElement("SC_DEST_QUICK_LAUNCH", quick))}});
  tree_.MakeDir(L"Tarvo\\1.2.3");
  tree_.WriteFile(L"Tarvo\\1.2.3\\tarvo.exe", "MZ");
  tree_.MakeDir(L"menu\\Tarvo Software");
  const std::pair<base::FilePath, const wchar_t*> links[] = {
      {desktop, L"launcher.exe"},
      {menu, L"tarvo.exe"},
      {quick, L"1.2.3\\tarvo.exe"},
      {pin, L"tarvo.exe"}};
  for (const auto& [link, target] : links) {
    base::win::ShortcutProperties properties;
    properties.set_target(folder.Append(target));
    ASSERT_TRUE(base::win::CreateOrUpdateShortcut(
        link, properties, base::win::kShortcutCreateAlways));
  }

  Status status(false);
  status.Init(folder);
  ASSERT_TRUE(status.existing_installation) << status.status_file_error;
  EXPECT_TRUE(status.desktop_shortcut_exists);
  EXPECT_FALSE(status.recreate_desktop_shortcut);
  EXPECT_TRUE(status.start_menu_shortcut_exists);
  EXPECT_TRUE(status.recreate_start_menu_shortcut);
  EXPECT_TRUE(status.quick_launch_shortcut_exists);
  EXPECT_TRUE(status.recreate_quick_launch_shortcut);
  ASSERT_EQ(status.pinned_shortcut_paths.size(), 1u);
  EXPECT_EQ(
      base::FilePath::CompareIgnoreCase(status.pinned_shortcut_paths[0], pin),
      0);
  EXPECT_TRUE(status.recreate_pinned_shortcut);
  EXPECT_EQ(status.temporary_shortcut_folder,
            tree_.Path(L"menu\\Tarvo Software"));
}

TEST_F(StatusTest, SubfolderOutsideTheInstallationIsNoTarget) {
  const base::FilePath desktop = tree_.Path(L"desktop.lnk");
  const base::FilePath folder =
      MakeFolder({{kInstallLogName,
                   InstallLogText("copy_only=\"False\" all_users=\"False\"",
                                  ShortcutElement("SC_DEST_DESKTOP", desktop),
                                  "..\\Other")}});
  tree_.MakeDir(L"Other");
  base::win::ShortcutProperties properties;
  properties.set_target(tree_.WriteFile(L"Other\\tarvo.exe", "MZ"));
  ASSERT_TRUE(base::win::CreateOrUpdateShortcut(
      desktop, properties, base::win::kShortcutCreateAlways));

  Status status(false);
  status.Init(folder);
  ASSERT_TRUE(status.existing_installation) << status.status_file_error;
  EXPECT_FALSE(status.desktop_shortcut_exists);
  EXPECT_FALSE(status.recreate_desktop_shortcut);
}

TEST_F(StatusTest, LocalStateIsReadButNeverChanged) {
  const std::pair<std::string, const wchar_t*> cases[] = {
      {R"({"intl": {"app_locale": "fr"}})", L"fr"},
      {R"({"intl": {"app_locale": "fr")", L"de"},
  };
  for (const auto& [local_state_text, language] : cases) {
    Status status(false);
    const base::FilePath folder =
        MakeFolder({{kInstallLogName, kPlainLog},
                    {kInstallerPrefsName,
                     R"({"single_profile": true, "language": "de"})"}});
    tree_.MakeDir(L"Tarvo\\profile\\data");
    const base::FilePath local_state =
        tree_.WriteFile(L"Tarvo\\profile\\data\\Local State", local_state_text);
    status.Init(folder);
    ASSERT_TRUE(status.existing_installation) << status.status_file_error;
    EXPECT_EQ(status.profile_path, local_state.DirName());
    EXPECT_EQ(status.language, language);
    EXPECT_EQ(base::TempTree::ReadFile(local_state), local_state_text);
    EXPECT_FALSE(
        base::TempTree::Exists(base::GetBadPrefsFilePath(local_state)));
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/product_environment/product_environment_impl.h"

#include <windows.h>

#include <shlwapi.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/path_service.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/temp_tree.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::win::ScopedRegistryOverride;

constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tarv\u00f6";

// Every root that a lookup of associations reads, pointed at empty keys.
struct IsolatedRegistry {
  ScopedRegistryOverride classes{HKEY_CLASSES_ROOT};
  ScopedRegistryOverride machine{HKEY_LOCAL_MACHINE};
  ScopedRegistryOverride user{HKEY_CURRENT_USER};
};

void WriteString(HKEY root,
                 const std::wstring& key_path,
                 const wchar_t* name,
                 const std::wstring& data,
                 DWORD type = REG_SZ) {
  base::win::RegistryKey key(root, key_path.c_str(), KEY_SET_VALUE);
  ASSERT_TRUE(key.Valid()) << key_path.c_str();
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExW(key.Handle(), name, 0, type,
                           reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * 2)));
}

std::wstring UserChoicePath(const std::wstring& association) {
  constexpr wchar_t kExtensions[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\";
  constexpr wchar_t kProtocols[] =
      L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\";
  return (association[0] == L'.' ? kExtensions : kProtocols) + association +
         L"\\UserChoice";
}

FilePath WritePrefs(const base::TempTree& tree, const std::string& json) {
  tree.WriteFile(kInstallerPrefsName, json);
  return tree.root();
}

TEST(ProductEnvironmentTest, InstallDirIsTheFolderHoldingTheLauncher) {
  base::TempTree tree;
  for (const wchar_t* dir : {L"parent\\45.0", L"both\\45.0", L"neither\\45.0"})
    tree.MakeDir(dir);
  for (const wchar_t* file : {L"parent\\launcher.exe", L"both\\launcher.exe",
                              L"both\\45.0\\launcher.exe"})
    tree.WriteFile(file, "");
  EXPECT_EQ(tree.Path(L"parent"),
            ProductEnvironmentImpl::InstallDirForExecutableDir(
                tree.Path(L"parent\\45.0")));
  for (const wchar_t* own : {L"both\\45.0", L"neither\\45.0"}) {
    EXPECT_EQ(
        tree.Path(own),
        ProductEnvironmentImpl::InstallDirForExecutableDir(tree.Path(own)));
  }
  // The process's own installation is found from the running executable.
  FilePath exe_dir;
  ASSERT_TRUE(base::GetPathForKey(base::kExeDir, &exe_dir));
  EXPECT_EQ(ProductEnvironmentImpl::InstallDirForExecutableDir(exe_dir),
            GetProductEnvironment()->install_dir());
  EXPECT_EQ(GetProductEnvironment(), GetProductEnvironment());
}

TEST(ProductEnvironmentTest, PreferencesAreReadFromTheFile) {
  base::TempTree tree;
  FolderProductEnvironment environment(WritePrefs(tree, R"({
      "min": "-9223372036854775808", "half": "12x", "flag": true,
      "escaped": "Gr\u00fc\u00dfe \u5317\u4eac", "raw": "Grüße 北京"})"));
  const struct {
    const char* name;
    bool found;
    int64_t value;
  } kInt64Cases[] = {{"min", true, std::numeric_limits<int64_t>::min()},
                     {"half", false, -1},  // Not wholly a number: not read.
                     {"flag", false, -1}};
  for (const auto& c : kInt64Cases) {
    int64_t value = -1;
    EXPECT_EQ(c.found, environment.GetInt64Pref(c.name, &value)) << c.name;
    EXPECT_EQ(c.value, value) << c.name;
  }
  bool flag = false;
  EXPECT_TRUE(environment.GetBoolPref("flag", &flag) && flag);
  EXPECT_FALSE(environment.GetBoolPref("raw", nullptr));
  for (const char* name : {"escaped", "raw"}) {
    std::wstring wide;
    EXPECT_TRUE(environment.GetWideStringPref(name, &wide));
    EXPECT_EQ(L"Gr\u00fc\u00dfe \u5317\u4eac", wide);
  }
  EXPECT_FALSE(environment.IsSingleProfile());
}

TEST(ProductEnvironmentTest, AssociationIsOursWhenItsCommandNamesUs) {
  constexpr wchar_t kLauncher[] =
      L"\"C:\\PROGRAM FILES\\TARV\u00d6\\LAUNCHER.EXE\" -- \"%1\"";
  constexpr wchar_t kProduct[] = L"C:\\Program Files\\Tarv\u00f6\\TARVO.exe %1";
  constexpr wchar_t kOther[] = L"\"C:\\Other\\browser.exe\" \"%1\"";
  const struct {
    const wchar_t* association;
    const wchar_t* user_choice;      // ProgId; null: no UserChoice key.
    const wchar_t* extension_class;  // The extension key's default value.
    const wchar_t* command_class;
    const wchar_t* command;
    bool use_product_executable;
    bool ours;
  } kCases[] = {
      {L"http", L"TarvoDeveloper", nullptr, L"TarvoDeveloper", kLauncher, false,
       true},
      {L"http", L"TarvoDeveloper", nullptr, L"http", kLauncher, false, false},
      {L"https", nullptr, nullptr, L"https", kLauncher, false, true},
      {L".htm", nullptr, L"TarvoDeveloper", L"TarvoDeveloper", kLauncher, false,
       true},
      {L"http", nullptr, nullptr, L"http", kProduct, true, true},
      {L"http", nullptr, nullptr, L"http", kProduct, false, false},
      {L"http", nullptr, nullptr, L"http", kOther, false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.association << " " << c.command_class);
    IsolatedRegistry registry;
    if (c.user_choice) {
      WriteString(HKEY_CURRENT_USER, UserChoicePath(c.association), L"ProgId",
                  c.user_choice);
    }
    if (c.extension_class)
      WriteString(HKEY_CLASSES_ROOT, c.association, nullptr, c.extension_class);
    WriteString(HKEY_CLASSES_ROOT,
                std::wstring(c.command_class) + L"\\shell\\open\\command",
                nullptr, c.command);
    FolderProductEnvironment environment{FilePath(kInstallDir)};
    EXPECT_EQ(c.ours, environment.IsAssociationOurs(c.association,
                                                    c.use_product_executable));
  }
}

TEST(ProductEnvironmentTest, AssociationCommandReadsTheRootAsked) {
  IsolatedRegistry registry;
  SetEnvironmentVariableW(L"TARVO_TEST_FOLDER", L"C:\\Mine");
  WriteString(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr,
              L"%TARVO_TEST_FOLDER%\\launcher.exe %1", REG_EXPAND_SZ);
  WriteString(HKEY_LOCAL_MACHINE,
              L"SOFTWARE\\Classes\\http\\shell\\open\\command", nullptr,
              L"machine.exe %1");
  FolderProductEnvironment environment{FilePath(L"C:\\Mine")};
  std::wstring command;
  EXPECT_TRUE(environment.GetAssociationCommand(L"http", false, &command));
  EXPECT_EQ(L"C:\\Mine\\launcher.exe %1", command);
  EXPECT_TRUE(environment.GetAssociationCommand(L"http", true, &command));
  EXPECT_EQ(L"machine.exe %1", command);
  SetEnvironmentVariableW(L"TARVO_TEST_FOLDER", nullptr);
  // The shell's own reader agrees on rows stored the way Windows keeps them.
  WriteString(HKEY_CLASSES_ROOT, L"ftp\\shell\\open\\command", nullptr,
              L"ftp.exe %1");
  WriteString(HKEY_CLASSES_ROOT, L".htm", nullptr, L"TarvoDeveloper");
  WriteString(HKEY_CLASSES_ROOT, L"TarvoDeveloper\\shell\\open\\command",
              nullptr, L"\"C:\\Mine\\launcher.exe\" -- \"%1\"");
  for (const wchar_t* association : {L"ftp", L".htm"}) {
    wchar_t shell_command[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    ASSERT_EQ(S_OK,
              AssocQueryStringW(ASSOCF_NONE, ASSOCSTR_COMMAND, association,
                                L"open", shell_command, &length));
    EXPECT_TRUE(
        environment.GetAssociationCommand(association, false, &command));
    EXPECT_EQ(shell_command, command);
  }
}

TEST(ProductEnvironmentTest, PreviousDefaultBrowserOfTheUserComesFirst) {
  IsolatedRegistry registry;
  FolderProductEnvironment environment{FilePath(kInstallDir)};
  std::wstring command;
  EXPECT_FALSE(environment.GetPreviousDefaultBrowser(&command));
  ASSERT_TRUE(environment.SetPreviousDefaultBrowser(L"machine.exe", true));
  EXPECT_TRUE(environment.GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(L"machine.exe", command);
  WriteString(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr,
              L"user.exe");
  environment.RememberCurrentDefaultBrowser(false);
  EXPECT_TRUE(environment.GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(L"user.exe", command);
  // Once "http" is ours there is nothing to keep.
  WriteString(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", nullptr,
              std::wstring(kInstallDir) + L"\\launcher.exe");
  ASSERT_TRUE(environment.SetPreviousDefaultBrowser(L"kept.exe", false));
  environment.RememberCurrentDefaultBrowser(false);
  EXPECT_TRUE(environment.GetPreviousDefaultBrowser(&command));
  EXPECT_EQ(L"kept.exe", command);
}

// Wine answers GetUserNameW from WINEUSERNAME: the test runs as user ann.
class ScopedUserName {
 public:
  explicit ScopedUserName(const wchar_t* name) {
    GetEnvironmentVariableW(L"WINEUSERNAME", saved_, 257);
    SetEnvironmentVariableW(L"WINEUSERNAME", name);
  }
  ~ScopedUserName() { SetEnvironmentVariableW(L"WINEUSERNAME", saved_); }

 private:
  wchar_t saved_[257] = {};
};

TEST(ProductEnvironmentTest, UserDataFollowsProfilePathOrTemplate) {
  FilePath roaming;
  FilePath local;
  ASSERT_TRUE(base::GetPathForKey(base::kAppData, &roaming));
  ASSERT_TRUE(base::GetPathForKey(base::kLocalAppData, &local));
  // Only now: Wine finds these folders by the user name too, and the path
  // service keeps what it found.
  ScopedUserName user(L"ann");
  const std::wstring by_template =
      roaming.Append(L"Tarvo Software\\Tarvo Developer\\User Data").value();
  const struct {
    const char* prefs;
    std::wstring user_data;
    std::wstring for_stream;
  } kCases[] = {
      {"{}", by_template, by_template},
      {R"({"profile_path": "D:\\Profiles\\<USERNAME>"})", L"D:\\Profiles\\ann",
       L"D:\\Profiles"},
      {R"({"profile_path": "D:\\P\\<USERNAME>\\data"})", L"D:\\P\\ann\\data",
       L"D:\\P\\ann\\data"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.prefs);
    base::TempTree tree;
    FolderProductEnvironment environment(WritePrefs(tree, c.prefs));
    FilePath path;
    ASSERT_TRUE(environment.GetUserDataDir(&path));
    EXPECT_EQ(c.user_data, path.value());
    ASSERT_TRUE(environment.GetUserDataDirForStream(&path));
    EXPECT_EQ(c.for_stream, path.value());
    ASSERT_TRUE(environment.GetProfileDir(&path));
    EXPECT_EQ(roaming.Append(L"Tarvo").Append(tree.root().BaseName().value()),
              path);
    // Only the default user data moves from the roaming to the local folder.
    environment.RebasePath(roaming.Append(L"a\\b"), &path);
    EXPECT_EQ(c.prefs == std::string("{}") ? local.Append(L"a\\b")
                                           : roaming.Append(L"a\\b"),
              path);
  }
}

TEST(ProductEnvironmentTest, UserDataOfOtherChannelsAndFolders) {
  FilePath roaming;
  ASSERT_TRUE(base::GetPathForKey(base::kAppData, &roaming));
  base::TempTree tree;
  FolderProductEnvironment environment(WritePrefs(tree, "{}"));
  FilePath path;
  ASSERT_TRUE(environment.GetUserDataDirForChannel(&path, 4));
  EXPECT_EQ(roaming.Append(L"Tarvo Software\\Tarvo Stable\\User Data"), path);
  ASSERT_TRUE(environment.GetUserDataDirForChannel(&path, 9));
  EXPECT_EQ(roaming.Append(L"Tarvo Software\\Tarvo developer\\User Data"),
            path);
  environment.RebasePath(FilePath(L"D:\\elsewhere"), &path);
  EXPECT_EQ(FilePath(L"D:\\elsewhere"), path);
  ASSERT_TRUE(FolderProductEnvironment(FilePath(L"C:\\")).GetProfileDir(&path));
  EXPECT_EQ(roaming.Append(L"Tarvo\\Tarvo"), path);
  // Without a folder there is no profile, and a bare "launcher.exe" in a
  // command names nothing.
  FolderProductEnvironment nowhere{FilePath()};
  EXPECT_FALSE(nowhere.GetUserDataDir(&path));
  EXPECT_FALSE(nowhere.IsAssociationOurs(L"http", false));
}

TEST(ProductEnvironmentTest, SingleProfileKeepsItsProfileInTheInstallation) {
  base::TempTree tree;
  FolderProductEnvironment single(WritePrefs(
      tree, R"({"profile_path": "D:\\Fixed", "single_profile": true})"));
  EXPECT_TRUE(single.IsSingleProfile());
  FilePath path;
  for (auto get : {&ProductEnvironment::GetUserDataDir,
                   &ProductEnvironment::GetUserDataDirForStream}) {
    ASSERT_TRUE((single.*get)(&path));
    EXPECT_EQ(tree.Path(L"profile\\data"), path);
  }
  ASSERT_TRUE(single.GetProfileDir(&path));
  EXPECT_EQ(tree.Path(L"profile"), path);
}

// An install log as the writer lays it out.
constexpr char kInstallLogXml[] = R"(<?xml version="1.0"?>
<install_log version="45.0.1.2" copy_only="True" all_users="False" pinned="False" app_id="Tärvo.9f86d081">
 <path subfolder="Application">C:\Tarvo\Application</path>
 <files>
  <file>tarvo.exe</file>
 </files>
 <shortcut type="SC_DEST_DESKTOP">C:\Desktop\Tarvo.lnk</shortcut>
</install_log>
)";

TEST(ProductEnvironmentTest, IdentityComesFromTheInstallLogReadOnce) {
  base::TempTree tree;
  tree.WriteFile(kInstallLogName, kInstallLogXml);
  FolderProductEnvironment environment(tree.root());
  EXPECT_EQ(InstallLog(), environment.install_log());
  EXPECT_EQ(L"TarvoSoftware.TarvoWebBrowser.T\u00e4rvo.9f86d081",
            environment.GetApplicationId());
  EXPECT_EQ(L"Autoupdate T\u00e4rvo.9f86d081", environment.GetAutoupdateName());
  EXPECT_TRUE(environment.IsCopyOnly());
  EXPECT_FALSE(environment.install_log().all_users);
  tree.WriteFile(kInstallLogName, "<install_log/>");
  EXPECT_EQ(L"Autoupdate T\u00e4rvo.9f86d081", environment.GetAutoupdateName());
}

TEST(ProductEnvironmentTest, GivenInstallLogIsKeptAndTheFileNeverRead) {
  base::TempTree tree;
  tree.WriteFile(kInstallLogName, kInstallLogXml);
  InstallLog given;
  given.app_id = "given";
  FolderProductEnvironment environment(tree.root(), given);
  EXPECT_FALSE(environment.IsCopyOnly());
  EXPECT_EQ(L"TarvoSoftware.TarvoWebBrowser.given",
            environment.GetApplicationId());
  EXPECT_EQ(L"Autoupdate given", environment.GetAutoupdateName());
  EXPECT_EQ(given, environment.install_log());
}

TEST(ProductEnvironmentTest, UnreadableInstallLogLeavesTheDefaults) {
  for (const char* content : {"", "<install_log copy_only=\"True\""}) {
    SCOPED_TRACE(content);
    base::TempTree tree;
    if (*content)
      tree.WriteFile(kInstallLogName, content);
    FolderProductEnvironment environment(tree.root());
    EXPECT_FALSE(environment.IsCopyOnly());
    EXPECT_EQ(L"TarvoSoftware.TarvoWebBrowser.",
              environment.GetApplicationId());
    EXPECT_EQ(L"Autoupdate ", environment.GetAutoupdateName());
    EXPECT_EQ(InstallLog(), environment.install_log());
  }
}

}  // namespace
}  // namespace installer

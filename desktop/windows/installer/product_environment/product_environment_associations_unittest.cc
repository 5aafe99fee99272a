#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/temp_tree.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product_environment/folder_product_environment.h"
#include "desktop/windows/installer/shell/system_association_shell.h"
#include "desktop/windows/installer/test/recording_association_shell.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::win::RegistryKey;
using base::win::WindowsVersion;
using test::RecordingAssociationShell;
using Calls = std::vector<std::wstring>;

constexpr wchar_t kInstallDir[] = L"C:\\Program Files\\Tarvo";
constexpr wchar_t kProtocolCommand[] =
    L"\"C:\\Program Files\\Tarvo\\launcher.exe\" -noautoupdate -- \"%1\"";
constexpr wchar_t kOtherCommand[] = L"\"C:\\Other\\browser.exe\" \"%1\"";
constexpr wchar_t kStartMenuKey[] = L"Software\\Clients\\StartMenuInternet";

constexpr wchar_t kOpenWithHttp[] = L"ShowOpenWithDialog(http, 0x4a)";
constexpr wchar_t kNotify[] = L"NotifyAssociationChanged()";
constexpr wchar_t kQueryStartMenu[] =
    L"QueryAppIsDefault(StartmenuInternet, 2, 1, Tarvo developer)";
constexpr wchar_t kSetStartMenu[] =
    L"SetAppAsDefault(Tarvo developer, StartmenuInternet, 2)";

std::wstring SetAppAsDefault(const std::wstring& association) {
  return L"SetAppAsDefault(Tarvo developer, " + association +
         (association[0] == L'.' ? L", 0)" : L", 1)");
}

std::wstring OpenSettings(const std::wstring& target) {
  return L"ActivateApplication(windows.immersivecontrolpanel_cw5n1h2txyewy"
         L"!microsoft.windows.immersivecontrolpanel, "
         L"page=SettingsPageAppsDefaults, "
         L"page=SettingsPageAppsDefaults&target=" +
         target + L")";
}

// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE pointed at keys that hold only
// their classes, and HKEY_CLASSES_ROOT at the user's classes: Windows shows
// those over the machine's there, where Wine shows the machine's alone.
// (The machine's classes are there as on any machine: creating a key right
// below a root checks the root's access list by name, which Wine refuses
// to give, error 87.)
class IsolatedRegistry {
 public:
  IsolatedRegistry()
      : machine_classes_(HKEY_LOCAL_MACHINE,
                         L"Software\\Classes",
                         KEY_ALL_ACCESS),
        user_classes_(HKEY_CURRENT_USER, L"Software\\Classes", KEY_ALL_ACCESS) {
    EXPECT_EQ(ERROR_SUCCESS,
              RegOverridePredefKey(HKEY_CLASSES_ROOT, user_classes_.Handle()));
  }
  ~IsolatedRegistry() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }

 private:
  base::win::ScopedRegistryOverride machine_{HKEY_LOCAL_MACHINE};
  base::win::ScopedRegistryOverride user_{HKEY_CURRENT_USER};
  RegistryKey machine_classes_;
  RegistryKey user_classes_;
};

void WriteString(HKEY root,
                 const std::wstring& key_path,
                 const wchar_t* name,
                 const std::wstring& data) {
  RegistryKey key(root, key_path.c_str(), KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, key.WriteString(name, data.c_str())) << key_path;
}

// The value, "<none>" when it cannot be read.
std::wstring ReadString(HKEY root,
                        const std::wstring& key_path,
                        const wchar_t* name) {
  RegistryKey key(root, key_path.c_str(), KEY_QUERY_VALUE);
  std::wstring value;
  return key.ReadString(name, &value) == ERROR_SUCCESS ? value : L"<none>";
}

bool KeyExists(HKEY root, const std::wstring& key_path) {
  return RegistryKey(root, key_path.c_str(), KEY_QUERY_VALUE).Valid();
}

bool HasNoSubkeysOrValues(HKEY root, const std::wstring& key_path) {
  RegistryKey key(root, key_path.c_str(), KEY_QUERY_VALUE);
  DWORD subkeys = 1;
  DWORD values = 1;
  return key.Valid() &&
         RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &subkeys,
                          nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS &&
         subkeys == 0 && values == 0;
}

std::wstring UserChoiceKey(const std::wstring& association) {
  return (association[0] == L'.'
              ? L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                L"FileExts\\"
              : L"Software\\Microsoft\\Windows\\Shell\\Associations\\"
                L"UrlAssociations\\") +
         association + L"\\UserChoice";
}

// The user chose another program's class for the association; with
// `ours` that class runs this installation's launcher.
void ChooseHandler(const std::wstring& association, bool ours) {
  WriteString(HKEY_CURRENT_USER, UserChoiceKey(association), L"Progid",
              L"OtherBrowser");
  WriteString(HKEY_CURRENT_USER,
              L"Software\\Classes\\OtherBrowser\\shell\\open\\command", nullptr,
              ours ? kProtocolCommand : kOtherCommand);
}

InstallLog InstallLogFor(bool all_users) {
  InstallLog log;
  log.all_users = all_users;
  return log;
}

// An installation in kInstallDir whose association services are a
// recording stand-in pretending to be `version`.
struct TestInstallation {
  TestInstallation(WindowsVersion version, bool all_users)
      : shell(version),
        environment(FilePath(kInstallDir), InstallLogFor(all_users)) {
    environment.SetAssociationShellForTesting(&shell);
  }

  RecordingAssociationShell shell;
  FolderProductEnvironment environment;
};

enum class Written { kNowhere, kForUser, kForMachine };

// The handler key that the association's entries write first.
std::wstring HandlerKey(const std::wstring& association) {
  return L"Software\\Classes\\" + association;
}

// The shell's services are the stand-in's, which also plays each version:
// Wine has no registration service or activation manager, and the Open-with
// dialog would show a window. So the calls are checked, not their effect.
TEST(ProductEnvironmentAssociationsTest, EachWindowsVersionTakesItsOwnWay) {
  const std::wstring kBrowserPage =
      OpenSettings(L"SystemSettings_DefaultApps_Browser");
  // clang-format off
  const struct {
    WindowsVersion version;
    const wchar_t* association;
    bool all_users;  // The request's flag.
    bool all_users_installation;
    bool ours_before;
    bool shell_succeeds;
    bool result;
    Calls calls;
    Written written;
    bool user_choice_kept;
  } kCases[] = {
      // Vista and 7: the registry, and the service for an all-users
      // installation's user, whose choice then stays.
      {base::win::kVersionWin7, L"http", false, false, false, true, true, {},
       Written::kForUser, false},
      {base::win::kVersionVista, L".htm", false, false, false, true, true, {},
       Written::kForUser, false},
      {base::win::kVersionWin7, L"http", false, true, false, true, true,
       {SetAppAsDefault(L"http")}, Written::kForUser, true},
      {base::win::kVersionVista, L".htm", false, true, false, true, true,
       {SetAppAsDefault(L".htm")}, Written::kForUser, true},
      {base::win::kVersionWin7, L"http", false, true, false, false, false,
       {SetAppAsDefault(L"http")}, Written::kNowhere, true},
      {base::win::kVersionWin7, L"http", true, true, false, true, true, {},
       Written::kForMachine, true},
      // 8 and 8.1: the user picks in the Open-with dialog, unless the
      // browser already handles it; never for all users.
      {base::win::kVersionWin8_1, L"http", false, false, false, true, true,
       {kOpenWithHttp, kNotify}, Written::kForUser, true},
      {base::win::kVersionWin8, L"http", false, false, true, true, true, {},
       Written::kForUser, true},
      {base::win::kVersionWin8_1, L"http", false, false, false, false, false,
       {kOpenWithHttp}, Written::kNowhere, true},
      {base::win::kVersionWin8, L"http", true, true, false, true, false, {},
       Written::kNowhere, true},
      // 10 and later: the Settings app, at the page of the association;
      // nothing to open when the browser already handles it.
      {base::win::kVersionWin10, L"http", false, false, false, true, true,
       {kBrowserPage}, Written::kNowhere, true},
      {base::win::kVersionWin10Th2, L"MAILTO", false, false, false, true, true,
       {OpenSettings(L"SystemSettings_DefaultApps_Email")}, Written::kNowhere,
       true},
      {base::win::kVersionNewer, L".htm", false, false, false, true, true,
       {OpenSettings(L"SettingsPageAppsDefaultsProtocolView")},
       Written::kNowhere, true},
      {base::win::kVersionWin10, L"http", false, false, false, false, false,
       {kBrowserPage}, Written::kNowhere, true},
      {base::win::kVersionWin10, L"http", false, false, true, true, false, {},
       Written::kNowhere, true},
      {base::win::kVersionWin10, L"http", true, true, false, true, false, {},
       Written::kNowhere, true},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << "version " << c.version << " " << c.association
                 << (c.all_users ? " for all users" : " for the user"));
    IsolatedRegistry registry;
    ChooseHandler(c.association, c.ours_before);
    TestInstallation installation(c.version, c.all_users_installation);
    installation.shell.set_succeeds(c.shell_succeeds);

    EXPECT_EQ(c.result, installation.environment.MakeDefaultForAssociation(
                            c.association, c.all_users));
    EXPECT_EQ(c.calls, installation.shell.calls());
    EXPECT_EQ(c.written == Written::kForUser,
              KeyExists(HKEY_CURRENT_USER, HandlerKey(c.association)));
    EXPECT_EQ(c.written == Written::kForMachine,
              KeyExists(HKEY_LOCAL_MACHINE, HandlerKey(c.association)));
    EXPECT_EQ(
        c.user_choice_kept ? L"OtherBrowser" : L"<none>",
        ReadString(HKEY_CURRENT_USER, UserChoiceKey(c.association), L"Progid"));
  }
}

// The stand-in shows that no service is even asked.
TEST(ProductEnvironmentAssociationsTest, UnsafeAssociationIsRefused) {
  for (const std::wstring& association :
       {std::wstring(), std::wstring(L"a\\..\\b"), std::wstring(L"a\0b", 3)}) {
    IsolatedRegistry registry;
    for (WindowsVersion version :
         {base::win::kVersionWin7, base::win::kVersionWin10}) {
      TestInstallation installation(version, false);
      EXPECT_FALSE(installation.environment.MakeDefaultForAssociation(
          association, false));
      EXPECT_EQ(Calls(), installation.shell.calls());
    }
    EXPECT_TRUE(HasNoSubkeysOrValues(HKEY_CURRENT_USER, L"Software\\Classes"));
  }
}

// The stand-in shows that no service is even asked.
TEST(ProductEnvironmentAssociationsTest, SingleProfileInstallationStaysPut) {
  IsolatedRegistry registry;
  base::TempTree tree;
  tree.WriteFile(kInstallerPrefsName, R"({"single_profile": true})");
  RecordingAssociationShell shell(base::win::kVersionWin7);
  FolderProductEnvironment environment(tree.root(), InstallLog());
  environment.SetAssociationShellForTesting(&shell);
  EXPECT_FALSE(environment.MakeDefaultBrowser(false));
  EXPECT_EQ(Calls(), shell.calls());
  EXPECT_TRUE(HasNoSubkeysOrValues(HKEY_CURRENT_USER, L"Software\\Classes"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Clients"));
}

// The service's answer is the stand-in's: Wine's answers E_NOTIMPL.
TEST(ProductEnvironmentAssociationsTest, StartMenuClientIsReadWhereItIsKept) {
  // clang-format off
  const struct {
    WindowsVersion version;
    bool all_users_installation;
    const wchar_t* user_client;     // Null: the user has no key at all.
    const wchar_t* machine_client;  // Null: no value.
    bool is_default;                // What the service answers.
    bool expected;
    Calls calls;
  } kCases[] = {
      {base::win::kVersionWin10, false, L"Tarvodeveloper", L"Other", false,
       true, {}},
      // The name is compared exactly.
      {base::win::kVersionWin10, false, L"tarvodeveloper", nullptr, false,
       false, {}},
      {base::win::kVersionWin10, false, L"Other", L"Tarvodeveloper", false,
       false, {}},
      // A user without a choice of their own has the machine's.
      {base::win::kVersionWin10, false, L"", L"Tarvodeveloper", false, true,
       {}},
      {base::win::kVersionWin10, false, nullptr, L"Tarvodeveloper", false,
       true, {}},
      {base::win::kVersionXp, true, L"Tarvodeveloper", nullptr, false, true,
       {}},
      // An all-users installation asks the service from Vista on.
      {base::win::kVersionWin7, true, L"Tarvodeveloper", nullptr, false, false,
       {kQueryStartMenu}},
      {base::win::kVersionVista, true, nullptr, nullptr, true, true,
       {kQueryStartMenu}},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.version << " " << (c.user_client ? c.user_client : L"-")
                 << " " << (c.machine_client ? c.machine_client : L"-"));
    IsolatedRegistry registry;
    if (c.user_client && *c.user_client) {
      WriteString(HKEY_CURRENT_USER, kStartMenuKey, nullptr, c.user_client);
    } else if (c.user_client) {
      ASSERT_TRUE(
          RegistryKey(HKEY_CURRENT_USER, kStartMenuKey, KEY_SET_VALUE).Valid());
    }
    if (c.machine_client)
      WriteString(HKEY_LOCAL_MACHINE, kStartMenuKey, nullptr, c.machine_client);
    TestInstallation installation(c.version, c.all_users_installation);
    installation.shell.set_is_default(c.is_default);
    EXPECT_EQ(c.expected, installation.environment.IsDefaultStartMenuClient());
    EXPECT_EQ(c.calls, installation.shell.calls());
  }
}

// The service is the stand-in: Wine's answers E_NOTIMPL.
TEST(ProductEnvironmentAssociationsTest, StartMenuClientIsRegistered) {
  // clang-format off
  const struct {
    WindowsVersion version;
    bool all_users;
    bool all_users_installation;
    bool shell_succeeds;
    bool result;
    Calls calls;
    Written written;
  } kCases[] = {
      {base::win::kVersionWin10, false, true, true, true, {},
       Written::kForUser},
      {base::win::kVersionWin8, true, true, true, false, {}, Written::kNowhere},
      {base::win::kVersionWin7, false, true, false, false, {kSetStartMenu},
       Written::kNowhere},
  };
  // clang-format on
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.version << " " << c.all_users);
    IsolatedRegistry registry;
    TestInstallation installation(c.version, c.all_users_installation);
    installation.shell.set_succeeds(c.shell_succeeds);
    EXPECT_EQ(c.result,
              installation.environment.RegisterStartMenuClient(c.all_users));
    EXPECT_EQ(c.calls, installation.shell.calls());
    EXPECT_EQ(c.written == Written::kForUser ? L"Tarvodeveloper" : L"<none>",
              ReadString(HKEY_CURRENT_USER, kStartMenuKey, nullptr));
    EXPECT_EQ(c.written == Written::kForMachine ? L"Tarvodeveloper" : L"<none>",
              ReadString(HKEY_LOCAL_MACHINE, kStartMenuKey, nullptr));
  }
}

// The real services, as far as Wine has them: the registration service
// answers E_NOTIMPL and the activation manager is not registered, so only
// the handling of their failure shows here. The Open-with dialog is never
// called: it would show a window.
TEST(ProductEnvironmentAssociationsTest, SystemServicesFailWhereWineLacksThem) {
  AssociationShell* shell = GetSystemAssociationShell();
  EXPECT_EQ(shell, GetSystemAssociationShell());
  EXPECT_EQ(base::win::GetWindowsVersion(), shell->windows_version());
  EXPECT_FALSE(shell->QueryAppIsDefault(
      L"StartmenuInternet", AT_STARTMENUCLIENT, AL_EFFECTIVE, L"Tarvo test"));
  EXPECT_FALSE(
      shell->SetAppAsDefault(L"Tarvo test", L"tarvo-test", AT_URLPROTOCOL));
  // An application that does not exist, so that nothing opens even where
  // the manager is registered.
  EXPECT_FALSE(shell->ActivateApplication(L"TarvoTest.NoSuchApp!App",
                                          {L"page=SettingsPageAppsDefaults"}));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/settings/settings_switches.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/child_output.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ParseBoolSwitchValueTest, ReadsValuesAsTheBackendDoes) {
  struct Case {
    const wchar_t* value;
    bool expected;
  } const kCases[] = {
      {L"", false},      {L"0", false},
      {L"1", true},      {L"yes", true},
      {L"YES", true},    {L"True", true},
      {L"tRUE", true},   {L"no", false},
      {L"false", false}, {L"2", true},
      {L"-1", true},     {L"+3", true},
      {L"0x1", false},   {L" 1", true},
      {L"\t7", true},    {L"00", false},
      {L"007", true},    {L"1abc", true},
      {L"abc", false},   {L"-", false},
      {L"yes ", false},  {L"99999999999999999999", true},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(c.expected, ParseBoolSwitchValue(c.value)) << c.value;
}

using Fields = std::map<std::string, std::string>;

// The fields a backend must agree on, named as the probe prints them. The
// assistant flag stays with the front end, which fetches the assistant.
Fields FieldsOf(const Settings& settings) {
  Fields fields;
  fields["operation"] = std::to_string(settings.operation());
  for (int32_t flag = 0; flag < kSettingsFlagCount; ++flag) {
    if (flag != INSTALL_ASSISTANT) {
      fields[std::string("flag ") + SettingsFlagName(flag)] =
          settings.GetFlag(flag) ? "1" : "0";
    }
  }
  fields["language"] = base::WideToUtf8(settings.install_language());
  fields["install_folder"] = settings.GetStatus()->install_folder.AsUTF8();
  fields["profile_folder"] = settings.profile_folder().AsUTF8();
  fields["niuid"] = settings.niuid();
  return fields;
}

// Runs the probe with `command_line` and keeps the fields of `wanted`.
Fields RunProbe(const base::FilePath& probe,
                base::CommandLine command_line,
                const Fields& wanted) {
  command_line.SetProgram(probe);
  std::string output;
  EXPECT_TRUE(base::RunChildAndReadOutput(
      probe.value(), command_line.GetCommandLineString(), &output))
      << output;
  Fields fields;
  for (const std::string& line : base::SplitOutputLines(output)) {
    size_t split = line.find(' ');
    if (line.compare(0, 5, "flag ") == 0)
      split = line.find(' ', split + 1);
    if (split == std::string::npos)
      continue;
    const std::string name = line.substr(0, split);
    if (wanted.count(name))
      fields[name] = line.substr(split + 1);
  }
  return fields;
}

base::FilePath ProbePath() {
  base::FilePath exe_dir;
  base::GetPathForKey(base::kExeDir, &exe_dir);
  return exe_dir.Append(L"installer").Append(L"settings_probe.exe");
}

struct RoundTripCase {
  const char* name;
  std::vector<std::wstring> switches;
  bool uninstall = false;
  bool silent = false;
  bool autoupdate = false;
  bool replace_old_installation = false;
  // "" a new folder, else the existing installation "installed" (or the
  // copy-only one "standalone").
  const wchar_t* installation = L"";
  std::function<void(Settings&)> change;
  bool suppress_launch = false;
};

Settings::Operation ExpectedOperation(const RoundTripCase& c) {
  if (c.uninstall)
    return Settings::kUninstalling;
  return *c.installation ? Settings::kUpgrading : Settings::kInstalling;
}

class SettingsRoundTripTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(base::PathExists(ProbePath())) << "settings_probe.exe must be "
                                                  "built beside the tests";
    WriteInstallLog(tree_, L"installed", false);
    WriteInstallLog(tree_, L"standalone", true);
  }

  void RunCase(const RoundTripCase& c) {
    SCOPED_TRACE(c.name);
    SetCommandLine(c.switches);
    const base::FilePath folder =
        *c.installation ? tree_.Path(c.installation) : kNewFolder();
    Settings settings(c.uninstall, c.silent, c.autoupdate,
                      c.uninstall ? base::FilePath() : folder,
                      c.replace_old_installation, Settings::kArchitectureX86);
    WaitForStatus(settings);
    if (c.uninstall) {
      ASSERT_TRUE(settings.SetInstallFolderIfAllowed(folder));
      WaitForStatus(settings);
    }
    if (c.change)
      c.change(settings);
    WaitForStatus(settings);
    ASSERT_EQ(ExpectedOperation(c), settings.operation());

    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    settings.ToCommandLine(&command_line, c.suppress_launch);
    Fields expected = FieldsOf(settings);
    if (c.suppress_launch)
      expected["flag LAUNCH_TARVO"] = "0";
    EXPECT_EQ(expected, RunProbe(ProbeFor(c, folder), command_line, expected))
        << base::WideToUtf8(command_line.GetCommandLineString());
  }

 private:
  base::FilePath kNewFolder() const {
    return tree_.Path(L"T\u00e4rv\u00f6 \u65e5\u672c folder");
  }

  // An uninstalling backend works on the installation it runs from.
  base::FilePath ProbeFor(const RoundTripCase& c,
                          const base::FilePath& folder) {
    if (!c.uninstall)
      return ProbePath();
    const base::FilePath copy = folder.Append(L"settings_probe.exe");
    EXPECT_TRUE(
        ::CopyFileW(ProbePath().value().c_str(), copy.value().c_str(), FALSE));
    tree_.WriteFile((std::wstring(c.installation) + L"\\launcher.exe").c_str(),
                    "");
    return copy;
  }

  base::TempTree tree_;
};

TEST_F(SettingsRoundTripTest, BackendRebuildsTheSameSettings) {
  const std::vector<RoundTripCase> cases = {
      {.name = "defaults"},
      {.name = "language, niuid, profile folder",
       .switches = {L"--language=de", L"--niuid={A1-b2_C3}",
                    L"--profile-folder=C:\\Profiles\\J\u00fcrgen \u00c4"}},
      {.name = "switches off",
       .switches = {L"--allusers=0", L"--desktopshortcut=0",
                    L"--startmenushortcut=0", L"--pintotaskbar=0",
                    L"--import-browser-data=0", L"--enable-stats=0",
                    L"--launchtarvo=0"}},
      {.name = "switches on",
       .switches = {L"--setdefaultbrowser=1", L"--quicklaunchshortcut=1",
                    L"--singleprofile=1", L"--enable-installer-stats=1",
                    L"--enable-stats=0"}},
      {.name = "copy only", .switches = {L"--copyonly=1"}},
      {.name = "copy only, shared profile",
       .switches = {L"--copyonly=1", L"--singleprofile=0"}},
      {.name = "silent autoupdate replacing the former generation",
       .silent = true,
       .autoupdate = true,
       .replace_old_installation = true},
      {.name = "suppressed launch", .suppress_launch = true},
      {.name = "every setter",
       .change =
           [](Settings& s) {
             s.SetAllUsers(false);
             s.SetDefaultBrowser(true);
             s.SetEnableStats(false);
             s.SetEnableInstallerStats(true);
             s.SetImportBrowserData(false);
             s.SetFlag(SINGLE_PROFILE, true);
             s.SetFlag(LAUNCH_TARVO, false);
             s.SetFlag(DESKTOP_SHORTCUT, false);
             s.SetFlag(START_MENU_SHORTCUT, false);
             s.SetFlag(QUICK_LAUNCH_SHORTCUT, true);
             s.SetFlag(PINNED_SHORTCUT, false);
             s.SetLanguage(L"fr");
             s.SetNiuid("{0000-1111}");
           }},
      {.name = "standalone mode",
       .change = [](Settings& s) { s.SetMode(Settings::kStandaloneMode); }},
      {.name = "current-user mode",
       .change = [](Settings& s) { s.SetMode(Settings::kCurrentUserMode); }},
      {.name = "upgrade", .installation = L"installed"},
      {.name = "upgrade with changed shortcuts",
       .installation = L"installed",
       .change =
           [](Settings& s) {
             s.SetFlag(DESKTOP_SHORTCUT, true);
             s.SetFlag(START_MENU_SHORTCUT, true);
             s.SetFlag(QUICK_LAUNCH_SHORTCUT, true);
             s.SetFlag(PINNED_SHORTCUT, false);
             s.SetDefaultBrowser(true);
           }},
      {.name = "upgrade of a standalone installation",
       .installation = L"standalone"},
      {.name = "uninstall keeping the profile",
       .uninstall = true,
       .installation = L"installed"},
      {.name = "uninstall deleting the profile",
       .uninstall = true,
       .installation = L"standalone",
       .change = [](Settings& s) { s.SetDeleteProfile(true); }},
  };
  for (const RoundTripCase& c : cases)
    RunCase(c);
}

// Each flag a user can change, alone against the defaults.
TEST_F(SettingsRoundTripTest, EachFlagAloneTravels) {
  constexpr SettingsFlag kFlags[] = {
      SINGLE_PROFILE,         LAUNCH_TARVO,        ALL_USERS_FLAG,
      DEFAULT_BROWSER,        IMPORT_BROWSER_DATA, ENABLE_TARVO_STATS,
      ENABLE_INSTALLER_STATS, DESKTOP_SHORTCUT,    START_MENU_SHORTCUT,
      QUICK_LAUNCH_SHORTCUT,  PINNED_SHORTCUT,
  };
  for (SettingsFlag flag : kFlags) {
    RunCase({.name = SettingsFlagName(flag), .change = [flag](Settings& s) {
               s.SetFlag(flag, !s.GetFlag(flag));
             }});
  }
}

using SettingsToCommandLineTest = SettingsTest;

TEST_F(SettingsToCommandLineTest, WritesOnlyWhatTheOperationNeeds) {
  base::TempTree tree;
  WriteInstallLog(tree, L"installed", false);
  struct Case {
    const char* name;
    std::vector<std::wstring> switches;
    const wchar_t* folder;
    std::vector<std::string> present;
    std::vector<std::string> absent;
  } const kCases[] = {
      {"upgrade",
       {},
       L"installed",
       {"install", "launchtarvo", "desktopshortcut", "niuid"},
       {"singleprofile", "copyonly", "allusers"}},
      {"copy only",
       {L"--copyonly=1"},
       L"new",
       {"copyonly", "singleprofile"},
       {"allusers", "setdefaultbrowser", "desktopshortcut", "startmenushortcut",
        "quicklaunchshortcut", "pintotaskbar"}},
      {"handed on from the own command line",
       {L"--initial-pid=42", L"--temp-folder=C:\\t m p", L"--components=a,b",
        L"--v=2", L"--server-tracking-data=C:\\std", L"--import-session=1",
        L"--with-feature:x=on"},
       L"new",
       {"initial-pid", "temp-folder", "components", "v", "server-tracking-data",
        "import-session"},
       {"import-bookmarks", "uninstall", "with-feature:x"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    SetCommandLine(c.switches);
    std::unique_ptr<Settings> settings = MakeSettings(tree.Path(c.folder));
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    settings->ToCommandLine(&command_line, false);
    for (const std::string& name : c.present)
      EXPECT_TRUE(command_line.HasSwitch(name.c_str())) << name;
    for (const std::string& name : c.absent)
      EXPECT_FALSE(command_line.HasSwitch(name.c_str())) << name;
  }
  // Values pass through unchanged.
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  MakeSettings(tree.Path(L"new"))->ToCommandLine(&command_line, false);
  EXPECT_EQ(L"C:\\t m p", command_line.GetSwitchValueNative("temp-folder"));
  EXPECT_EQ(L"2", command_line.GetSwitchValueNative("v"));
}

TEST_F(SettingsToCommandLineTest, EmptyNiuidIsStillWritten) {
  base::TempTree tree;
  std::unique_ptr<Settings> settings = MakeSettings(tree.Path(L"new"));
  ASSERT_TRUE(settings->SetNiuid(""));
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  settings->ToCommandLine(&command_line, true);
  EXPECT_TRUE(command_line.HasSwitch("niuid"));
  EXPECT_EQ(L"", command_line.GetSwitchValueNative("niuid"));
  EXPECT_EQ(L"0", command_line.GetSwitchValueNative("launchtarvo"));
}

TEST_F(SettingsToCommandLineTest, NoOperationWritesOnlyTheRole) {
  SetCommandLine({L"--initial-pid=7"});
  // A drive letter Wine does not map: not a valid folder.
  std::unique_ptr<Settings> settings =
      MakeSettings(base::FilePath(L"Q:\\nowhere\\folder"));
  ASSERT_EQ(Settings::kNoOperation, settings->operation());
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  settings->ToCommandLine(&command_line, false);
  const base::CommandLine::SwitchMap expected = {{"backend", L""},
                                                 {"initial-pid", L"7"}};
  EXPECT_EQ(expected, command_line.GetSwitches());
}

}  // namespace
}  // namespace installer

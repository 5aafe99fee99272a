#include "desktop/windows/installer/settings/settings_switches.h"

#include <cstddef>
#include <iterator>

#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

constexpr size_t kMaxNiuidLength = 64;

constexpr const char* kImportSwitches[] = {
    switches::kImportBookmarks,
    switches::kImportSession,
    switches::kImportTopSites,
};

// Handed on to the backend with their values as they are.
constexpr const char* kCopiedSwitches[] = {
    switches::kInitialPid,
    switches::kTempFolder,
};

// Written as "=1" or "=0" for every install or upgrade.
struct FlagSwitch {
  SettingsFlag flag;
  const char* name;
};
constexpr FlagSwitch kStatsSwitches[] = {
    {IMPORT_BROWSER_DATA, switches::kImportBrowserData},
    {ENABLE_TARVO_STATS, switches::kEnableStats},
    {ENABLE_INSTALLER_STATS, switches::kEnableInstallerStats},
};
constexpr FlagSwitch kShortcutSwitches[] = {
    {DEFAULT_BROWSER, switches::kSetDefaultBrowser},
    {START_MENU_SHORTCUT, switches::kStartMenuShortcut},
    {DESKTOP_SHORTCUT, switches::kDesktopShortcut},
    {QUICK_LAUNCH_SHORTCUT, switches::kQuickLaunchShortcut},
    {PINNED_SHORTCUT, switches::kPinToTaskbar},
};

const wchar_t* BoolSwitchValue(bool value) {
  return value ? L"1" : L"0";
}

bool IsNiuidCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
         (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' || c == L'{' ||
         c == L'}';
}

// Blanks first, then an optional sign and digits up to the first other
// character, as the C library's integer reading does. Only whether the
// number is 0 matters, so no digit can overflow it.
bool LeadingIntegerIsNonZero(const std::wstring& value) {
  size_t i = 0;
  while (i < value.size() &&
         (value[i] == L' ' || (value[i] >= L'\t' && value[i] <= L'\r'))) {
    ++i;
  }
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-'))
    ++i;
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    if (value[i] != L'0')
      return true;
  }
  return false;
}

}  // namespace

const base::CommandLine& GetProcessCommandLine() {
  if (const base::CommandLine* current =
          base::CommandLine::ForCurrentProcess()) {
    return *current;
  }
  static const base::CommandLine empty(base::CommandLine::NO_PROGRAM);
  return empty;
}

bool ParseBoolSwitchValue(const std::wstring& value) {
  if (value.empty())
    return false;
  if (base::WideLowerCaseEqualsAscii(value, "yes") ||
      base::WideLowerCaseEqualsAscii(value, "true")) {
    return true;
  }
  return LeadingIntegerIsNonZero(value);
}

bool IsValidNiuid(const std::wstring& niuid) {
  if (niuid.size() > kMaxNiuidLength)
    return false;
  for (wchar_t c : niuid) {
    if (!IsNiuidCharacter(c))
      return false;
  }
  return true;
}

void CopyImportSwitches(base::CommandLine* command_line) {
  command_line->CopySelectedSwitches(GetProcessCommandLine(), kImportSwitches,
                                     std::size(kImportSwitches));
}

bool Settings::ApplyBoolSwitch(int32_t flag,
                               const char* switch_name,
                               const base::CommandLine& command_line) {
  if (!command_line.HasSwitch(switch_name))
    return false;
  flags_.set(flag, ParseBoolSwitchValue(
                       command_line.GetSwitchValueNative(switch_name)));
  return true;
}

void Settings::ToCommandLine(base::CommandLine* command_line,
                             bool suppress_launch) const {
  const base::CommandLine& own = GetProcessCommandLine();
  command_line->AppendSwitch(switches::kBackend);
  if (GetFlag(SILENT))
    command_line->AppendSwitch(switches::kSilent);
  command_line->CopySelectedSwitches(own, kCopiedSwitches,
                                     std::size(kCopiedSwitches));
  if (own.HasSwitch(switches::kComponents)) {
    command_line->AppendSwitchASCII(
        switches::kComponents, own.GetSwitchValueASCII(switches::kComponents));
  }
  if (own.HasSwitch(switches::kVerbosity)) {
    command_line->AppendSwitchNative(
        switches::kVerbosity, own.GetSwitchValueNative(switches::kVerbosity));
  }

  if (operation_ == kInstalling || operation_ == kUpgrading) {
    const bool installing = operation_ == kInstalling;
    command_line->AppendSwitch(switches::kInstall);
    if (GetFlag(AUTOUPDATE))
      command_line->AppendSwitch(switches::kAutoupdate);
    for (const FlagSwitch& entry : kStatsSwitches) {
      command_line->AppendSwitchNative(entry.name,
                                       BoolSwitchValue(GetFlag(entry.flag)));
    }
    command_line->AppendSwitchNative(
        switches::kLaunchTarvo,
        BoolSwitchValue(!suppress_launch && GetFlag(LAUNCH_TARVO)));
    command_line->AppendSwitchPath(switches::kInstallFolder,
                                   status_->install_folder);
    command_line->AppendSwitchPath(switches::kProfileFolder, profile_folder_);
    command_line->AppendSwitchASCII(switches::kNiuid, niuid_);
    if (!install_language_.empty())
      command_line->AppendSwitchNative(switches::kLanguage, install_language_);
    // An upgrade keeps the choices the backend reads from the installation.
    if (installing) {
      command_line->AppendSwitchNative(
          switches::kSingleProfile, BoolSwitchValue(GetFlag(SINGLE_PROFILE)));
      command_line->AppendSwitchNative(switches::kCopyOnly,
                                       BoolSwitchValue(GetFlag(COPY_ONLY)));
    }
    if (!GetFlag(COPY_ONLY)) {
      if (installing) {
        command_line->AppendSwitchNative(
            switches::kAllUsers, BoolSwitchValue(GetFlag(ALL_USERS_FLAG)));
      }
      for (const FlagSwitch& entry : kShortcutSwitches) {
        command_line->AppendSwitchNative(entry.name,
                                         BoolSwitchValue(GetFlag(entry.flag)));
      }
      if (GetFlag(REPLACE_KILNOR_INSTALLATION))
        command_line->AppendSwitch(switches::kReplaceKilnorInstallation);
    }
    if (own.HasSwitch(switches::kServerTrackingData)) {
      command_line->AppendSwitchPath(
          switches::kServerTrackingData,
          own.GetSwitchValuePath(switches::kServerTrackingData));
    }
    base::AppendFeatureSwitches(command_line);
    CopyImportSwitches(command_line);
  } else if (operation_ == kUninstalling) {
    command_line->AppendSwitch(switches::kUninstall);
    command_line->AppendSwitchNative(switches::kDeleteUserProfile,
                                     BoolSwitchValue(GetFlag(DELETE_PROFILE)));
  }
  VLOG(1) << "Settings as command line: "
          << command_line->GetCommandLineString().c_str();
}

}  // namespace installer

#include "desktop/windows/installer/entry/help_printer.h"

#include <windows.h>

#include <cstdio>
#include <iterator>

#include "base/features/command_line_feature_reader.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/entry/console_output.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {
namespace {

// Descriptions and defaults are printf patterns whose optional single "%s"
// is the product name. The texts are printed as they stand, slips included.
struct HelpOption {
  const char* switch_name;
  const char* placeholder;  // null: the switch takes no value
  const char* description;
  const char* default_value;  // null: no default is printed
};

constexpr char kBooleanValue[] = "[0|1]";

constexpr HelpOption kHelpOptions[] = {
    {"silent", nullptr,
     "Run the installer fully unattended. No dialog will be displayed in this "
     "mode. If it isn't running with sufficient privileges, the installer "
     "will fail instead of prompting the user.",
     nullptr},
    {"runimmediately", nullptr,
     "Run the installer mostly unattended. The installation will start "
     "immediately and the progress dialog will be displayed. The installer "
     "will prompt the user for elevation if needed.",
     nullptr},
    {"language", "LANGUAGE",
     "Install %s in the specified language.This language will also be used "
     "during installation.",
     "The Operating system UI language."},
    {"installfolder", "FOLDER", "Install %s in the specified folder.", nullptr},
    {"allusers", kBooleanValue,
     "If true, install %s for all users on the system.",
     "True when running from an administrative acount."},
    {"copyonly", kBooleanValue,
     "If true, the installer will only copy the files to the installation "
     "folder and will otherwise not perform any modification on the system.",
     "False."},
    {"singleprofile", kBooleanValue,
     "If true, the installer will set up %s to use a singleprofile located in "
     "the installation folder.",
     "False."},
    {"setdefaultbrowser", kBooleanValue,
     "If true, make %s the default browser for this user or computer.",
     "True for %s Stable."},
    {"desktopshortcut", kBooleanValue,
     "If true, create a shortcut for %s on the desktop.", "True."},
    {"startmenushortcut", kBooleanValue,
     "If true, create a shortcut for %s on the start menu.", "True."},
    {"quicklaunchshortcut", kBooleanValue,
     "If true, create a shortcut for %s on the quick launch menu.",
     "False on Window 7 and later. True otherwise"},
    {"pintotaskbar", kBooleanValue, "If true, pin %s to the taskbar.",
     "True on Window 7 and later. False otherwise."},
    {"import-browser-data", kBooleanValue,
     "If true, %s is set up to import user data from the previously default "
     "browser when creating new user profiles.",
     "True."},
    {"enable-stats", kBooleanValue,
     "If true, %s will by default gather and report statistics.", "True."},
    {"enable-installer-stats", kBooleanValue,
     "If true, installer will by default gather and report statistics.",
     "True."},
    {"launchbrowser", kBooleanValue,
     "If true, %s is launched once the installation is completed.", "True."},
};

static_assert(std::size(kHelpOptions) == 16);

void AppendOption(const HelpOption& option,
                  const std::string& product_name,
                  std::string* text) {
  base::AppendFormat(text, "  %s", option.switch_name);
  if (option.placeholder)
    base::AppendFormat(text, "=%s", option.placeholder);
  const std::string description =
      base::FormatString(option.description, product_name.c_str());
  base::AppendFormat(text, "\n    %s\n", description.c_str());
  if (option.default_value) {
    const std::string default_value =
        base::FormatString(option.default_value, product_name.c_str());
    base::AppendFormat(text, "    Default value: %s\n", default_value.c_str());
  }
}

// Reopens the standard output stream on a console: a new one, or the one
// the process already has (AllocConsole then fails, and CONOUT$ names it).
bool OpenConsoleOutput() {
  AllocConsole();
  if (!_wfreopen(L"CONOUT$", L"w", stdout))
    return false;
  setvbuf(stdout, nullptr, _IONBF, 0);
  return true;
}

}  // namespace

HelpTextContext GetHelpTextContext() {
  HelpTextContext context;
  context.product_name = GetProductName();
  context.version = GetVersionString();
  context.stream = GetStreamName();
  context.languages = LoadAvailableLanguages();
  context.feature_mask = base::GetProductChannelMask(GetUserAgentName());
  return context;
}

std::string BuildHelpText(const HelpTextContext& context) {
  std::string text;
  base::AppendFormat(&text, "%s Installer %s %s\n\n",
                     context.product_name.c_str(), context.version.c_str(),
                     context.stream.c_str());
  text += "The following command line parameters affect the behavior of the "
          "installer:\n";
  for (const HelpOption& option : kHelpOptions)
    AppendOption(option, context.product_name, &text);

  base::AppendFormat(&text, "\nLanguages available for the %s option:\n",
                     "language");
  const std::string languages =
      base::WideToUtf8(base::JoinWideStrings(context.languages, L", "));
  base::AppendFormat(&text, "%s\n", languages.c_str());

  text += "\nFeatures available through command-line switches:\n";
  for (const base::FeatureTableRow& row : base::GetInstallerFeatureTable()) {
    const std::string switch_name =
        base::CommandLineFeatureReader::SwitchName(row.name);
    const bool enabled =
        base::IsFeatureEnabledByDefault(row, context.feature_mask);
    base::AppendFormat(&text, "\t--%s [Enabled by default: %s]\n",
                       switch_name.c_str(), enabled ? "true" : "false");
  }
  return text;
}

void PrintHelp() {
  if (!OpenConsoleOutput())
    return;
  PrintToConsole("%s", BuildHelpText(GetHelpTextContext()).c_str());
  // Keeps the console open until a key is pressed. The system's own command
  // interpreter, by its full path: the one the environment names is the
  // user's to choose, and this role may run elevated.
  base::FilePath system;
  if (!base::GetPathForKey(base::kSystemDir, &system))
    return;
  base::ProcessLaunchOptions options;
  options.wait = true;
  // "/d": no AutoRun command of the registry runs first.
  base::LaunchProcess(
      L"\"" + system.Append(L"cmd.exe").value() + L"\" /d /c pause", options);
}

}  // namespace installer

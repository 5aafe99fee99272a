// Rebuilds the installer's settings from its own command line the way the
// backend process does, waits until the folder's status is adopted, and
// prints what it holds, one "name value" line each (UTF-8):
//   "operation <n>", "flag <NAME> 0|1" for every flag, "language <tag>",
//   "install_folder <path>", "profile_folder <path>", "niuid <text>",
//   "default_folder <path>", "registry_folder_x86 <path>",
//   "registry_folder_x64 <path>", "standalone_folder <path>" for each,
//   "stats <json>" (what the statistics get, under the prefix "settings.").
// The role switches are read as the entry reads them; "probe-x64" stands in
// for the entry's architecture choice.

#include <cstdio>
#include <string>

#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/json/json_writer.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "base/time/tick_time.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"

namespace {

class StatusWaiter : public installer::Settings::Observer {
 public:
  explicit StatusWaiter(base::LoopRunner* runner) : runner_(runner) {}
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override { runner_->Quit(); }

 private:
  base::LoopRunner* runner_;
};

void PrintLine(const char* name, const std::string& value) {
  std::printf("%s %s\n", name, value.c_str());
}

void PrintPath(const char* name, const base::FilePath& path) {
  PrintLine(name, path.AsUTF8());
}

void PrintSettings(const installer::Settings& settings) {
  std::printf("operation %d\n", settings.operation());
  for (int32_t flag = 0; flag < installer::kSettingsFlagCount; ++flag) {
    std::printf("flag %s %d\n", installer::SettingsFlagName(flag),
                settings.GetFlag(flag) ? 1 : 0);
  }
  PrintLine("language", base::WideToUtf8(settings.install_language()));
  PrintPath("install_folder", settings.GetStatus()->install_folder);
  PrintPath("profile_folder", settings.profile_folder());
  PrintLine("niuid", settings.niuid());
  PrintPath("default_folder", settings.GetDefaultInstallFolderForCurrentMode(
                                  installer::Settings::kFromAnySource));
  PrintPath("registry_folder_x86",
            installer::Settings::ReadInstallFolderFromRegistry(
                installer::Settings::kArchitectureX86));
  PrintPath("registry_folder_x64",
            installer::Settings::ReadInstallFolderFromRegistry(
                installer::Settings::kArchitectureX64));
  for (const base::FilePath& folder : settings.standalone_folders())
    PrintPath("standalone_folder", folder);
}

void PrintStats(const installer::Settings& settings) {
  base::DictionaryValue report;
  base::Lock lock;
  installer::StatsNode node(&report, &lock, base::TickTime::Now());
  settings.WriteStats(&node, "settings.");
  std::string json;
  if (base::WriteJson(report, &json))
    PrintLine("stats", json);
}

}  // namespace

int main() {
  if (!base::CommandLine::Init())
    return 1;
  base::ExitCallbackStack exit_callbacks;
  base::win::ScopedCOMInitializer com;
  base::MessageLoop loop;
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  namespace switches = installer::switches;

  installer::Settings settings(
      command_line.HasSwitch(switches::kUninstall),
      command_line.HasSwitch(switches::kSilent),
      command_line.HasSwitch(switches::kAutoupdate),
      command_line.GetSwitchValuePath(switches::kInstallFolder),
      command_line.HasSwitch(switches::kReplaceKilnorInstallation),
      command_line.HasSwitch("probe-x64")
          ? installer::Settings::kArchitectureX64
          : installer::Settings::kArchitectureX86);
  if (settings.IsStatusPending()) {
    base::LoopRunner runner;
    StatusWaiter waiter(&runner);
    settings.AddObserver(&waiter);
    runner.Run();
    settings.RemoveObserver(&waiter);
  }
  PrintSettings(settings);
  PrintStats(settings);
  return std::fflush(stdout) == 0 ? 0 : 2;
}

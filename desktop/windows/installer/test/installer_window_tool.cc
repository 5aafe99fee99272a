// The installer window in a process of its own, driven by a stand-in for the
// interactive controller, for the end-to-end tests that work it as a user
// would (with window_driver_tool) and take screenshots of its pages.
//
//   installer_window_tool [--run-immediately] [installer switches...]
//     Builds the settings from the installer switches of its command line
//     (e.g. --language=de, --installfolder=F, --uninstall) over an empty
//     registry of its own, waits for their status and shows the window. Prints "window 0xHWND" once it is up, and
//     one line for each call the window makes to its delegate ("OnAccept",
//     "OnCancel", "OnGetFullPackage"). On Accept it does what the controller
//     does: freezes the settings and starts the progress bar over 0..100.
//     Cancel and the full-package request end the run.
//
//     Commands from its input, run on the window's thread and answered with
//     "done COMMAND" once they have returned:
//       phase N          SetPhase(N)
//       progress N       SetProgress(N)
//       done             SetInstallationDone()
//       error OFFER TEXT ShowError(TEXT, OFFER == 1, "Injected failure"); the
//                        settings may be changed again, as after a failure
//       message TEXT     ShowMessageBox(TEXT) (modal: answered when closed)
//       page NAME        ShowPage (the terms page, whose link Wine's Rich Edit
//                        cannot show)
//       quit             ends the run
//     The end of the input ends the run too. At the end it prints "stats
//     JSON" (the statistics the window wrote) and "settings LANGUAGE FLAGS"
//     (the language tag and the set flags' names), then waits for its input
//     to end.

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_registry_override.h"
#include "base/threading/lock.h"
#include "base/threading/runnable_thread.h"
#include "base/time/tick_time.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/test/settings_status_waiter.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

namespace {

using installer::InstallerWindow;
using installer::Settings;

constexpr int kProgressTotal = 100;

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string HandleText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%llx",
                static_cast<unsigned long long>(
                    reinterpret_cast<uintptr_t>(window)));
  return text;
}

InstallerWindow::Page PageByName(const std::string& name) {
  for (int page = 0; page < InstallerWindow::kNoPage; ++page) {
    if (name == InstallerWindow::GetPageName(page))
      return static_cast<InstallerWindow::Page>(page);
  }
  return InstallerWindow::kNoPage;
}

// Plays the interactive controller for the window.
class FakeController : public InstallerWindow::Delegate {
 public:
  FakeController(Settings* settings, base::LoopRunner* loop_runner)
      : settings_(settings), loop_runner_(loop_runner) {}

  void set_window(InstallerWindow* window) { window_ = window; }

  void OnAccept() override {
    PrintLine("OnAccept");
    settings_->set_changeable(false);
    window_->StartProgress(0, kProgressTotal, false);
    window_->SetPhase(0);
  }
  void OnCancel() override {
    PrintLine("OnCancel");
    loop_runner_->Quit();
  }
  void OnGetFullPackage() override {
    PrintLine("OnGetFullPackage");
    loop_runner_->Quit();
  }

  // The test has gone: nothing will end the run otherwise.
  void OnEndOfInput() { loop_runner_->Quit(); }

  void HandleCommand(const std::string& line) {
    const size_t blank = line.find(' ');
    const std::string command = line.substr(0, blank);
    const std::string argument = blank == line.npos ? "" : line.substr(blank + 1);
    int number = 0;
    if (command == "quit") {
      loop_runner_->Quit();
    } else if (command == "phase" && base::StringToInt(argument, &number)) {
      window_->SetPhase(number);
    } else if (command == "progress" && base::StringToInt(argument, &number)) {
      window_->SetProgress(number);
    } else if (command == "error" && argument.size() > 2) {
      settings_->set_changeable(true);
      window_->ShowError(base::Utf8ToWide(argument.substr(2)),
                         argument[0] == '1', "Injected failure");
    } else if (command == "done") {
      window_->SetInstallationDone();
    } else if (command == "message") {
      window_->ShowMessageBox(base::Utf8ToWide(argument));
    } else if (command == "page" &&
               PageByName(argument) != InstallerWindow::kNoPage) {
      window_->ShowPage(PageByName(argument));
    } else {
      return PrintLine("bad command " + line);
    }
    PrintLine("done " + line);
  }

 private:
  Settings* settings_;
  base::LoopRunner* loop_runner_;
  InstallerWindow* window_ = nullptr;
};

class CommandReader : public base::RunnableThread {
 public:
  explicit CommandReader(FakeController* controller)
      : base::RunnableThread("Command reader"),
        controller_(controller),
        main_task_runner_(base::MessageLoop::current()->task_runner()) {}

 protected:
  void Run() override {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      main_task_runner_->PostTask(
          FROM_HERE,
          base::Bind(&FakeController::HandleCommand, controller_, line));
    }
    main_task_runner_->PostTask(
        FROM_HERE, base::Bind(&FakeController::OnEndOfInput, controller_));
  }

 private:
  FakeController* controller_;
  base::RefPtr<base::LoopTaskRunner> main_task_runner_;
};

std::string FlagNames(const Settings& settings) {
  std::string names;
  for (int32_t flag = 0; flag < installer::kSettingsFlagCount; ++flag) {
    if (settings.GetFlag(flag))
      names += std::string(names.empty() ? "" : ",") +
               installer::SettingsFlagName(flag);
  }
  return names;
}

}  // namespace

int main() {
  if (!base::CommandLine::Init())
    return 1;
  base::ExitCallbackStack exit_callbacks;
  // Whatever other tests left in the prefix's registry (installations,
  // uninstall entries) must not change what the window shows.
  base::win::ScopedRegistryOverride user_registry(HKEY_CURRENT_USER);
  base::win::ScopedRegistryOverride machine_registry(HKEY_LOCAL_MACHINE);
  base::win::ScopedCOMInitializer com;
  base::MessageLoop loop(base::MessageLoop::Type::kUI);
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();

  Settings settings(
      command_line.HasSwitch(installer::switches::kUninstall), false, false,
      command_line.GetSwitchValuePath(installer::switches::kInstallFolder),
      false, Settings::kArchitectureX64);
  WaitForSettingsStatus(settings);

  base::DictionaryValue stats_root;
  base::Lock stats_lock;
  installer::StatsNode stats(&stats_root, &stats_lock, base::TickTime::Now());
  base::LoopRunner loop_runner(installer::Win32DialogDispatcher::GetInstance());
  FakeController controller(&settings, &loop_runner);
  CommandReader reader(&controller);
  {
    std::unique_ptr<InstallerWindow> window = InstallerWindow::Create(
        &settings, &stats, command_line.HasSwitch("run-immediately"));
    if (!window) {
      PrintLine("window creation failed");
      return 1;
    }
    window->AddDelegate(&controller);
    controller.set_window(window.get());
    PrintLine("window " + HandleText(window->GetHwnd()));
    if (!reader.Start())
      return 1;
    loop_runner.Run();
    controller.set_window(nullptr);
  }
  std::string json;
  base::WriteJson(stats_root, &json);
  PrintLine("stats " + json);
  PrintLine("settings " + base::WideToUtf8(settings.install_language()) + " " +
            FlagNames(settings));
  reader.Join();
  return 0;
}

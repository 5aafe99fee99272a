// The installer runner and backend as real processes for the end-to-end
// tests, with a scripted step machine in place of the installer's.
//
//   installer_runner_tool --frontend --installfolder=F --package-folder=P
//                         [--have-package] [--component=PATH] [--v=1]
//                         [--temporary-package]
//                         [--uninstall] [--log=FILE] [settings' switches]
//     Runs an `InstallerRunner` for folder F (an uninstallation of it with
//     --uninstall) and prints, one line each,
//     "started 1|0" after starting the installation and every observer
//     call as it arrives ("OnTotalSteps 3", "OnError 37057 DETAIL TEXT",
//     "OnInstallerTerminated 1"). Reads commands from its input:
//     "package-ready", "stop" (each answered "ok COMMAND") and "exit" (or
//     the end of the input). Logs to FILE, or else to P\frontend.log.
//
//   installer_runner_tool --backend ...   (as the runner launches it)
//     Runs an `InstallerRunnerBackend` whose step machine plays the script
//     P\test_installer_script.txt (see scripted_step_machine.h), P being
//     the folder of "wait-for-package" or else this program's folder. Logs
//     to P\backend.log, writes "command-line ..." and then "result 1|0" to
//     P\backend_result.txt, and exits with 0 only on success.
//
//   installer_runner_tool --probe=mutex|event|mailslot --name=NAME
//     Opens the named object as another installer process would and
//     prints "missing ERROR", or for a mutex "acquired", "abandoned" or
//     "busy", for an event "signalled" or "unsignalled", for a mailslot
//     (its full path) "opened".
//
//   installer_runner_tool --hold-event=NAME
//     Creates the event signalled, prints "holding", and keeps it until a
//     line or the end of its input arrives.
//
//   installer_runner_tool --hold-abandoned-mutex=NAME
//     Creates the mutex, lets a thread of its own take it and end without
//     releasing it, prints "holding", and keeps it open until a line or the
//     end of its input arrives.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/runnable_thread.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/backend/installer_runner_backend.h"
#include "desktop/windows/installer/backend/step_machine.h"
#include "desktop/windows/installer/frontend/installer_runner.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/test/scripted_step_machine.h"
#include "desktop/windows/installer/test/settings_status_waiter.h"

namespace {

namespace switches = installer::switches;

constexpr wchar_t kScriptFileName[] = L"test_installer_script.txt";
constexpr wchar_t kResultFileName[] = L"backend_result.txt";

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string ErrorLine(DWORD error) {
  return "missing " + std::to_string(error);
}

bool InitLoggingTo(const base::FilePath& path) {
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_TO_FILE;
  settings.log_file_path = path.value().c_str();
  return base::InitLogging(settings);
}

class CallPrinter : public installer::InstallerObserver {
 public:
  void OnInstallFolderCreated() override {
    PrintLine("OnInstallFolderCreated");
  }
  void OnStartingNewMainProcess(bool flag) override {
    PrintLine("OnStartingNewMainProcess " + std::to_string(flag));
  }
  void OnReturnedToPreviousMainProcess() override {
    PrintLine("OnReturnedToPreviousMainProcess");
  }
  void OnTotalSteps(int count) override {
    PrintLine("OnTotalSteps " + std::to_string(count));
  }
  void OnStep() override { PrintLine("OnStep"); }
  void OnError(const installer::RunError& error) override {
    PrintLine("OnError " + std::to_string(error.code) + " " +
              base::WideToUtf8(error.detail) + "|" + error.message);
  }
  void OnSuccess() override { PrintLine("OnSuccess"); }
  void OnInstallerTerminated(bool success) override {
    PrintLine("OnInstallerTerminated " + std::to_string(success));
  }
};

// The front end's commands, read on a thread of their own and run on the
// main thread.
class FrontEnd {
 public:
  FrontEnd(const base::FilePath& package_folder,
           const base::FilePath& component_path,
           bool package_is_temporary)
      : runner_(package_folder, component_path, package_is_temporary) {
    runner_.AddObserver(&printer_);
  }

  installer::InstallerRunner& runner() { return runner_; }
  void Run() { loop_runner_.Run(); }

  void HandleCommand(const std::string& command) {
    if (command == "exit") {
      loop_runner_.Quit();
      return;
    }
    if (command == "package-ready")
      runner_.OnPackageReady(installer::GetInternalVersion());
    else if (command == "stop")
      runner_.Stop();
    else
      return PrintLine("bad command " + command);
    PrintLine("ok " + command);
  }

 private:
  CallPrinter printer_;
  installer::InstallerRunner runner_;
  base::LoopRunner loop_runner_;
};

class CommandReader : public base::RunnableThread {
 public:
  explicit CommandReader(FrontEnd* front_end)
      : base::RunnableThread("Command reader"),
        front_end_(front_end),
        main_task_runner_(base::MessageLoop::current()->task_runner()) {}

 protected:
  void Run() override {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r')
        line.pop_back();
      Post(line);
      if (line == "exit")
        return;
    }
    Post("exit");
  }

 private:
  void Post(const std::string& command) {
    main_task_runner_->PostTask(
        FROM_HERE, base::Bind(&FrontEnd::HandleCommand, front_end_, command));
  }

  FrontEnd* front_end_;
  base::RefPtr<base::LoopTaskRunner> main_task_runner_;
};

int RunFrontEnd(const base::CommandLine& command_line) {
  const base::FilePath package_folder =
      command_line.GetSwitchValuePath("package-folder");
  InitLoggingTo(command_line.HasSwitch("log")
                    ? command_line.GetSwitchValuePath("log")
                    : package_folder.Append(L"frontend.log"));
  base::ExitCallbackStack exit_callbacks;
  base::win::ScopedCOMInitializer com;
  base::MessageLoop loop;
  installer::Settings settings(
      command_line.HasSwitch(switches::kUninstall), false, false,
      command_line.GetSwitchValuePath(switches::kInstallFolder), false,
      installer::Settings::kArchitectureX86);
  installer::WaitForSettingsStatus(settings);
  // An uninstaller takes its folder from where it runs; this tool runs from
  // the build, so it names the folder as the user would pick it.
  if (command_line.HasSwitch(switches::kUninstall) &&
      settings.SetInstallFolderIfAllowed(
          command_line.GetSwitchValuePath(switches::kInstallFolder))) {
    installer::WaitForSettingsStatus(settings);
  }

  FrontEnd front_end(package_folder,
                     command_line.GetSwitchValuePath("component"),
                     command_line.HasSwitch(switches::kTemporaryPackage));
  if (command_line.HasSwitch("have-package"))
    front_end.runner().OnPackageReady(installer::GetInternalVersion());
  PrintLine(front_end.runner().StartInstallation(&settings) ? "started 1"
                                                            : "started 0");
  CommandReader reader(&front_end);
  if (!reader.Start())
    return 1;
  front_end.Run();
  reader.Join();
  return 0;
}

std::vector<std::string> ReadScript(const base::FilePath& file) {
  std::string text;
  base::ReadFileToString(file, &text);
  return base::SplitNarrowByAnyOf(text, "\r\n", base::TRIM_WHITESPACE,
                                  base::SPLIT_WANT_NONEMPTY);
}

void Record(const base::FilePath& file, const std::string& line) {
  const std::string text = line + "\n";
  if (!base::AppendToFile(file, text.data(), static_cast<int>(text.size())))
    base::WriteBufferToFile(file, text.data(), static_cast<int>(text.size()));
}

int RunBackendHost(const base::CommandLine& command_line) {
  base::FilePath package_folder =
      command_line.GetSwitchValuePath(switches::kWaitForPackage);
  if (package_folder.empty() &&
      !base::GetPathForKey(base::kExeDir, &package_folder)) {
    return 2;
  }
  InitLoggingTo(package_folder.Append(L"backend.log"));
  const base::FilePath result_file = package_folder.Append(kResultFileName);
  Record(result_file, "command-line " + base::WideToUtf8(GetCommandLineW()));
  installer::ScriptedStepMachine::SetScript(
      ReadScript(package_folder.Append(kScriptFileName)));
  installer::SetStepMachineFactoryForTesting(
      &installer::ScriptedStepMachine::Create);

  base::ExitCallbackStack exit_callbacks;
  base::win::ScopedCOMInitializer com;
  base::MessageLoop loop;
  installer::Settings settings(
      command_line.HasSwitch(switches::kUninstall),
      command_line.HasSwitch(switches::kSilent),
      command_line.HasSwitch(switches::kAutoupdate),
      command_line.GetSwitchValuePath(switches::kInstallFolder),
      command_line.HasSwitch(switches::kReplaceKilnorInstallation),
      installer::Settings::kArchitectureX86);
  bool succeeded = false;
  {
    installer::InstallerRunnerBackend backend;
    succeeded = backend.RunBackend(&settings);
  }
  Record(result_file, succeeded ? "result 1" : "result 0");
  return succeeded ? 0 : 1;
}

std::string ProbeMutex(const std::wstring& name) {
  base::win::ScopedHandle mutex(
      OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
  if (!mutex.IsValid())
    return ErrorLine(GetLastError());
  switch (WaitForSingleObject(mutex.Get(), 0)) {
    case WAIT_OBJECT_0:
      ReleaseMutex(mutex.Get());
      return "acquired";
    case WAIT_ABANDONED:
      ReleaseMutex(mutex.Get());
      return "abandoned";
    default:
      return "busy";
  }
}

std::string ProbeEvent(const std::wstring& name) {
  base::win::ScopedHandle event(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!event.IsValid())
    return ErrorLine(GetLastError());
  return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0 ? "signalled"
                                                              : "unsignalled";
}

std::string ProbeMailslot(const std::wstring& path) {
  base::win::ScopedHandle mailslot(CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return mailslot.IsValid() ? "opened" : ErrorLine(GetLastError());
}

int Probe(const base::CommandLine& command_line) {
  const std::string kind = command_line.GetSwitchValueASCII("probe");
  const std::wstring name = command_line.GetSwitchValueNative("name");
  if (kind == "mutex")
    PrintLine(ProbeMutex(name));
  else if (kind == "event")
    PrintLine(ProbeEvent(name));
  else if (kind == "mailslot")
    PrintLine(ProbeMailslot(name));
  else
    return 2;
  return 0;
}

int HoldEvent(const std::wstring& name) {
  base::win::ScopedHandle event(
      CreateEventW(nullptr, TRUE, TRUE, name.c_str()));
  if (!event.IsValid() || !SetEvent(event.Get())) {
    PrintLine(ErrorLine(GetLastError()));
    return 1;
  }
  PrintLine("holding");
  std::string line;
  std::getline(std::cin, line);
  return 0;
}

class MutexAbandoner : public base::RunnableThread {
 public:
  explicit MutexAbandoner(HANDLE mutex)
      : base::RunnableThread("Mutex abandoner"), mutex_(mutex) {}

 protected:
  void Run() override { WaitForSingleObject(mutex_, INFINITE); }

 private:
  HANDLE mutex_;
};

int HoldAbandonedMutex(const std::wstring& name) {
  base::win::ScopedHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
  if (!mutex.IsValid()) {
    PrintLine(ErrorLine(GetLastError()));
    return 1;
  }
  MutexAbandoner abandoner(mutex.Get());
  if (!abandoner.Start())
    return 1;
  abandoner.Join();
  PrintLine("holding");
  std::string line;
  std::getline(std::cin, line);
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  if (!base::CommandLine::Init())
    return 2;
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch(switches::kBackend))
    return RunBackendHost(command_line);
  if (command_line.HasSwitch("frontend"))
    return RunFrontEnd(command_line);
  if (command_line.HasSwitch("probe"))
    return Probe(command_line);
  if (command_line.HasSwitch("hold-event"))
    return HoldEvent(command_line.GetSwitchValueNative("hold-event"));
  if (command_line.HasSwitch("hold-abandoned-mutex")) {
    return HoldAbandonedMutex(
        command_line.GetSwitchValueNative("hold-abandoned-mutex"));
  }
  PrintLine(
      "usage: installer_runner_tool --frontend ... | --backend ... | "
      "--probe=KIND --name=NAME | --hold-event=NAME | "
      "--hold-abandoned-mutex=NAME");
  return 2;
}

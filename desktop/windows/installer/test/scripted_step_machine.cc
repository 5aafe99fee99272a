#include "desktop/windows/installer/test/scripted_step_machine.h"

#include <sstream>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

std::vector<std::string>& Script() {
  static std::vector<std::string> script;
  return script;
}

int g_runs = 0;

base::win::ScopedHandle OpenNamedEvent(const std::wstring& name) {
  return base::win::ScopedHandle(OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
}

bool IsSignalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

ScriptedStepMachine::ScriptedStepMachine(std::vector<std::string> script)
    : script_(std::move(script)) {}

ScriptedStepMachine::~ScriptedStepMachine() {
  interrupted_watcher_.StopWatching();
  package_ready_watcher_.StopWatching();
  weak_source_.Invalidate();
}

// static
void ScriptedStepMachine::SetScript(std::vector<std::string> script) {
  Script() = std::move(script);
}

// static
int ScriptedStepMachine::runs() {
  return g_runs;
}

// static
std::unique_ptr<StepMachine> ScriptedStepMachine::Create() {
  return std::make_unique<ScriptedStepMachine>(Script());
}

void ScriptedStepMachine::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void ScriptedStepMachine::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

void ScriptedStepMachine::Run(Settings* settings) {
  ++g_runs;
  settings_ = settings;
  settings_->set_changeable(false);
  base::MessageLoop::current()->task_runner()->PostTask(
      FROM_HERE,
      base::BindWeak(&ScriptedStepMachine::Begin, weak_source_.GetRef(), this));
}

void ScriptedStepMachine::Begin() {
  running_ = true;
  const InstallerObjectNames names(settings_->GetStatus()->install_folder);
  interrupted_event_ = OpenNamedEvent(names.installation_interrupted_event());
  // Without a front end's runner (a backend tested on its own) there is
  // nothing to watch.
  if (interrupted_event_.IsValid()) {
    if (IsSignalled(interrupted_event_.Get())) {
      LOG(INFO) << "Installation was interrupted";
      Cancel();
      return;
    }
    interrupted_watcher_.StartWatching(interrupted_event_.Get(), this);
  }
  PostNextLine();
}

void ScriptedStepMachine::PostNextLine() {
  if (next_line_ >= script_.size())
    return;
  base::MessageLoop::current()->task_runner()->PostTask(
      FROM_HERE, base::BindWeak(&ScriptedStepMachine::RunLine,
                                weak_source_.GetRef(), this));
}

void ScriptedStepMachine::RunLine() {
  if (!running_)
    return;
  if (RunCommand(script_[next_line_++]))
    PostNextLine();
}

bool ScriptedStepMachine::RunCommand(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  words >> command;
  int number = 0;
  if (command == "folder-created") {
    for (InstallerObserver& observer : observers_)
      observer.OnInstallFolderCreated();
  } else if (command == "new-process" && words >> number) {
    for (InstallerObserver& observer : observers_)
      observer.OnStartingNewMainProcess(number != 0);
  } else if (command == "returned") {
    for (InstallerObserver& observer : observers_)
      observer.OnReturnedToPreviousMainProcess();
  } else if (command == "total" && words >> number) {
    for (InstallerObserver& observer : observers_)
      observer.OnTotalSteps(number);
  } else if (command == "step") {
    for (InstallerObserver& observer : observers_)
      observer.OnStep();
  } else if (command == "error" && words >> number) {
    std::string texts;
    std::getline(words >> std::ws, texts);
    const size_t bar = texts.find('|');
    Fail(number, base::Utf8ToWide(texts.substr(0, bar)),
         bar == std::string::npos ? std::string() : texts.substr(bar + 1));
    return false;
  } else if (command == "success") {
    running_ = false;
    succeeded_ = true;
    for (InstallerObserver& observer : observers_)
      observer.OnSuccess();
    return false;
  } else if (command == "wait-package") {
    WaitForPackage();
    return false;
  } else if (command == "wait") {
    return false;
  } else if (command == "exit" && words >> number) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(number));
    return false;
  } else {
    Fail(37055, std::wstring(), "Bad script line: " + line);
    return false;
  }
  return true;
}

void ScriptedStepMachine::WaitForPackage() {
  const InstallerObjectNames names(settings_->GetStatus()->install_folder);
  package_ready_event_ = OpenNamedEvent(names.package_ready_event());
  if (!package_ready_event_.IsValid()) {
    Fail(37055, std::wstring(),
         "Failed to open a handle to the package ready event");
    return;
  }
  if (IsSignalled(package_ready_event_.Get())) {
    OnObjectSignaled(package_ready_event_.Get());
    return;
  }
  package_ready_watcher_.StartWatching(package_ready_event_.Get(), this);
}

void ScriptedStepMachine::OnObjectSignaled(HANDLE object) {
  if (object == interrupted_event_.Get()) {
    LOG(INFO) << "Installation was interrupted";
    Cancel();
    return;
  }
  LOG(INFO) << "Package is ready";
  PostNextLine();
}

void ScriptedStepMachine::Fail(int code,
                               const std::wstring& detail,
                               const std::string& message) {
  for (InstallerObserver& observer : observers_)
    observer.OnError({code, detail, message, 0});
  Cancel();
}

void ScriptedStepMachine::Cancel() {
  running_ = false;
  interrupted_watcher_.StopWatching();
  package_ready_watcher_.StopWatching();
  for (InstallerObserver& observer : observers_)
    observer.OnInstallerTerminated(false);
}

}  // namespace installer

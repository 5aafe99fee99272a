#include "desktop/windows/installer/backend/installer_runner_backend.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/message_loop/loop_runner.h"
#include "base/observer_list.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/backend/step_machine.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/test/scripted_step_machine.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The front end's end of the channel, in this process.
class ChannelRecorder : public IpcReceiver::Delegate {
 public:
  explicit ChannelRecorder(const base::FilePath& install_folder)
      : receiver_(this) {
    observers_.AddObserver(&observer_);
    EXPECT_EQ(
        IpcReceiver::ConnectResult::kConnected,
        receiver_.Connect(InstallerObjectNames(install_folder).channel()));
  }

  // Everything the mailslot has received so far.
  const std::vector<std::string>& Calls() {
    base::LoopRunner runner;
    receiver_.Flush(runner.QuitClosure());
    runner.Run();
    return observer_.calls();
  }

  void OnMessageReceived(const InstallerMessage& message) override {
    ReplayInstallerMessage(message, observers_);
  }

 private:
  RecordingInstallerObserver observer_;
  base::ObserverList<InstallerObserver> observers_;
  IpcReceiver receiver_;
};

class InstallerRunnerBackendTest : public SettingsTest {
 protected:
  InstallerRunnerBackendTest()
      : previous_factory_(
            SetStepMachineFactoryForTesting(&ScriptedStepMachine::Create)),
        install_folder_(tree_.Path(L"Tarvo")) {}
  ~InstallerRunnerBackendTest() override {
    SetStepMachineFactoryForTesting(previous_factory_);
  }

  bool RunBackend(Settings* settings) {
    InstallerRunnerBackend backend;
    return backend.RunBackend(settings);
  }

  // This process stands in for the front end, which never ends here.
  static std::wstring OwnPidSwitch() {
    return L"--initial-pid=" + std::to_wstring(GetCurrentProcessId());
  }

  StepMachineFactory previous_factory_;
  base::TempTree tree_;
  const base::FilePath install_folder_;
};

TEST_F(InstallerRunnerBackendTest, RefusesToRunWithoutAFrontEndItCanWatch) {
  struct Case {
    std::vector<std::wstring> switches;
    const char* error;
  };
  const Case kCases[] = {
      {{}, "Missing information about initial process"},
      {{L"--initial-proc-handle="}, "Failed parsing initial process handle"},
      {{L"--initial-proc-handle=0x1234"},
       "Failed parsing initial process handle"},
      // Fewer than the handle's 8 bytes must not be read as 8.
      {{L"--initial-proc-handle=0A"}, "Failed parsing initial process handle"},
      {{L"--initial-proc-handle=0A000000000000"},
       "Failed parsing initial process handle"},
      {{L"--initial-proc-handle=0A00000000000000FF"},
       "Failed parsing initial process handle"},
      {{L"--initial-proc-handle=0G00000000000000"},
       "Failed parsing initial process handle"},
      // The handle wins over a usable pid.
      {{L"--initial-proc-handle=0A0", OwnPidSwitch()},
       "Failed parsing initial process handle"},
      // Well-formed, but no handle of this process.
      {{L"--initial-proc-handle=FCFFFF7F00000000"},
       "Failed watching initial process"},
      {{L"--initial-pid=12ab"}, "Failed parsing initial pid"},
      {{L"--initial-pid=0"}, "Failed opening initial process"},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.error);
    SetCommandLine(test_case.switches);
    std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
    const int runs_before = ScriptedStepMachine::runs();
    base::ScopedLogCapture log;
    EXPECT_FALSE(RunBackend(settings.get()));
    EXPECT_EQ(runs_before, ScriptedStepMachine::runs());
    const std::vector<std::string>& lines = log.lines();
    EXPECT_NE(
        lines.end(),
        std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
          return line.starts_with(test_case.error);
        }));
  }
}

TEST_F(InstallerRunnerBackendTest, ForwardsReportsAndStopsAtTheError) {
  SetCommandLine({OwnPidSwitch()});
  ScriptedStepMachine::SetScript({
      "folder-created",
      "total 2",
      "step",
      "new-process 1",
      "returned",
      "error 37062 C:\\Tarvo\\tarvo.exe|Failed copying tarvo.exe",
      "step",
      "success",
  });
  ChannelRecorder front_end(install_folder_);
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  EXPECT_FALSE(RunBackend(settings.get()));
  // The step machine's `OnInstallerTerminated` after its error travels not.
  EXPECT_EQ(std::vector<std::string>({
                "OnInstallFolderCreated",
                "OnTotalSteps 2",
                "OnStep",
                "OnStartingNewMainProcess 1",
                "OnReturnedToPreviousMainProcess",
                "OnError 37062 C:\\Tarvo\\tarvo.exe Failed copying tarvo.exe",
            }),
            front_end.Calls());
}

TEST_F(InstallerRunnerBackendTest, StartsOnceTheSettingsKnowTheirFolder) {
  SetCommandLine({OwnPidSwitch()});
  ScriptedStepMachine::SetScript({"total 1", "step", "success"});
  ChannelRecorder front_end(install_folder_);
  Settings settings(false, false, false, install_folder_, false,
                    Settings::kArchitectureX86);
  ASSERT_TRUE(settings.IsStatusPending());
  EXPECT_TRUE(RunBackend(&settings));
  EXPECT_EQ(std::vector<std::string>({"OnTotalSteps 1", "OnStep", "OnSuccess"}),
            front_end.Calls());
}

TEST_F(InstallerRunnerBackendTest, ProtocolRegistrationWatchesNoFrontEnd) {
  SetCommandLine({L"--register-tarvo-as-protocol-handler=tarvo"});
  ScriptedStepMachine::SetScript({"success"});
  std::unique_ptr<Settings> settings = MakeSettings(install_folder_);
  EXPECT_TRUE(RunBackend(settings.get()));
}

}  // namespace
}  // namespace installer

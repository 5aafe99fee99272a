#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_TEST_ENVIRONMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_TEST_ENVIRONMENT_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/post_task_and_reply.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/temp_tree.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/prefs_task_pool.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/standalone_drives.h"
#include "desktop/windows/installer/test/settings_status_waiter.h"
#include "gtest/gtest.h"

namespace installer {

// The installation log of an existing installation, as the install steps
// write it.
inline void WriteInstallLog(const base::TempTree& tree,
                            const wchar_t* folder,
                            bool copy_only) {
  tree.MakeDir(folder);
  const std::string log =
      std::string(
          "<?xml version=\"1.0\"?>\n"
          "<install_log version=\"45.0.2548.0\" copy_only=\"") +
      (copy_only ? "True" : "False") +
      "\" all_users=\"False\" pinned=\"False\" app_id=\"\">\n"
      " <path subfolder=\"45.0.2548.0\">" +
      tree.Path(folder).AsUTF8() +
      "</path>\n"
      " <files>\n"
      "  <file>tarvo.exe</file>\n"
      " </files>\n"
      " <components>\n"
      "  <component>\n"
      "   <name>assistant</name>\n"
      "   <path>assistant</path>\n"
      "  </component>\n"
      " </components>\n"
      "</install_log>\n";
  tree.WriteFile((std::wstring(folder) + L"\\" + kInstallLogName).c_str(), log);
}

// What a `Settings` needs around it in a test: COM on the settings' thread
// (the entry initialises it; an x64 run reads a status there), a message
// loop for the status replies, its own worker pool (shut down by the exit
// callbacks when the test ends), both registry roots redirected to scratch
// keys, no drives for standalone folders, and a process command line of the
// test's choosing.
class SettingsTest : public testing::Test {
 protected:
  SettingsTest()
      : previous_finder_(SetDriveFinderForTesting(&NoDrives)),
        previous_command_line_(
            base::CommandLine::SetForCurrentProcessForTesting(nullptr)) {
    SetCommandLine({});
  }
  ~SettingsTest() override {
    base::CommandLine::SetForCurrentProcessForTesting(
        std::move(previous_command_line_));
    SetDriveFinderForTesting(previous_finder_);
  }

  void SetUp() override {
    ASSERT_TRUE(user_registry_.Valid());
    ASSERT_TRUE(machine_registry_.Valid());
    // As on the Wine machine the tests run on: every process of the user
    // is an administrator's, whose all-users folders are the user's.
    SetUserAccountControl(false);
  }

  // The machine's user account control (its "EnableLUA" policy).
  static void SetUserAccountControl(bool on) {
    base::win::RegistryKey policies;
    ASSERT_EQ(policies.Create(HKEY_LOCAL_MACHINE,
                              L"Software\\Microsoft\\Windows\\CurrentVersion\\"
                              L"Policies\\System",
                              KEY_SET_VALUE | KEY_WOW64_64KEY),
              ERROR_SUCCESS);
    const DWORD enabled = on ? 1 : 0;
    ASSERT_EQ(::RegSetValueExW(policies.Handle(), L"EnableLUA", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&enabled),
                               sizeof(enabled)),
              ERROR_SUCCESS);
  }

  // The process command line: "installer.exe" and `arguments`.
  static void SetCommandLine(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> argv = {L"installer.exe"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto command_line =
        std::make_unique<base::CommandLine>(base::CommandLine::NO_PROGRAM);
    command_line->InitFromArgv(argv);
    base::CommandLine::SetForCurrentProcessForTesting(std::move(command_line));
  }

  // Runs the loop until `settings` adopted the status it waits for.
  static void WaitForStatus(Settings& settings) {
    WaitForSettingsStatus(settings);
  }

  // Lets every status computation asked for so far end, and runs the
  // replies they posted: a marker queued behind them on their sequence
  // replies after them.
  static void FinishWorkerTasks() {
    const base::RefPtr<base::SequencedWorkerPool>& pool =
        base::GetPrefsTaskPool()->pool();
    auto runner = base::MakeRefCounted<base::PoolSequencedTaskRunner>(
        pool, pool->GetNamedSequenceToken(Settings::kStatusSequenceName),
        base::SequencedWorkerPool::ShutdownBehavior::kBlockShutdown);
    base::LoopRunner loop_runner;
    ASSERT_TRUE(base::PostTaskAndReply(*runner, FROM_HERE, base::Bind([] {}),
                                       loop_runner.QuitClosure()));
    loop_runner.Run();
  }

  // A new settings object for an installation, as the entry makes it.
  static std::unique_ptr<Settings> MakeSettings(
      const base::FilePath& folder = base::FilePath(),
      uint32_t architecture = Settings::kArchitectureX86) {
    auto settings = std::make_unique<Settings>(false, false, false, folder,
                                               false, architecture);
    WaitForStatus(*settings);
    return settings;
  }

 private:
  static std::vector<StandaloneDrive> NoDrives() { return {}; }

  base::ExitCallbackStack exit_callbacks_;
  base::win::ScopedCOMInitializer com_;
  base::MessageLoop loop_;
  base::win::ScopedRegistryOverride user_registry_{HKEY_CURRENT_USER};
  base::win::ScopedRegistryOverride machine_registry_{HKEY_LOCAL_MACHINE};
  DriveFinder previous_finder_;
  std::unique_ptr<base::CommandLine> previous_command_line_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_TEST_ENVIRONMENT_H_

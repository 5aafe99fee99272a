#include "desktop/windows/installer/backend/installer.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_path_override.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/temp_tree.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/backend/steps/default_browser_reset.h"
#include "desktop/windows/installer/backend/steps/install_steps.h"
#include "desktop/windows/installer/backend/steps/product_shortcuts.h"
#include "desktop/windows/installer/backend/steps/protocol_handler_step.h"
#include "desktop/windows/installer/backend/steps/uninstall_survey.h"
#include "desktop/windows/installer/backend/steps/update_steps.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/test/recording_association_shell.h"
#include "desktop/windows/installer/test/scoped_token_rights.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "desktop/windows/installer/transactions/operation.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Step = Installer::Step;
using Calls = std::vector<std::string>;
using base::ScopedPathOverride;

const char kChildFailed[] =
    "OnError 37055  Installer process did not complete successfully.";

// The user `query` describes, through both seams: whether it is an
// administrator, and the token its process runs with.
class ScopedAdminQuery {
 public:
  explicit ScopedAdminQuery(AdminQuery query)
      : previous_(SetAdminQueryForTesting(query)), token_(TokenOf(query)) {}
  ~ScopedAdminQuery() { SetAdminQueryForTesting(previous_); }

 private:
  static TokenRights TokenOf(AdminQuery query) {
    if (query(false))
      return test::kAdministratorToken;
    return query(true) ? test::kLimitedAdministratorToken
                       : test::kStandardUserToken;
  }

  AdminQuery previous_;
  test::ScopedTokenRights token_;
};

class ScopedShellExecute {
 public:
  explicit ScopedShellExecute(InstallerElevation::ShellExecuteFunction function)
      : previous_(InstallerElevation::SetShellExecuteForTesting(function)) {}
  ~ScopedShellExecute() { InstallerElevation::SetShellExecuteForTesting(previous_); }

 private:
  InstallerElevation::ShellExecuteFunction previous_;
};

// Wine's user is always an elevated administrator: these stand for a user
// who can become one through the prompt, and for one who cannot.
bool LimitedAdministrator(bool check_linked_token) {
  return check_linked_token;
}
bool PlainUser(bool) {
  return false;
}

int g_shell_executes = 0;
// Wine shows no UAC prompt: this stands for the user refusing it.
BOOL WINAPI RefusedPrompt(SHELLEXECUTEINFOW*) {
  ++g_shell_executes;
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}

// This test program, as the loader knows it.
std::wstring RunningProgram() {
  wchar_t path[MAX_PATH] = {};
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

// Whether `path` is held so that nobody may rename or delete it.
bool IsHeldAgainstRenaming(const std::wstring& path) {
  const base::win::ScopedHandle file(
      CreateFileW(path.c_str(), DELETE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr));
  return !file.IsValid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

// The switch that makes this test program, started as the elevated
// installer, hand its run on to a stand-in (ElevatedProxy).
constexpr char kProxyFor[] = "elevated-proxy-for";

// Wine runs "runas" with no prompt, as this same user: an elevated start is
// seen by what the shell is asked to start and whether that file is held
// through the call. This test program cannot run as the installer: what
// the shell is asked for, this very program held, starts and hands its
// arguments on to the child tool `stand_in`, which plays the installer
// (ElevatedProxy), so that the start is proven as the installer's is. Its
// caller gets the handle an unelevated process gets of an elevated one,
// which does not let it read the process's image, only name the file it
// was mapped from. With Image::kStandIn the stand-in starts in the held
// program's place: another image, ended when the handle allows it.
class ElevatedStandIn {
 public:
  struct Start {
    std::wstring program;
    bool held;
    bool operator==(const Start&) const = default;
  };
  enum class Access { kUnelevatedCaller, kWhole };
  enum class Image { kHeldProgram, kStandIn };

  explicit ElevatedStandIn(base::FilePath stand_in,
                           Access access = Access::kUnelevatedCaller,
                           Image image = Image::kHeldProgram,
                           std::wstring parameters = std::wstring())
      : stand_in_(std::move(stand_in)),
        access_(access),
        image_(image),
        parameters_(std::move(parameters)),
        shell_(&StartStandIn) {
    current_ = this;
  }
  ~ElevatedStandIn() { current_ = nullptr; }

  const std::vector<Start>& starts() const { return starts_; }
  // The last process started, whatever its caller did with its handle.
  HANDLE started() const { return started_.Get(); }

 private:
  static constexpr DWORD kUnelevatedCallerAccess =
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;

  static BOOL WINAPI StartStandIn(SHELLEXECUTEINFOW* info) {
    current_->starts_.push_back(
        {info->lpFile, IsHeldAgainstRenaming(info->lpFile)});
    SHELLEXECUTEINFOW stand_in = *info;
    std::wstring parameters = current_->parameters_;
    if (current_->image_ == Image::kHeldProgram) {
      parameters = L"--gtest_filter=ElevatedProxy.HandsItsRunOn --" +
                   base::Utf8ToWide(kProxyFor) + L"=\"" +
                   current_->stand_in_.value() + L"\" " + info->lpParameters;
    } else {
      stand_in.lpFile = current_->stand_in_.value().c_str();
    }
    if (!parameters.empty())
      stand_in.lpParameters = parameters.c_str();
    if (!ShellExecuteExW(&stand_in))
      return FALSE;
    HANDLE kept = nullptr;
    DuplicateHandle(GetCurrentProcess(), stand_in.hProcess,
                    GetCurrentProcess(), &kept, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    current_->started_.Set(kept);
    info->hProcess = stand_in.hProcess;
    if (current_->access_ == Access::kUnelevatedCaller) {
      DuplicateHandle(GetCurrentProcess(), stand_in.hProcess,
                      GetCurrentProcess(), &info->hProcess,
                      kUnelevatedCallerAccess, FALSE, DUPLICATE_CLOSE_SOURCE);
    }
    return TRUE;
  }

  static inline ElevatedStandIn* current_ = nullptr;
  const base::FilePath stand_in_;
  const Access access_;
  const Image image_;
  const std::wstring parameters_;
  const ScopedShellExecute shell_;
  std::vector<Start> starts_;
  base::win::ScopedHandle started_;
};

// Not a test of its own: started by ElevatedStandIn in the elevated
// installer's place, this program runs this alone, which starts the
// stand-in with the program's own arguments and ends with its exit code.
TEST(ElevatedProxy, HandsItsRunOn) {
  base::CommandLine own(base::CommandLine::NO_PROGRAM);
  own.ParseFromString(GetCommandLineW());
  if (!own.HasSwitch(kProxyFor))
    GTEST_SKIP() << "runs only as the elevated installer's stand-in";
  base::CommandLine stand_in(own);
  stand_in.SetProgram(own.GetSwitchValuePath(kProxyFor));
  const base::Process process =
      base::LaunchProcessForCommandLine(stand_in, {});
  int exit_code = 1;
  if (!process.IsValid() || !process.WaitForExit(&exit_code))
    exit_code = 1;
  ExitProcess(static_cast<UINT>(exit_code));
}

// An operation that only notes what the transaction does with it.
class RecordingOperation : public Operation {
 public:
  RecordingOperation(int id, Calls* log) : id_(id), log_(log) {}
  bool Do(Transaction*) override {
    log_->push_back("do " + std::to_string(id_));
    return true;
  }
  void Rollback() override { log_->push_back("undo " + std::to_string(id_)); }

 private:
  const int id_;
  Calls* const log_;
};

// Ends the test's loop run once the run has reported its end, after the
// tasks already queued (so that a queued step would still show).
class EndWaiter : public RecordingInstallerObserver {
 public:
  explicit EndWaiter(base::LoopRunner* runner) : runner_(runner) {}
  void OnSuccess() override {
    RecordingInstallerObserver::OnSuccess();
    runner_->QuitOnceIdle();
  }
  void OnInstallerTerminated(bool success) override {
    RecordingInstallerObserver::OnInstallerTerminated(success);
    runner_->QuitOnceIdle();
  }
  // Events signalled from a task posted when the installation folder is
  // reported, and when the run first returns from a child process: the
  // signal arrives once the current task (which may go on to wait for it)
  // has returned.
  HANDLE signal_on_folder_created = nullptr;
  HANDLE signal_after_first_return = nullptr;
  void OnInstallFolderCreated() override {
    RecordingInstallerObserver::OnInstallFolderCreated();
    PostSignal(std::exchange(signal_on_folder_created, nullptr));
  }
  void OnReturnedToPreviousMainProcess() override {
    RecordingInstallerObserver::OnReturnedToPreviousMainProcess();
    PostSignal(std::exchange(signal_after_first_return, nullptr));
  }

 private:
  static void PostSignal(HANDLE event) {
    if (!event)
      return;
    base::MessageLoop::current()->task_runner()->PostTask(
        FROM_HERE, base::Bind([](HANDLE e) { SetEvent(e); }, event));
  }

  base::LoopRunner* runner_;
};

base::FilePath ChildToolPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return base::FilePath(path)
      .DirName()
      .Append(L"installer")
      .Append(L"installer_child_tool.exe");
}

base::win::ScopedHandle CreateManualEvent(const std::wstring& name) {
  base::win::ScopedHandle event(
      CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  ResetEvent(event.Get());
  return event;
}

// The package in a folder of its own that stands for the executable's
// folder, the installation folder beside it, and the front end's
// installation-interrupted event, as the runner creates it.
class InstallerTest : public SettingsTest {
 protected:
  InstallerTest()
      : package_(tree_.MakeDir(L"package")),
        package_override_(base::kExeDir, package_),
        folder_(tree_.Path(L"Tarvo")),
        names_(folder_),
        interrupted_(
            CreateManualEvent(names_.installation_interrupted_event())),
        version_(base::Utf8ToWide(GetVersionString())) {}

  void SetUp() override {
    SettingsTest::SetUp();
    ASSERT_TRUE(interrupted_.IsValid());
    ASSERT_TRUE(base::PathExists(ChildToolPath()))
        << "installer_child_tool.exe must be built";
    WritePackage({"tarvo.exe", "resources\\a.pak", "resources\\b.pak"},
                 {"installer_prefs.json", "launcher.exe"});
  }

  // `root_files` null: no "root_files_list".
  void WritePackage(const std::vector<std::string>& files,
                    const std::vector<std::string>* root_files) {
    std::string list;
    for (const std::string& file : files) {
      list += file + "\r\n";
      WritePackageFile(file);
    }
    tree_.WriteFile(L"package\\files_list", list);
    base::DeletePath(package_.Append(kRootFilesListName), false);
    if (!root_files)
      return;
    list.clear();
    for (const std::string& file : *root_files) {
      list += file + "\r\n";
      WritePackageFile(file);
    }
    tree_.WriteFile(L"package\\root_files_list", list);
  }
  void WritePackage(const std::vector<std::string>& files,
                    const std::vector<std::string>& root_files) {
    WritePackage(files, &root_files);
  }

  void WritePackageFile(const std::string& relative) {
    const base::FilePath path = package_.Append(base::Utf8ToWide(relative));
    base::CreateDirectory(path.DirName());
    base::WriteBufferToFile(path, relative.data(),
                            static_cast<int>(relative.size()));
  }

  // A new installation's settings, with the browser not launched.
  std::unique_ptr<Settings> InstallSettings() {
    std::unique_ptr<Settings> settings = MakeSettings(folder_);
    settings->SetFlag(LAUNCH_TARVO, false);
    return settings;
  }

  // An existing installation of this folder.
  void WriteExistingInstallation() {
    WriteInstallLog(tree_, L"Tarvo", false);
    tree_.WriteFile(L"Tarvo\\45.0.2548.0\\tarvo.exe", "old");
  }

  // Every step of `operation` but the copy steps and `Succeeded` replaced
  // by one that notes its name and goes on, the last one succeeding.
  void InjectSteps(Installer& installer, Settings::Operation operation) {
    const std::span<const Step> steps = Installer::GetStepList(operation);
    for (size_t i = 0; i < steps.size(); ++i) {
      const Step step = steps[i];
      if (step == Step::kCopyFiles || step == Step::kCopyRootFiles ||
          step == Step::kSucceeded) {
        continue;
      }
      const bool last = i + 1 == steps.size();
      installer.SetStepForTesting(
          step, base::Bind(
                    [](Installer* installer, Calls* ran, Step step, bool last) {
                      ran->push_back(Installer::GetStepName(step));
                      if (last)
                        installer->Succeeded();
                      else
                        installer->ScheduleNextStep();
                    },
                    &installer, &steps_run_, step, last));
    }
  }

  // Runs `installer` on `settings` until it reports its end.
  Calls RunToEnd(Installer& installer, Settings* settings) {
    base::LoopRunner runner;
    EndWaiter waiter(&runner);
    waiter.signal_on_folder_created = signal_on_folder_created_;
    waiter.signal_after_first_return = signal_after_first_return_;
    installer.AddObserver(&waiter);
    installer.Run(settings);
    runner.Run();
    installer.RemoveObserver(&waiter);
    return waiter.calls();
  }

  // A copy of the child tool at `folder`\`name`, ending with `exit_code`.
  base::FilePath PlaceChildTool(const wchar_t* folder,
                                const wchar_t* name,
                                int exit_code) {
    const base::FilePath dir = tree_.MakeDir(folder);
    const base::FilePath copy = dir.Append(name);
    EXPECT_TRUE(CopyFileW(ChildToolPath().value().c_str(), copy.value().c_str(),
                          FALSE));
    tree_.WriteFile((std::wstring(folder) + L"\\exit_code.txt").c_str(),
                    std::to_string(exit_code));
    // A package's installer starts only with its library beside it; this
    // unsigned test program checks no signature, the file need only be there.
    tree_.WriteFile((std::wstring(folder) + L"\\" + kInstallerLibraryName).c_str(),
                    "library");
    return copy;
  }

  // What the child tool in `folder` wrote to `file`; empty when it did not
  // run.
  std::string ChildOutput(const wchar_t* folder, const wchar_t* file) const {
    return base::TempTree::ReadFile(tree_.Path(folder).Append(file));
  }

  // Waits for the child tool that ran in `folder` to end.
  void WaitForChildEnd(const wchar_t* folder) const {
    uint32_t pid = 0;
    ASSERT_TRUE(base::WideStringToUint(
        base::Utf8ToWide(ChildOutput(folder, L"pid.txt")), &pid));
    base::win::ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (process.IsValid()) {
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.Get(), 120000));
    }
  }

  static void RemoveTree(const base::FilePath& path) {
    base::DeletePath(path, true);
  }

  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }

  static int CountOf(const Calls& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
  }

  std::vector<std::string> StepNames(Settings::Operation operation) const {
    std::vector<std::string> names;
    for (Step step : Installer::GetStepList(operation)) {
      if (step != Step::kCopyFiles && step != Step::kCopyRootFiles &&
          step != Step::kSucceeded) {
        names.push_back(Installer::GetStepName(step));
      }
    }
    return names;
  }

  base::TempTree tree_;
  const base::FilePath package_;
  ScopedPathOverride package_override_;
  const base::FilePath folder_;
  const InstallerObjectNames names_;
  base::win::ScopedHandle interrupted_;
  const std::wstring version_;
  Calls steps_run_;
  HANDLE signal_on_folder_created_ = nullptr;
  HANDLE signal_after_first_return_ = nullptr;
};

// Each operation runs its steps in order; the announced total is one more
// than the steps reported, so that the success completes the progress.
TEST_F(InstallerTest, EachOperationRunsItsStepsAndAnnouncesThem) {
  struct Case {
    const char* name;
    Settings::Operation operation;
    int total;  // -1: none announced.
    int steps;
  };
  // 3 files and 2 root files: the copy steps report one step per file.
  const Case kCases[] = {
      {"install", Settings::kInstalling, 8 + 1 + 2 + 1, 8 + 2 + 1},
      {"update", Settings::kUpgrading, 12 + 1 + 2 + 1, 12 + 2 + 1},
      {"uninstall", Settings::kUninstalling, 6 + 1, 6},
      {"protocol", Settings::kRegisteringProtocolHandler, -1, 3},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(folder_);
    steps_run_.clear();
    std::unique_ptr<Settings> settings;
    if (test_case.operation == Settings::kInstalling) {
      SetCommandLine({});
      settings = InstallSettings();
    } else {
      WriteExistingInstallation();
      SetCommandLine(test_case.operation ==
                             Settings::kRegisteringProtocolHandler
                         ? std::vector<std::wstring>{L"--register-tarvo-as-"
                                                     L"protocol-handler"}
                         : std::vector<std::wstring>{});
      const bool uninstall = test_case.operation == Settings::kUninstalling;
      settings = std::make_unique<Settings>(
          uninstall, false, false, uninstall ? base::FilePath() : folder_,
          false, Settings::kArchitectureX86);
      WaitForStatus(*settings);
      // An uninstallation starts from the installation it runs from.
      if (uninstall) {
        ASSERT_TRUE(settings->SetInstallFolderIfAllowed(folder_));
      }
      WaitForStatus(*settings);
      settings->SetFlag(LAUNCH_TARVO, false);
    }
    ASSERT_EQ(test_case.operation, settings->operation());
    Installer installer;
    InjectSteps(installer, test_case.operation);
    const Calls calls = RunToEnd(installer, settings.get());

    EXPECT_EQ(StepNames(test_case.operation), steps_run_);
    EXPECT_EQ(test_case.steps, CountOf(calls, "OnStep"));
    if (test_case.total < 0) {
      EXPECT_EQ(Calls(test_case.steps, "OnStep"),
                Calls(calls.begin(), calls.end() - 1));
    } else {
      EXPECT_EQ(
          1, CountOf(calls, "OnTotalSteps " + std::to_string(test_case.total)));
    }
    EXPECT_EQ("OnSuccess", calls.back());
    EXPECT_TRUE(installer.succeeded());
    EXPECT_FALSE(settings->changeable());
  }
}

// The copy steps report once per batch of files, at most about a hundred
// times a list: small lists still report each file.
TEST_F(InstallerTest, CopyStepsCopyEveryFileAndReportOncePerBatch) {
  struct Case {
    const char* name;
    int files;
    bool with_root_files;
    int total;
  };
  // Without root files the skipped copy reports only its own step: the
  // total counts none for it, keeping it one above the steps reported.
  // 250 files go 3 to a batch: 84 reports.
  const Case kCases[] = {
      {"root files", 3, true, 8 + 1 + 2 + 1},
      {"no root files", 3, false, 8 + 1 + 2},
      {"batches", 250, true, 8 + 1 + 83 + 1},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(folder_);
    RemoveTree(package_);
    steps_run_.clear();
    std::vector<std::string> files = {"tarvo.exe", "resources\\a.pak",
                                      "resources\\b.pak"};
    for (int i = 3; i < test_case.files; ++i)
      files.push_back("resources\\more\\" + std::to_string(i) + ".pak");
    const std::vector<std::string> root_files = {"installer_prefs.json",
                                                 "launcher.exe"};
    WritePackage(files, test_case.with_root_files ? &root_files : nullptr);
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    const Calls calls = RunToEnd(installer, settings.get());

    EXPECT_EQ("OnTotalSteps " + std::to_string(test_case.total), calls[1]);
    EXPECT_EQ(test_case.total - 1, CountOf(calls, "OnStep"));
    EXPECT_EQ("OnSuccess", calls.back());
    const base::FilePath subfolder = folder_.Append(version_);
    for (const std::string& file : files) {
      EXPECT_EQ(file, base::TempTree::ReadFile(
                          subfolder.Append(base::Utf8ToWide(file))));
    }
    EXPECT_EQ(test_case.with_root_files,
              base::PathExists(folder_.Append(kLauncherName)));
    EXPECT_EQ(test_case.with_root_files,
              base::PathExists(folder_.Append(kInstallerPrefsName)));
  }
}

// From a package folder that goes after the run the files of a per-user
// installation are moved, but not those read again later (nor the root
// files); a failed run puts the moved files back. A folder that holds just
// listed files goes in one rename; one with anything else keeps that and
// gives up only its listed files. Any other package folder is left whole.
// So are those of an all-users run, and of one that may run elevated
// (whose package lies where only the administrators may read): each file
// and folder takes the list of its new place first, and all are put back
// all the same.
TEST_F(InstallerTest, TemporaryPackageFilesAreMovedAndPutBackOnFailure) {
  struct Case {
    const char* name;
    bool temporary;
    bool all_users;
    bool fail;
    bool moved;
    bool unlisted_file;
    bool raised = false;
  };
  const Case kCases[] = {
      {"kept package", false, false, false, false, false},
      {"temporary package", true, false, false, true, false},
      {"temporary package, unlisted file", true, false, false, true, true},
      {"temporary package, all users", true, true, false, true, false},
      {"temporary package, failed run", true, false, true, false, false},
      {"temporary package, unlisted file, failed run", true, false, true,
       false, true},
      {"temporary package, elevated", true, false, false, true, false,
       true},
      {"temporary package, elevated, failed run", true, false, true, false,
       false, true},
  };
  const std::vector<std::string> moved = {"tarvo.exe", "resources\\a.pak"};
  const std::vector<std::string> kept = {"installer.exe", "launcher.exe",
                                         "installer_helper_64.exe"};
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(folder_);
    RemoveTree(package_);
    std::vector<std::string> files = moved;
    files.insert(files.end(), kept.begin(), kept.end());
    WritePackage(files, {"launcher.exe"});
    if (test_case.unlisted_file)
      WritePackageFile("resources\\unlisted.txt");
    SetCommandLine(test_case.temporary
                       ? std::vector<std::wstring>{L"--temporary-package"}
                       : std::vector<std::wstring>{});
    // An all-users run is an administrator's: it would raise itself.
    const test::ScopedTokenRights token(
        test_case.raised || test_case.all_users ? test::kAdministratorToken
                                                : test::kStandardUserToken);
    std::unique_ptr<Settings> settings = InstallSettings();
    settings->SetFlag(ALL_USERS_FLAG, test_case.all_users);
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    if (test_case.fail) {
      installer.SetStepForTesting(
          Step::kFinalizeInstallation,
          base::Bind(
              [](Installer* installer) {
                installer->Fail(kStringInstallerError, L"", "failed");
              },
              &installer));
    }
    const Calls calls = RunToEnd(installer, settings.get());

    EXPECT_EQ(!test_case.fail, installer.succeeded());
    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      const base::FilePath source = package_.Append(base::Utf8ToWide(file));
      const bool is_moved =
          test_case.moved &&
          std::find(moved.begin(), moved.end(), file) != moved.end();
      EXPECT_EQ(is_moved ? "<missing>" : file, base::TempTree::ReadFile(source));
      if (!test_case.fail) {
        EXPECT_EQ(file, base::TempTree::ReadFile(folder_.Append(version_).Append(
                            base::Utf8ToWide(file))));
      }
    }
    EXPECT_EQ("launcher.exe",
              base::TempTree::ReadFile(package_.Append(kLauncherName)));
    EXPECT_EQ(!test_case.fail, base::PathExists(folder_));
    const bool folder_moved = test_case.moved && !test_case.unlisted_file;
    EXPECT_EQ(!folder_moved, base::PathExists(package_.Append(L"resources")));
    if (test_case.unlisted_file) {
      EXPECT_EQ("resources\\unlisted.txt",
                base::TempTree::ReadFile(
                    package_.Append(L"resources\\unlisted.txt")));
      EXPECT_FALSE(base::PathExists(
          folder_.Append(version_).Append(L"resources\\unlisted.txt")));
    }
  }
}

TEST_F(InstallerTest, VersionSubfolderAvoidsExistingFolders) {
  struct Case {
    std::vector<std::wstring> existing;
    std::wstring expected;
  };
  // Past "_99" a name would not fit the room the folder's limit made.
  std::vector<std::wstring> every_name = {version_};
  for (int suffix = 0; suffix < 100; ++suffix)
    every_name.push_back(version_ + L"_" + std::to_wstring(suffix));
  const Case kCases[] = {
      {{}, version_},
      {{version_}, version_ + L"_0"},
      {{version_, version_ + L"_0"}, version_ + L"_1"},
      {every_name, L""},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(base::WideToUtf8(test_case.expected));
    RemoveTree(folder_);
    for (const std::wstring& existing : test_case.existing)
      base::CreateDirectory(folder_.Append(existing));
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    const Calls calls = RunToEnd(installer, settings.get());
    if (test_case.expected.empty()) {
      EXPECT_EQ(0u, calls[calls.size() - 2].find("OnError 37059"));
      continue;
    }
    EXPECT_EQ("OnSuccess", calls.back());
    EXPECT_TRUE(base::PathExists(
        folder_.Append(test_case.expected).Append(L"tarvo.exe")));
    for (const std::wstring& existing : test_case.existing)
      EXPECT_FALSE(
          base::PathExists(folder_.Append(existing).Append(L"tarvo.exe")));
  }
}

// Every step fails in turn: the operations of the steps before it and its
// own are undone newest first, the run reports one error and its end, and
// nothing after the failing step runs.
TEST_F(InstallerTest, FailureAtEveryStepRollsBackInReverse) {
  const std::span<const Step> steps =
      Installer::GetStepList(Settings::kInstalling);
  for (int failing = 0; failing < static_cast<int>(steps.size()); ++failing) {
    SCOPED_TRACE(failing);
    RemoveTree(folder_);
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    Calls log;
    for (int i = 0; i < static_cast<int>(steps.size()); ++i) {
      installer.SetStepForTesting(
          steps[i], base::Bind(
                        [](Installer* installer, Calls* log, int i, int failing,
                           bool last) {
                          // Records and succeeds.
                          std::ignore =
                              installer->transaction()->ExecuteOperation(
                                  std::make_unique<RecordingOperation>(i, log));
                          if (i == failing) {
                            installer->Fail(kStringInstallerError, L"detail",
                                            "step failed");
                          } else if (last) {
                            installer->Succeeded();
                          } else {
                            installer->ScheduleNextStep();
                          }
                        },
                        &installer, &log, i, failing,
                        i + 1 == static_cast<int>(steps.size())));
    }
    const Calls calls = RunToEnd(installer, settings.get());

    Calls expected_log;
    for (int i = 0; i <= failing; ++i)
      expected_log.push_back("do " + std::to_string(i));
    for (int i = failing; i >= 0; --i)
      expected_log.push_back("undo " + std::to_string(i));
    EXPECT_EQ(expected_log, log);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("OnError 37055 detail step failed", calls[calls.size() - 2]);
    EXPECT_EQ("OnInstallerTerminated 0", calls.back());
    EXPECT_EQ(1, CountOf(calls, "OnError 37055 detail step failed"));
    EXPECT_EQ(0, CountOf(calls, "OnSuccess"));
    EXPECT_FALSE(installer.succeeded());
    // The folders the run created went with the rollback, and so did the
    // last installation path it saved.
    EXPECT_FALSE(base::PathExists(folder_));
    base::win::RegistryKey company(
        HKEY_CURRENT_USER, L"Software\\Tarvo Software", KEY_QUERY_VALUE);
    std::wstring saved;
    EXPECT_NE(ERROR_SUCCESS,
              company.ReadString((L"Last " + base::Utf8ToWide(GetStreamName()) +
                                  L" Install Path")
                                     .c_str(),
                                 &saved));
  }
}

TEST_F(InstallerTest, SucceededRunKeepsItsChangesAndSavesTheLastPath) {
  std::unique_ptr<Settings> settings = InstallSettings();
  Installer installer;
  InjectSteps(installer, Settings::kInstalling);
  EXPECT_EQ("OnSuccess", RunToEnd(installer, settings.get()).back());
  base::win::RegistryKey company(HKEY_CURRENT_USER, L"Software\\Tarvo Software",
                                 KEY_QUERY_VALUE);
  std::wstring saved;
  ASSERT_EQ(ERROR_SUCCESS,
            company.ReadString((L"Last " + base::Utf8ToWide(GetStreamName()) +
                                L" Install Path")
                                   .c_str(),
                               &saved));
  EXPECT_EQ(folder_.value() + L"\\", saved);
  EXPECT_TRUE(base::PathExists(folder_.Append(version_).Append(L"tarvo.exe")));
}

// The master shortcut is made in the package folder and copied to each
// destination in the transaction; a destination that already holds the
// plain name makes every copy carry the major version.
TEST_F(InstallerTest, MasterShortcutIsCopiedToEveryDestination) {
  const base::FilePath desktop = tree_.MakeDir(L"desktop");
  const base::FilePath start_menu = tree_.MakeDir(L"start menu");
  tree_.WriteFile(
      (L"desktop\\" + ProductShortcuts::GetShortcutFileName(false)).c_str(), "mine");
  std::unique_ptr<Settings> settings = InstallSettings();
  Installer installer;
  InjectSteps(installer, Settings::kInstalling);
  base::FilePath desktop_copy;
  base::FilePath start_menu_copy;
  bool use_version = false;
  bool created = false;
  const base::FilePath target = folder_.Append(kLauncherName);
  installer.SetStepForTesting(
      Step::kInstallShortcuts,
      base::Bind(
          [](Installer* installer, std::vector<base::FilePath*> results,
             std::vector<base::FilePath> folders, bool* use_version,
             bool* created, base::FilePath target) {
            std::vector<ProductShortcuts::ShortcutDestination> destinations = {
                {folders[0], results[0]}, {folders[1], results[1]}};
            *created = installer->product_shortcuts().CreateMasterShortcut(
                &destinations, false, use_version, target);
            EXPECT_TRUE(destinations.empty());
            installer->ScheduleNextStep();
          },
          &installer,
          std::vector<base::FilePath*>{&desktop_copy, &start_menu_copy},
          std::vector<base::FilePath>{desktop, start_menu}, &use_version,
          &created, target));
  EXPECT_EQ("OnSuccess", RunToEnd(installer, settings.get()).back());

  EXPECT_TRUE(created);
  EXPECT_TRUE(use_version);
  const std::wstring name = ProductShortcuts::GetShortcutFileName(true);
  EXPECT_NE(ProductShortcuts::GetShortcutFileName(false), name);
  EXPECT_EQ(desktop.Append(name), desktop_copy);
  EXPECT_EQ(start_menu.Append(name), start_menu_copy);
  for (const base::FilePath& shortcut :
       {package_.Append(name), desktop_copy, start_menu_copy}) {
    base::FilePath resolved;
    EXPECT_TRUE(base::win::ResolveShortcut(shortcut, &resolved))
        << shortcut.AsUTF8();
    EXPECT_EQ(target, resolved);
  }
  // The user's own file of the plain name is left alone.
  EXPECT_EQ("mine", base::TempTree::ReadFile(
                        desktop.Append(ProductShortcuts::GetShortcutFileName(false))));
}

TEST_F(InstallerTest, NoStepRunsAfterCancel) {
  std::unique_ptr<Settings> settings = InstallSettings();
  Installer installer;
  InjectSteps(installer, Settings::kInstalling);
  // The first step queues the next one and the run is cancelled before it
  // runs, as an interruption or a destruction would.
  installer.SetStepForTesting(Step::kCopyFiles,
                              base::Bind(
                                  [](Installer* installer, Calls* ran) {
                                    ran->push_back("first");
                                    installer->ScheduleNextStep();
                                    installer->Cancel();
                                  },
                                  &installer, &steps_run_));
  const Calls calls = RunToEnd(installer, settings.get());
  EXPECT_EQ(Calls{"first"}, steps_run_);
  EXPECT_EQ("OnInstallerTerminated 0", calls.back());
  EXPECT_FALSE(base::PathExists(folder_));
}

TEST_F(InstallerTest, InterruptedEventCancelsARunningInstallation) {
  std::unique_ptr<Settings> settings = InstallSettings();
  Installer installer;
  InjectSteps(installer, Settings::kInstalling);
  // The first step leaves the run waiting; the front end interrupts it.
  installer.SetStepForTesting(
      Step::kCopyFiles,
      base::Bind([](HANDLE interrupted) { SetEvent(interrupted); },
                 interrupted_.Get()));
  const Calls calls = RunToEnd(installer, settings.get());
  EXPECT_EQ("OnInstallerTerminated 0", calls.back());
  EXPECT_EQ(0, CountOf(calls, "OnSuccess"));
  EXPECT_TRUE(steps_run_.empty());
  EXPECT_FALSE(base::PathExists(folder_));
}

// Once the run succeeded, an interruption, a second success or an error
// change nothing and report nothing.
TEST_F(InstallerTest, EndedRunIgnoresLateSignalsAndEnds) {
  std::unique_ptr<Settings> settings = InstallSettings();
  Installer installer;
  InjectSteps(installer, Settings::kInstalling);
  EXPECT_EQ("OnSuccess", RunToEnd(installer, settings.get()).back());

  RecordingInstallerObserver late;
  installer.AddObserver(&late);
  SetEvent(interrupted_.Get());
  installer.OnObjectSignaled(interrupted_.Get());
  installer.Succeeded();
  installer.Fail(kStringInstallerError, std::wstring(), "late");
  installer.Cancel();
  installer.RemoveObserver(&late);
  EXPECT_TRUE(late.calls().empty());
  EXPECT_TRUE(installer.succeeded());
  EXPECT_TRUE(base::PathExists(folder_.Append(version_).Append(L"tarvo.exe")));
}

TEST_F(InstallerTest, DestroyingARunningInstallerRollsItBack) {
  std::unique_ptr<Settings> settings = InstallSettings();
  RecordingInstallerObserver observer;
  {
    Installer installer;
    installer.AddObserver(&observer);
    InjectSteps(installer, Settings::kInstalling);
    base::LoopRunner runner;
    installer.SetStepForTesting(
        Step::kCopyFiles,
        base::Bind([](base::LoopRunner* runner) { runner->Quit(); }, &runner));
    installer.Run(settings.get());
    runner.Run();
    EXPECT_TRUE(base::PathExists(folder_));
  }
  EXPECT_EQ("OnInstallerTerminated 0", observer.calls().back());
  EXPECT_FALSE(base::PathExists(folder_));
}

TEST_F(InstallerTest, FileListEntriesOutsideTheInstallationAreRefused) {
  const char* const kEntries[] = {
      "C:\\Windows\\evil.dll",       "C:/Windows/evil.dll",
      "\\\\server\\share\\evil.dll", "\\rooted.dll",
      "C:drive-relative.dll",
  };
  for (const char* entry : kEntries) {
    SCOPED_TRACE(entry);
    RemoveTree(folder_);
    tree_.WriteFile(L"package\\files_list",
                    std::string("tarvo.exe\r\n") + entry + "\r\n");
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    const Calls calls = RunToEnd(installer, settings.get());
    EXPECT_EQ(std::string("OnError 37055  Path outside the installation in "
                          "files list: ") +
                  entry,
              calls[calls.size() - 2]);
    EXPECT_EQ("OnInstallerTerminated 0", calls.back());
    EXPECT_FALSE(base::PathExists(folder_));
  }
}

// The package's deepest file, set aside as "<name>.<10 digits>_<2
// digits>.old", must keep within 259 characters below the folder: one
// character deeper and the run is refused before the folder is made.
TEST_F(InstallerTest, PackageTooDeepForTheFolderIsRefusedBeforeAnyChange) {
  const size_t folder_length = folder_.value().size();
  // The version's subfolder as its last reinstall would name it: "_99".
  const size_t fitting =
      259 - 18 - folder_length - 1 - (version_.size() + 3) - 1;
  for (const size_t deeper : {0, 1}) {
    SCOPED_TRACE(deeper);
    RemoveTree(folder_);
    const std::string deepest(fitting + deeper, 'p');
    WritePackage({"tarvo.exe", deepest}, nullptr);
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    const Calls calls = RunToEnd(installer, settings.get());
    if (!deeper) {
      EXPECT_EQ("OnSuccess", calls.back());
      EXPECT_TRUE(base::PathExists(
          folder_.Append(version_).Append(base::Utf8ToWide(deepest))));
      continue;
    }
    const std::string limit = std::to_string(folder_length - 1);
    EXPECT_EQ("OnError 37072 " + limit + " The installation folder's path has " +
                  std::to_string(folder_length) + " characters, more than the " +
                  limit + " its package's files allow",
              calls[calls.size() - 2]);
    EXPECT_FALSE(base::PathExists(folder_));
  }
}

TEST_F(InstallerTest, MissingOrEmptyFilesListFails) {
  struct Case {
    const char* list;  // Null: no "files_list".
    const char* message;
  };
  const Case kCases[] = {
      {nullptr, "Could not read files list"},
      {"\r\n\r\n", "No files in files list"},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.message);
    base::DeletePath(package_.Append(kFilesListName), false);
    if (test_case.list)
      tree_.WriteFile(L"package\\files_list", test_case.list);
    std::unique_ptr<Settings> settings = InstallSettings();
    Installer installer;
    const Calls calls = RunToEnd(installer, settings.get());
    EXPECT_EQ(std::string("OnError 37055  ") + test_case.message,
              calls[calls.size() - 2]);
    EXPECT_FALSE(base::PathExists(folder_));
  }
}

// The package's own installer takes over the installation and its exit code
// decides the run's end; it may be ready before the wait or during it.
TEST_F(InstallerTest, HandsOverToThePackageInstaller) {
  struct Case {
    const char* name;
    int exit_code;
    bool ready_before;
    Calls ending;
  };
  const Case kCases[] = {
      {"ready, exit 0", 0, true, {"OnSuccess"}},
      {"ready later, exit 0", 0, false, {"OnSuccess"}},
      {"ready, exit 1", 1, true, {kChildFailed, "OnInstallerTerminated 0"}},
  };
  base::win::ScopedHandle package_ready =
      CreateManualEvent(names_.package_ready_event());
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(folder_);
    RemoveTree(tree_.Path(L"fetched"));
    ResetEvent(package_ready.Get());
    PlaceChildTool(L"fetched", kPackageInstallerName, test_case.exit_code);
    SetCommandLine({L"--wait-for-package=" + tree_.Path(L"fetched").value()});
    std::unique_ptr<Settings> settings = InstallSettings();
    if (test_case.ready_before)
      SetEvent(package_ready.Get());
    else
      signal_on_folder_created_ = package_ready.Get();
    Installer installer;
    const Calls calls = RunToEnd(installer, settings.get());

    Calls expected = {"OnInstallFolderCreated", "OnStartingNewMainProcess 0",
                      "OnReturnedToPreviousMainProcess"};
    expected.insert(expected.end(), test_case.ending.begin(),
                    test_case.ending.end());
    EXPECT_EQ(expected, calls);
    EXPECT_EQ(test_case.exit_code == 0, installer.succeeded());
    const std::string child = ChildOutput(L"fetched", L"command_line.txt");
    EXPECT_TRUE(Contains(child, "--backend")) << child;
    EXPECT_TRUE(Contains(child, "--installfolder=")) << child;
    EXPECT_FALSE(Contains(child, "--post-elevated-install-tasks")) << child;
    // A failed hand-over rolls back the folder the wait had created.
    EXPECT_EQ(test_case.exit_code == 0, base::PathExists(folder_));
  }
}

TEST_F(InstallerTest, InterruptionWhileWaitingForThePackageCancels) {
  base::win::ScopedHandle package_ready =
      CreateManualEvent(names_.package_ready_event());
  PlaceChildTool(L"fetched", kPackageInstallerName, 0);
  SetCommandLine({L"--wait-for-package=" + tree_.Path(L"fetched").value()});
  std::unique_ptr<Settings> settings = InstallSettings();
  signal_on_folder_created_ = interrupted_.Get();
  Installer installer;
  EXPECT_EQ((Calls{"OnInstallFolderCreated", "OnInstallerTerminated 0"}),
            RunToEnd(installer, settings.get()));
  EXPECT_FALSE(
      base::PathExists(tree_.Path(L"fetched").Append(L"command_line.txt")));
  EXPECT_FALSE(base::PathExists(folder_));
}

// The branches Wine cannot show for real: a user who is no administrator,
// UAC switched off, a refused prompt, and a process that was already
// relaunched.
TEST_F(InstallerTest, ElevationThatCannotHappenFails) {
  struct Case {
    const char* name;
    AdminQuery admin;
    bool uac_off;
    bool silent;
    const wchar_t* switch_name;
    Calls expected;
    int shell_executes;
  };
  const Case kCases[] = {
      {"UAC off",
       &PlainUser,
       true,
       false,
       nullptr,
       {"OnError 37061  Elevated installation failed.",
        "OnInstallerTerminated 0"},
       0},
      {"refused prompt",
       &LimitedAdministrator,
       false,
       false,
       nullptr,
       {"OnStartingNewMainProcess 0",
        "OnError 37061  Elevated installation failed.",
        "OnInstallerTerminated 0"},
       1},
      {"already relaunched",
       &LimitedAdministrator,
       false,
       false,
       L"--run-elevated",
       {"OnError 37061  Elevated installation failed.",
        "OnInstallerTerminated 0"},
       0},
      {"silent",
       &LimitedAdministrator,
       false,
       true,
       nullptr,
       {"OnError 37055  Installation requires elevation, but cannot elevate "
        "when silent",
        "OnInstallerTerminated 0"},
       0},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    ScopedAdminQuery admin(test_case.admin);
    ScopedShellExecute shell(&RefusedPrompt);
    g_shell_executes = 0;
    base::win::RegistryKey policies(
        HKEY_LOCAL_MACHINE,
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
        KEY_SET_VALUE);
    const DWORD enable_lua = test_case.uac_off ? 0 : 1;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(policies.Handle(), L"EnableLUA", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&enable_lua),
                             sizeof(enable_lua)));
    SetCommandLine(test_case.switch_name
                       ? std::vector<std::wstring>{test_case.switch_name}
                       : std::vector<std::wstring>{});
    std::unique_ptr<Settings> settings = InstallSettings();
    ASSERT_TRUE(settings->SetAllUsers(true));
    settings->SetFlag(SILENT, test_case.silent);
    Installer installer;
    EXPECT_EQ(test_case.expected, RunToEnd(installer, settings.get()));
    EXPECT_EQ(test_case.shell_executes, g_shell_executes);
    EXPECT_FALSE(base::PathExists(folder_));
  }
}

// The real "runas" relaunch (Wine shows no prompt): the elevated installer
// does the work, and its exit code decides the run's end.
TEST_F(InstallerTest, RelaunchesElevatedThroughRunAs) {
  struct Case {
    int exit_code;
    Calls ending;
  };
  const Case kCases[] = {
      {0, {"OnSuccess"}},
      {1, {kChildFailed, "OnInstallerTerminated 0"}},
  };
  ScopedAdminQuery admin(&LimitedAdministrator);
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.exit_code);
    RemoveTree(tree_.Path(L"elevated"));
    // The path service names another program, as the program's name would
    // once its user had put another under it: the shell is still asked for
    // the running program, held until it has started.
    const base::FilePath tool = PlaceChildTool(
        L"elevated", kPackageInstallerName, test_case.exit_code);
    ScopedPathOverride exe(base::kExeFile, tool);
    ElevatedStandIn stand_in(tool);
    std::unique_ptr<Settings> settings = InstallSettings();
    ASSERT_TRUE(settings->SetAllUsers(true));
    settings->SetFlag(LAUNCH_TARVO, true);
    Installer installer;
    const Calls calls = RunToEnd(installer, settings.get());

    const std::vector<ElevatedStandIn::Start> kHeldRunningProgram = {
        {RunningProgram(), true}};
    EXPECT_EQ(kHeldRunningProgram, stand_in.starts());
    EXPECT_FALSE(IsHeldAgainstRenaming(RunningProgram()));

    Calls expected = {"OnStartingNewMainProcess 0",
                      "OnReturnedToPreviousMainProcess"};
    expected.insert(expected.end(), test_case.ending.begin(),
                    test_case.ending.end());
    EXPECT_EQ(expected, calls);
    const std::string child = ChildOutput(L"elevated", L"command_line.txt");
    EXPECT_TRUE(Contains(child, "--run-elevated")) << child;
    EXPECT_TRUE(Contains(
        child, "--parent-pid=" + std::to_string(GetCurrentProcessId())))
        << child;
    EXPECT_TRUE(Contains(child, "--allusers=1")) << child;
    // The elevated installer never launches the browser.
    EXPECT_TRUE(Contains(child, "--launchtarvo=0")) << child;
  }
}

// The shell starts nothing suspended: an elevated process that is not the
// program held is refused, before the run takes anything of it, whether
// this process may read its image or only name the file it came from; it
// is ended where the handle allows (an unelevated process's handle of an
// elevated one may not).
TEST_F(InstallerTest, ElevatedProcessOfAnotherImageIsRefused) {
  struct Case {
    const char* name;
    ElevatedStandIn::Access access;
    bool ended_by_the_run;
  };
  const Case kCases[] = {
      {"image read", ElevatedStandIn::Access::kWhole, true},
      {"image's file named", ElevatedStandIn::Access::kUnelevatedCaller,
       false},
  };
  ScopedAdminQuery admin(&LimitedAdministrator);
  // The base library's child tool, built in the base folder of the build.
  const base::FilePath stand_in_tool =
      ChildToolPath().DirName().DirName().DirName().DirName().Append(
          L"base\\process_child_tool.exe");
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    // Still running when it is looked at.
    ElevatedStandIn stand_in(stand_in_tool, test_case.access,
                             ElevatedStandIn::Image::kStandIn,
                             L"--sleep=600000");
    std::unique_ptr<Settings> settings = InstallSettings();
    ASSERT_TRUE(settings->SetAllUsers(true));
    Installer installer;

    const Calls calls = RunToEnd(installer, settings.get());

    ASSERT_EQ(1u, stand_in.starts().size());
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("OnStartingNewMainProcess 0", calls[0]);
    EXPECT_TRUE(Contains(calls[1], "OnError 37094 ")) << calls[1];
    if (!test_case.ended_by_the_run) {
      // Nothing else ends it.
      EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
                WaitForSingleObject(stand_in.started(), 0));
      TerminateProcess(stand_in.started(), 2);
    }
    DWORD exit_code = 0;
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(stand_in.started(), INFINITE));
    ASSERT_TRUE(GetExitCodeProcess(stand_in.started(), &exit_code));
    EXPECT_EQ(test_case.ended_by_the_run ? 1u : 2u, exit_code);
  }
}

// After an elevated installer that waited for the package, the run ends
// once, through the hand-over: never a success before the package is
// installed, nor after a failed one.
TEST_F(InstallerTest, ElevatedRunWaitingForThePackageEndsOnce) {
  struct Case {
    const char* name;
    int package_exit_code;
    bool ready_before;
    Calls ending;
  };
  const Case kCases[] = {
      {"ready, exit 0", 0, true, {"OnSuccess"}},
      {"ready later, exit 0", 0, false, {"OnSuccess"}},
      {"ready, exit 1", 1, true, {kChildFailed, "OnInstallerTerminated 0"}},
  };
  ScopedAdminQuery admin(&LimitedAdministrator);
  base::win::ScopedHandle package_ready =
      CreateManualEvent(names_.package_ready_event());
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(tree_.Path(L"elevated"));
    RemoveTree(tree_.Path(L"fetched"));
    ResetEvent(package_ready.Get());
    const base::FilePath tool =
        PlaceChildTool(L"elevated", kPackageInstallerName, 0);
    ScopedPathOverride exe(base::kExeFile, tool);
    ElevatedStandIn stand_in(tool);
    PlaceChildTool(L"fetched", kPackageInstallerName,
                   test_case.package_exit_code);
    SetCommandLine({L"--wait-for-package=" + tree_.Path(L"fetched").value()});
    std::unique_ptr<Settings> settings = InstallSettings();
    ASSERT_TRUE(settings->SetAllUsers(true));
    if (test_case.ready_before)
      SetEvent(package_ready.Get());
    else
      signal_after_first_return_ = package_ready.Get();
    Installer installer;
    const Calls calls = RunToEnd(installer, settings.get());

    Calls expected = {
        "OnStartingNewMainProcess 0", "OnReturnedToPreviousMainProcess",
        "OnStartingNewMainProcess 0", "OnReturnedToPreviousMainProcess"};
    expected.insert(expected.end(), test_case.ending.begin(),
                    test_case.ending.end());
    EXPECT_EQ(expected, calls);
    EXPECT_EQ(test_case.package_exit_code == 0, installer.succeeded());
    EXPECT_TRUE(Contains(ChildOutput(L"elevated", L"command_line.txt"),
                         "--wait-for-package="));
    const std::string package = ChildOutput(L"fetched", L"command_line.txt");
    EXPECT_TRUE(Contains(package, "--post-elevated-install-tasks")) << package;
  }
}

// A user who cannot write the folder and cannot become an administrator
// gets it granted by the elevated permission process, which is named the
// user by SID and released when the run ends. An exchange event that
// another process made first, signalled as a grant would be, is refused:
// no permission process is started on it.
TEST_F(InstallerTest, PermissionProcessGrantsTheFolderUntilTheRunEnds) {
  // The permission process is asked for through an elevation.
  SetUserAccountControl(true);
  using EventName = std::wstring (InstallerObjectNames::*)() const;
  struct Case {
    const char* name;
    int exit_code;
    Calls ending;
    EventName made_first;
  };
  const Calls kRefused = {
      "OnError 37055  Error when setting up the process to give us write "
      "permissions to installation folder",
      "OnInstallerTerminated 0"};
  const Case kCases[] = {
      {"granted", 0, {"OnSuccess"}, nullptr},
      {"ended without granting",
       1,
       {"OnError 37055  The process for giving us write permission to the "
        "installer folder didn't complete successfully",
        "OnInstallerTerminated 0"},
       nullptr},
      {"give event made first", 0, kRefused,
       &InstallerObjectNames::give_permission_event},
      {"undo event made first", 0, kRefused,
       &InstallerObjectNames::undo_permission_event},
  };
  ScopedAdminQuery admin(&PlainUser);
  wchar_t user[257] = {};
  DWORD user_size = 257;
  ASSERT_TRUE(GetUserNameW(user, &user_size));
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    RemoveTree(folder_);
    RemoveTree(tree_.Path(L"elevated"));
    const base::FilePath tool = PlaceChildTool(
        L"elevated", kPackageInstallerName, test_case.exit_code);
    ScopedPathOverride exe(base::kExeFile, tool);
    ElevatedStandIn stand_in(tool);
    base::win::ScopedHandle squatted;
    if (test_case.made_first) {
      squatted.Set(CreateEventW(nullptr, TRUE, TRUE,
                                (names_.*test_case.made_first)().c_str()));
      ASSERT_TRUE(squatted.IsValid());
    }
    std::unique_ptr<Settings> settings = InstallSettings();
    ASSERT_TRUE(settings->SetAllUsers(false));
    // Wine's user may write everywhere: the status says it may not.
    auto status = std::make_unique<Status>(false);
    status->Init(folder_);
    status->has_write_access = false;
    settings->ApplyStatus(std::move(status));
    Installer installer;
    InjectSteps(installer, Settings::kInstalling);
    const Calls calls = RunToEnd(installer, settings.get());

    ASSERT_GE(calls.size(), test_case.ending.size());
    EXPECT_EQ(test_case.ending,
              Calls(calls.end() - test_case.ending.size(), calls.end()));
    if (test_case.made_first) {
      EXPECT_FALSE(base::PathExists(
          tree_.Path(L"elevated").Append(L"command_line.txt")));
      continue;
    }
    WaitForChildEnd(L"elevated");
    if (test_case.exit_code == 0) {
      EXPECT_EQ("undone", ChildOutput(L"elevated", L"undo.txt"));
    }
    EXPECT_EQ(base::WideToUtf8(user), ChildOutput(L"elevated", L"user.txt"));
    const std::string child = ChildOutput(L"elevated", L"command_line.txt");
    const std::vector<ElevatedStandIn::Start> kHeldRunningProgram = {
        {RunningProgram(), true}};
    EXPECT_EQ(kHeldRunningProgram, stand_in.starts());
    EXPECT_TRUE(Contains(child, "--set-folder-permission=")) << child;
    EXPECT_TRUE(Contains(child, "--permissions-for-user=S-1-")) << child;
    EXPECT_FALSE(Contains(child, "--permanent-permissions")) << child;
  }
}

// The real steps up to the finalisation, which fails here (Wine replaces
// even a folder where the install log goes, so the failure is injected):
// the preferences were on disk for it to read, and the rollback takes them
// away with the files. The registry step is left out: the overridden roots
// of a test refuse the 32-bit view its Uninstall rows are written in.
TEST_F(InstallerTest, RealInstallStepsRollBackWhenFinalizingFails) {
  std::unique_ptr<Settings> settings = InstallSettings();
  for (int32_t flag : {DESKTOP_SHORTCUT, START_MENU_SHORTCUT,
                       QUICK_LAUNCH_SHORTCUT, PINNED_SHORTCUT}) {
    settings->SetFlag(flag, false);
  }
  tree_.WriteFile(L"package\\installer_prefs_include.json",
                  "{\"welcome-url\": 5}");
  const base::FilePath prefs_path = folder_.Append(kInstallerPrefsName);
  std::string prefs_seen;
  Installer installer;
  installer.SetStepForTesting(
      Step::kSetUpRegistry,
      base::Bind([](Installer* installer) { installer->ScheduleNextStep(); },
                 &installer));
  installer.SetStepForTesting(
      Step::kFinalizeInstallation,
      base::Bind(
          [](Installer* installer, const base::FilePath* prefs,
             std::string* seen) {
            base::ReadFileToString(*prefs, seen);
            installer->Fail(kStringInstallerError, L"",
                            "Failed saving the installation status");
          },
          &installer, &prefs_path, &prefs_seen));
  const Calls calls = RunToEnd(installer, settings.get());

  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ("OnError 37055  Failed saving the installation status",
            calls[calls.size() - 2]);
  EXPECT_TRUE(Contains(prefs_seen, "\"autoupdate\":false"));
  // A welcome page that is not text is not copied.
  EXPECT_FALSE(Contains(prefs_seen, "welcome-url"));
  EXPECT_FALSE(base::PathExists(folder_));
}

// The registration writes the scheme only where the installation wrote the
// associations key itself, and only a well-formed scheme; the run succeeds
// either way.
TEST_F(InstallerTest, ProtocolRegistrationWritesOnlyIntoItsOwnKey) {
  const std::wstring client =
      base::Utf8ToWide(GetProductName() + GetStreamName());
  const std::wstring key_path = L"SOFTWARE\\Clients\\StartMenuInternet\\" +
                                client + L"\\Capabilities\\URLAssociations";
  const struct {
    const wchar_t* scheme;
    bool recorded;
    bool written;
  } kCases[] = {
      {L"web+tarvo", true, true},
      {L"web+tarvo", false, false},
      {L"bad\\name", true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.scheme);
    RemoveTree(folder_);
    base::win::RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Create(HKEY_LOCAL_MACHINE, key_path.c_str(), KEY_ALL_ACCESS));
    RegDeleteValueW(key.Handle(), c.scheme);
    WriteExistingInstallation();
    if (c.recorded) {
      // The install step's record: the key as its table spells it.
      std::string log =
          base::TempTree::ReadFile(folder_.Append(kInstallLogName));
      log.replace(log.find(" <components>"), 0,
                  " <registry hive=\"HKLM\">\n"
                  "  <key path=\"Software\\Clients\\StartMenuInternet\\" +
                      base::WideToUtf8(client) +
                      "\\Capabilities\\UrlAssociations\" clean=\"1\">\n"
                      "   <value name=\"http\" type=\"REG_SZ\">x</value>\n"
                      "  </key>\n"
                      " </registry>\n");
      tree_.WriteFile(L"Tarvo\\installation_status.xml", log);
    }
    SetCommandLine({std::wstring(L"--register-tarvo-as-protocol-handler=") +
                    c.scheme});
    auto settings = std::make_unique<Settings>(
        false, false, false, folder_, false, Settings::kArchitectureX86);
    WaitForStatus(*settings);
    ASSERT_EQ(Settings::kRegisteringProtocolHandler, settings->operation())
        << settings->GetStatus()->status_file_error;
    ASSERT_TRUE(settings->GetStatus()->existing_installation);
    Installer installer;
    EXPECT_EQ("OnSuccess", RunToEnd(installer, settings.get()).back());
    std::wstring data;
    EXPECT_EQ(c.written,
              key.ReadString(c.scheme, &data) == ERROR_SUCCESS);
    if (c.written) {
      EXPECT_EQ(client, data);
    }
    EXPECT_TRUE(base::PathExists(folder_.Append(kInstallerPrefsName)));
  }
}

// The prefs in the installation folder are read only as the folder's own
// file: a second name of another file put there (which its writer could not
// read) is never copied into the new prefs.
TEST_F(InstallerTest, PrefsAreNeverReadThroughASecondName) {
  const base::FilePath outside =
      tree_.WriteFile(L"outside.json", "{\"planted\": \"secret-of-another\"}");
  for (const bool second_name : {false, true}) {
    SCOPED_TRACE(second_name);
    RemoveTree(folder_);
    WriteExistingInstallation();
    const base::FilePath prefs = folder_.Append(kInstallerPrefsName);
    if (second_name) {
      ASSERT_TRUE(::CreateHardLinkW(prefs.value().c_str(),
                                    outside.value().c_str(), nullptr));
    } else {
      tree_.WriteFile(L"Tarvo\\installer_prefs.json",
                      "{\"planted\": \"the-folders-own\"}");
    }
    SetCommandLine({L"--register-tarvo-as-protocol-handler=web+tarvo"});
    auto settings = std::make_unique<Settings>(
        false, false, false, folder_, false, Settings::kArchitectureX86);
    WaitForStatus(*settings);
    ASSERT_EQ(Settings::kRegisteringProtocolHandler, settings->operation());
    Installer installer;
    EXPECT_EQ("OnSuccess", RunToEnd(installer, settings.get()).back());
    const std::string written = base::TempTree::ReadFile(prefs);
    EXPECT_EQ(!second_name, Contains(written, "the-folders-own")) << written;
    EXPECT_FALSE(Contains(written, "secret-of-another")) << written;
    EXPECT_EQ("{\"planted\": \"secret-of-another\"}", base::TempTree::ReadFile(outside));
  }
}

// A scheme is registered as a value name: only what a URL scheme may be.
TEST(InstallerTasksTest, ProtocolSchemesAreCheckedBeforeRegistration) {
  const struct {
    const wchar_t* scheme;
    bool valid;
  } kCases[] = {
      {L"irc", true},
      {L"web+tarvo", true},
      {L"a1.b-c", true},
      {L"", false},
      {L"1irc", false},
      {L"+irc", false},
      {L"ir c", false},
      {L"irc:", false},
      {L"..\\x", false},
      {L"ftp\\shell", false},
      {L"t\u00e4rvo", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.valid, ProtocolHandlerStep::IsValidProtocolScheme(c.scheme)) << c.scheme;
  EXPECT_TRUE(ProtocolHandlerStep::IsValidProtocolScheme(std::wstring(64, L'a')));
  EXPECT_FALSE(ProtocolHandlerStep::IsValidProtocolScheme(std::wstring(65, L'a')));
}

TEST(InstallerTasksTest, SplitsTheReinstallCommandSafely) {
  struct Case {
    const wchar_t* command;
    bool valid;
    const wchar_t* program;
    const wchar_t* arguments;
  };
  const Case kCases[] = {
      {L"\"C:\\Program Files\\ie4uinit.exe\" -reinstall", true,
       L"C:\\Program Files\\ie4uinit.exe", L"-reinstall"},
      {L"C:\\Windows\\ie4uinit.exe -reinstall -x", true,
       L"C:\\Windows\\ie4uinit.exe", L"-reinstall -x"},
      // No blank: all of it is the program.
      {L"C:\\Windows\\ie4uinit.exe", true, L"C:\\Windows\\ie4uinit.exe", L""},
      {L"\"C:\\Windows\\ie4uinit.exe\"", true, L"C:\\Windows\\ie4uinit.exe",
       L""},
      // An unclosed quote gives nothing to run.
      {L"\"C:\\Windows\\ie4uinit.exe -reinstall", false, L"", L""},
      {L"\"", false, L"", L""},
      {L"", false, L"", L""},
      {L"\"\" -x", false, L"", L"-x"},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(base::WideToUtf8(test_case.command));
    std::wstring program = L"x";
    std::wstring arguments = L"x";
    EXPECT_EQ(test_case.valid, DefaultBrowserReset::SplitReinstallCommand(
                                   test_case.command, &program, &arguments));
    EXPECT_EQ(test_case.program, program);
    EXPECT_EQ(test_case.arguments, arguments);
  }
}

// Stored as the system stores it, its variables unexpanded.
bool WriteReinstallCommand(const wchar_t* command) {
  base::win::RegistryKey key;
  if (key.Create(HKEY_LOCAL_MACHINE,
                 L"SOFTWARE\\Clients\\StartMenuInternet\\"
                 L"IEXPLORE.EXE\\InstallInfo",
                 KEY_SET_VALUE) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes =
      static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.Handle(), L"ReinstallCommand", 0, REG_EXPAND_SZ,
                        reinterpret_cast<const BYTE*>(command),
                        bytes) == ERROR_SUCCESS;
}

std::wstring g_started_program;
BOOL WINAPI RecordStart(SHELLEXECUTEINFOW* info) {
  g_started_program = info->lpFile;
  info->hProcess = nullptr;
  return TRUE;
}

// Sets the process's SystemRoot and windir for its life.
class UserWindowsFolder {
 public:
  explicit UserWindowsFolder(const wchar_t* folder) {
    GetEnvironmentVariableW(L"SystemRoot", saved_, MAX_PATH);
    SetEnvironmentVariableW(L"SystemRoot", folder);
    SetEnvironmentVariableW(L"windir", folder);
  }
  ~UserWindowsFolder() {
    SetEnvironmentVariableW(L"SystemRoot", saved_);
    SetEnvironmentVariableW(L"windir", saved_);
  }

 private:
  wchar_t saved_[MAX_PATH] = {};
};

// An elevated uninstallation is given the user's environment, which the
// user may write (HKCU\Environment): the command's variables are the
// system's own folders, told by the system, or it does not run.
TEST(InstallerTasksTest, ReinstallCommandRunsOnlyFromTheSystemsOwnFolders) {
  wchar_t windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
  ASSERT_GT(length, 0u);
  struct Case {
    const wchar_t* stored;
    // Empty: nothing is started.
    std::wstring started;
  };
  const std::wstring system_cmd =
      std::wstring(windows) + L"\\system32\\cmd.exe";
  const Case kCases[] = {
      {L"%SystemRoot%\\system32\\cmd.exe /c exit 0", system_cmd},
      {L"\"%WINDIR%\\system32\\cmd.exe\" /c exit 0", system_cmd},
      {L"%USERPROFILE%\\cmd.exe /c exit 0", L""},
      {L"%TEMP%\\cmd.exe", L""},
      // Looked up in the user's search path.
      {L"cmd.exe /c exit 0", L""},
  };
  // The user's own values, as HKCU\Environment would give them.
  const UserWindowsFolder planted(L"C:\\users\\planted");
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(base::WideToUtf8(test_case.stored));
    base::win::ScopedRegistryOverride machine_root(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine_root.Valid());
    ASSERT_TRUE(WriteReinstallCommand(test_case.stored));
    ScopedShellExecute start(&RecordStart);
    test::RecordingAssociationShell shell(base::win::kVersionWin10);
    g_started_program.clear();

    DefaultBrowserReset::ResetDefaultBrowserToIe(true, &shell);

    EXPECT_EQ(test_case.started, g_started_program);
    EXPECT_EQ(test_case.started.empty(), shell.calls().empty());
  }
}

BOOL WINAPI FailToStart(SHELLEXECUTEINFOW* info) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  return FALSE;
}

// Wine's association registration answers E_NOTIMPL and the Open-with
// dialog would wait for a user: the recording shell stands in for both.
// Internet Explorer's reinstall command is read from a redirected machine
// root; where it is started for real it is cmd, which ends at once.
TEST(InstallerTasksTest, AllUsersBrowserResetNeedsTheReinstallCommand) {
  const std::vector<std::wstring> kSetAsDefault = {
      L"SetAppAsDefault(Internet Explorer, .htm, 0)",
      L"SetAppAsDefault(Internet Explorer, .html, 0)",
      L"SetAppAsDefault(Internet Explorer, http, 1)",
      L"SetAppAsDefault(Internet Explorer, https, 1)",
  };
  const std::vector<std::wstring> kOpenWith = {
      L"ShowOpenWithDialog(http, 0x4a)", L"NotifyAssociationChanged()"};
  const std::vector<std::wstring> kNothing;
  constexpr wchar_t kCmd[] = L"%SystemRoot%\\system32\\cmd.exe /c exit 0";
  struct Case {
    const char* label;
    bool all_users;
    // Null: no value.
    const wchar_t* command;
    InstallerElevation::ShellExecuteFunction start;
    base::win::WindowsVersion version;
    const std::vector<std::wstring>& calls;
  };
  const Case kCases[] = {
      {"all users, command ran", true, kCmd, nullptr,
       base::win::kVersionWin10, kSetAsDefault},
      {"all users, command ran, Windows 8", true, kCmd, nullptr,
       base::win::kVersionWin8, kOpenWith},
      {"all users, no command", true, nullptr, nullptr,
       base::win::kVersionWin10, kNothing},
      {"all users, unclosed quote", true, L"\"%SystemRoot%\\cmd.exe /c exit 0",
       nullptr, base::win::kVersionWin10, kNothing},
      {"all users, command failed to start", true, kCmd, &FailToStart,
       base::win::kVersionWin10, kNothing},
      {"current user", false, nullptr, nullptr, base::win::kVersionWin7,
       kSetAsDefault},
      {"current user, command not used", false, kCmd, &FailToStart,
       base::win::kVersionWin10, kSetAsDefault},
      {"current user, Windows 8", false, nullptr, nullptr,
       base::win::kVersionWin8, kOpenWith},
  };
  for (const Case& test_case : kCases) {
    SCOPED_TRACE(test_case.label);
    base::win::ScopedRegistryOverride machine_root(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine_root.Valid());
    if (test_case.command) {
      ASSERT_TRUE(WriteReinstallCommand(test_case.command));
    }
    ScopedShellExecute start(test_case.start);
    test::RecordingAssociationShell shell(test_case.version);

    DefaultBrowserReset::ResetDefaultBrowserToIe(test_case.all_users, &shell);

    EXPECT_EQ(test_case.calls, shell.calls());
  }
}

// The system's own parser takes the survey command line apart into the
// browser, the switch and the URL, whatever blanks and quotes they hold.
TEST(InstallerTasksTest, SurveyCommandLineKeepsBrowserAndUrlWhole) {
  const base::FilePath browser(
      L"C:\\Program Files\\Internet Explorer\\iexplore.exe");
  const std::string kUrls[] = {
      "http://survey.example/?version=1.2&uuid=x",
      "http://survey.example/?version=1 2&a=\"b c\" \\\"",
      "http://survey.example/?x=%PATH%",
  };
  for (const std::string& url : kUrls) {
    SCOPED_TRACE(url);
    const std::wstring command_line =
        UninstallSurvey::MakeSurveyCommandLine(browser, true, url);
    int count = 0;
    const base::win::ScopedLocalAlloc<LPWSTR> argv(
        CommandLineToArgvW(command_line.c_str(), &count));
    ASSERT_TRUE(argv);
    ASSERT_EQ(3, count);
    EXPECT_EQ(browser.value(), argv.Get()[0]);
    EXPECT_EQ(std::wstring(L"-private"), argv.Get()[1]);
    EXPECT_EQ(base::Utf8ToWide(url), argv.Get()[2]);
  }
}

TEST(InstallerTasksTest, NamesAndPlaceholders) {
  Installer installer;
  EXPECT_EQ(L"Unknown", installer.Resolve(L"Unknown"));
  EXPECT_EQ(L"", installer.Resolve(L"Uninstall"));
  EXPECT_EQ(L"Software\\Tarvo Software",
            installer.Resolve(L"CompanyRegistryKey"));
  EXPECT_EQ(nullptr, installer.GetRegistryRecord(HKEY_CURRENT_USER));
  EXPECT_EQ("x@1", InstallSteps::MakeCountedPrefValue("x", true));
  EXPECT_EQ("x@2", InstallSteps::MakeCountedPrefValue("x", false));
  EXPECT_EQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo " +
                base::Utf8ToWide(GetVersionString()) + L".x",
            InstallSteps::MakeUninstallKeyPath(L".x"));
}

}  // namespace
// A fault point and the log name a step by its name: two steps of one name
// could not be told apart, and a row without a body would end the run.
TEST(InstallerStepTableTest, EveryStepHasABodyAndANameOfItsOwn) {
  std::set<std::string> names;
  for (const Installer::StepDefinition& row : Installer::kStepTable) {
    EXPECT_NE(nullptr, row.run) << row.name;
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
  }
}

}  // namespace installer

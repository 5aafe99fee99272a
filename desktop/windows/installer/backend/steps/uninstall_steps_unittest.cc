#include <windows.h>

#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/message_loop/loop_runner.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/backend/steps/uninstall_steps.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/install_log/install_log_writer.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Step = Installer::Step;

constexpr wchar_t kVersion[] = L"45.0.2548.0";

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

 private:
  base::LoopRunner* runner_;
};

// The copy would wait for this very process to end: the record is only
// noted.
std::vector<base::FilePath> g_started_batches;
bool NoteBatch(const base::FilePath& batch_file,
               const std::vector<uint32_t>& /*process_ids*/,
               bool /*all_users*/) {
  g_started_batches.push_back(batch_file);
  return true;
}

// An installation made by hand: its files, and its install log written as
// the install steps write it.
class UninstallStepsTest : public SettingsTest {
 protected:
  UninstallStepsTest()
      : folder_(tree_.Path(L"Tarvo")),
        previous_starter_(UninstallSteps::SetBatchStarterForTesting(&NoteBatch)),
        interrupted_(::CreateEventW(
            nullptr, TRUE, FALSE,
            InstallerObjectNames(folder_)
                .installation_interrupted_event()
                .c_str())) {
    g_started_batches.clear();
  }
  ~UninstallStepsTest() override {
    UninstallSteps::SetBatchStarterForTesting(previous_starter_);
  }

  // An older installation beside the current one, its library held open
  // without sharing, and its log kept in old_status as `old_status`.
  void WriteOlderInstallationInUse(const base::FilePath& old_status,
                                   base::win::ScopedHandle* open) {
    InstallLog old_log;
    old_log.version = "44.0.1.0";
    old_log.path = folder_.value();
    old_log.subfolder = L"44.0.1.0";
    old_log.files = {L"tarvo.exe", L"tarvo.dll"};
    tree_.MakeDir(L"Tarvo\\44.0.1.0");
    tree_.WriteFile(L"Tarvo\\44.0.1.0\\tarvo.exe", "old");
    const base::FilePath library =
        tree_.WriteFile(L"Tarvo\\44.0.1.0\\tarvo.dll", "old");
    tree_.MakeDir(L"Tarvo\\old_status");
    ASSERT_TRUE(InstallLogWriter().Write(old_log, old_status));
    open->Set(::CreateFileW(library.value().c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open->IsValid());
  }

  // `more_files` and `more_root_files` join the log's lists as they are.
  void WriteInstallation(
      const std::vector<std::wstring>& more_files = {},
      const std::vector<std::wstring>& more_root_files = {}) {
    InstallLog log;
    log.all_users = false;
    log.version = base::WideToUtf8(kVersion);
    log.path = folder_.value();
    log.subfolder = kVersion;
    log.files = {L"tarvo.exe", L"tarvo.dll", L"resources\\a.pak"};
    log.files.insert(log.files.end(), more_files.begin(), more_files.end());
    log.root_files = {L"installer_prefs.json"};
    log.root_files.insert(log.root_files.end(), more_root_files.begin(),
                          more_root_files.end());
    log.hkcu_registry = {
        {2, "Software\\Tarvo Software\\Tarvo\\Stream",
         {{"REG_SZ", "channel", "stable"}}},
        {0, "Software\\Classes\\.htm\\OpenWithProgids",
         {{"REG_SZ", "TarvoHTML", ""}}},
        // Written by hand: it would take the vendor's key with it.
        {5, "Software\\Tarvo Software\\Tarvo", {}},
    };
    log.hklm_registry = {
        {1, "Software\\Clients\\StartMenuInternet\\Tarvo", {}},
    };
    WriteValue(HKEY_CURRENT_USER, L"Software\\Tarvo Software\\Tarvo\\Stream",
               L"channel");
    WriteValue(HKEY_CURRENT_USER, L"Software\\Classes\\.htm\\OpenWithProgids",
               L"TarvoHTML");
    WriteValue(HKEY_LOCAL_MACHINE,
               L"Software\\Clients\\StartMenuInternet\\Tarvo\\shell",
               L"");
    tree_.MakeDir(L"Tarvo\\45.0.2548.0\\resources");
    for (const wchar_t* file :
         {L"Tarvo\\45.0.2548.0\\tarvo.exe", L"Tarvo\\45.0.2548.0\\tarvo.dll",
          L"Tarvo\\45.0.2548.0\\resources\\a.pak", L"Tarvo\\launcher.exe",
          L"Tarvo\\installer_prefs.json", L"Tarvo\\pref_default_overrides"}) {
      tree_.WriteFile(file, "{}");
    }
    ASSERT_TRUE(InstallLogWriter().Write(log, folder_.Append(kInstallLogName)));
  }

  // Runs an uninstallation of the folder, and commits it.
  std::vector<std::string> Uninstall() {
    SetCommandLine({L"--silent"});
    auto settings = std::make_unique<Settings>(
        true, false, false, base::FilePath(), false, Settings::kArchitectureX86);
    WaitForStatus(*settings);
    EXPECT_TRUE(settings->SetInstallFolderIfAllowed(folder_));
    WaitForStatus(*settings);
    EXPECT_EQ(Settings::kUninstalling, settings->operation());
    std::vector<std::string> calls;
    {
      Installer installer;
      base::LoopRunner runner;
      EndWaiter waiter(&runner);
      installer.AddObserver(&waiter);
      installer.Run(settings.get());
      runner.Run();
      installer.RemoveObserver(&waiter);
      calls = waiter.calls();
    }
    return calls;
  }

  // What was there before, and stays.
  void WriteForeignRegistry() {
    WriteValue(HKEY_CURRENT_USER, L"Software\\Tarvo Software\\Other", L"x");
    WriteValue(HKEY_CURRENT_USER, L"Software\\Classes\\.htm\\OpenWithProgids",
               L"OtherHTML");
    WriteValue(HKEY_LOCAL_MACHINE,
               L"Software\\Clients\\StartMenuInternet\\Other", L"");
  }

  static void WriteValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    base::win::RegistryKey registry_key(root, key, KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, registry_key.WriteString(name, L"value"));
  }

  // Every key and value name below the keys the installation writes to, in
  // both (redirected) roots; the shell's own keys change by themselves.
  static std::set<std::wstring> RegistrySnapshot() {
    std::set<std::wstring> entries;
    for (const wchar_t* key : {L"Software\\Tarvo Software",
                               L"Software\\Classes", L"Software\\Clients"}) {
      AddKeys(HKEY_CURRENT_USER, L"HKCU", key, &entries);
      AddKeys(HKEY_LOCAL_MACHINE, L"HKLM", key, &entries);
    }
    return entries;
  }

  static void AddKeys(HKEY root,
                      const std::wstring& root_name,
                      const std::wstring& path,
                      std::set<std::wstring>* entries) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.empty() ? nullptr : path.c_str(), 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
      return;
    }
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      entries->insert(root_name + L"\\" + path + L":" + name);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      children.push_back(path.empty() ? name : path + L"\\" + name);
    }
    RegCloseKey(key);
    for (const std::wstring& child : children) {
      entries->insert(root_name + L"\\" + child);
      AddKeys(root, root_name, child, entries);
    }
  }

  // Runs an update of the folder from a package of one file, with every step
  // but those that clear the previous installation only going on.
  std::vector<std::string> Update() {
    const base::FilePath package = tree_.MakeDir(L"package");
    tree_.WriteFile(L"package\\files_list", "tarvo.exe\r\n");
    tree_.WriteFile(L"package\\tarvo.exe", "new");
    base::FilePath exe_dir;
    base::GetPathForKey(base::kExeDir, &exe_dir);
    base::SetPathOverride(base::kExeDir, package, true, false);
    SetCommandLine({L"--silent"});
    auto settings = std::make_unique<Settings>(
        false, false, false, folder_, false, Settings::kArchitectureX86);
    WaitForStatus(*settings);
    settings->SetFlag(LAUNCH_TARVO, false);
    EXPECT_EQ(Settings::kUpgrading, settings->operation());
    std::vector<std::string> calls;
    {
      Installer installer;
      const std::span<const Step> steps =
          Installer::GetStepList(Settings::kUpgrading);
      for (Step step : steps) {
        if (step == Step::kRemovePreviousFiles ||
            step == Step::kRemoveOldRootFiles ||
            step == Step::kPreserveInstallerStatus) {
          continue;
        }
        installer.SetStepForTesting(
            step, base::Bind(
                      [](Installer* i, bool last) {
                        if (last)
                          i->Succeeded();
                        else
                          i->ScheduleNextStep();
                      },
                      &installer, step == steps.back()));
      }
      base::LoopRunner runner;
      EndWaiter waiter(&runner);
      installer.AddObserver(&waiter);
      installer.Run(settings.get());
      runner.Run();
      installer.RemoveObserver(&waiter);
      calls = waiter.calls();
    }
    base::SetPathOverride(base::kExeDir, exe_dir, true, false);
    return calls;
  }

  std::set<std::wstring> Snapshot() const {
    std::set<std::wstring> entries;
    base::FileEnumerator enumerator(
        tree_.root(), base::FileEnumerator::kFiles |
                          base::FileEnumerator::kDirectories);
    for (base::FilePath path = enumerator.Next(); !path.empty();
         path = enumerator.Next()) {
      entries.insert(path.value().substr(tree_.root().value().size() + 1));
    }
    return entries;
  }

  std::string BatchText() const {
    std::string text;
    base::ReadFileToString(folder_.Append(kUninstallBatchName), &text);
    return text;
  }

  // Whether `log` holds the refusal of `path`.
  static bool LogsRefusal(const base::ScopedLogCapture& log,
                          const base::FilePath& path) {
    const std::string line =
        "Refused to delete outside the installation folder: " + path.AsUTF8();
    return std::find(log.lines().begin(), log.lines().end(), line) !=
           log.lines().end();
  }

  base::TempTree tree_;
  const base::FilePath folder_;
  UninstallSteps::BatchStarter previous_starter_;
  // The front end's event, as the runner creates it.
  base::win::ScopedHandle interrupted_;
};

TEST_F(UninstallStepsTest, LeavesOnlyTheBatchFileThatRemovesTheFolder) {
  WriteForeignRegistry();
  const std::set<std::wstring> registry_before = RegistrySnapshot();
  const std::set<std::wstring> before = Snapshot();
  WriteInstallation();
  ASSERT_NE(registry_before, RegistrySnapshot());

  const std::vector<std::string> calls = Uninstall();

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ("OnSuccess", calls.back());
  EXPECT_EQ(registry_before, RegistrySnapshot());
  std::set<std::wstring> expected = before;
  expected.insert({L"Tarvo", L"Tarvo\\k.bat"});
  EXPECT_EQ(expected, Snapshot());
  ASSERT_EQ(1u, g_started_batches.size());
  EXPECT_EQ(folder_.Append(kUninstallBatchName), g_started_batches[0]);
  EXPECT_TRUE(CleanupBatch::IsWellFormed(BatchText(), folder_));
  EXPECT_EQ(std::string::npos, BatchText().find("del \""));
}

// An installation holding what runs ended while writing left in its root,
// by this version or earlier ones, which no journal names any more: their
// staged copies, the temporary files of their writes, Wine's scratch of a
// replaced file, and preferences set aside as unparsable. The
// uninstallation takes them all, so the folder goes too. A name of another
// form stays, and so do a link under a leftover's name, with what it leads
// to, and a folder.
TEST_F(UninstallStepsTest, LeftoversOfEndedRunsGoWithTheFolder) {
  const struct {
    const wchar_t* name;
    bool goes;
  } kCases[] = {
      {L"648e.tmp.89f5fbf9.tmp", true},
      {L"648e.tmp", true},
      {L"A1.TMP", true},
      {L"648e.bad", true},
      {L"3c2.tmp.0badf00d.tmp.89f5fbf9.tmp", true},
      {L"rf3c1.tmp", true},
      {L"installer_prefs.bad", true},
      {L"installer_prefs.json.0123abcd.tmp", true},
      {L"installer_prefs.json.0123abcd.tmp.89f5fbf9.tmp", true},
      {L"installer_prefs.json.0123abcd.bad", true},
      {L"installation_status.xml.4567CDEF.tmp", true},
      {L"launcher.exe.0badf00d.tmp", true},
      {L"extra_root.dat.0badf00d.tmp", true},
      {L"notes.tmp", false},
      {L"12345.tmp", false},
      {L"rfx1.tmp", false},
      {L"user.txt.0123abcd.tmp", false},
      {L"648e.tmp.89f5fbf.tmp", false},
      {L"installer_prefs.json.bad", false},
      {L"notes.bad", false},
      {L"648e.tmp.89f5fbf9.tmp.old", false},
  };
  const base::FilePath canary = tree_.WriteFile(L"canary.txt", "another's");
  const std::set<std::wstring> before = Snapshot();
  WriteInstallation({}, {L"extra_root.dat"});
  std::set<std::wstring> expected = before;
  expected.insert({L"Tarvo", L"Tarvo\\k.bat", L"Tarvo\\7b.tmp"});
  for (const auto& test : kCases) {
    tree_.WriteFile((L"Tarvo\\" + std::wstring(test.name)).c_str(), "left");
    if (!test.goes)
      expected.insert(L"Tarvo\\" + std::wstring(test.name));
  }
  tree_.MakeDir(L"Tarvo\\7b.tmp");
  const base::ScopedUnixLink link(folder_.Append(L"5a5a.tmp"), canary);
  if (link.made())
    expected.insert(L"Tarvo\\5a5a.tmp");

  const std::vector<std::string> calls = Uninstall();

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ("OnSuccess", calls.back());
  EXPECT_EQ(expected, Snapshot());
  EXPECT_EQ("another's", base::TempTree::ReadFile(canary));
}

// The library stays open as a running browser would hold it: the batch file
// gets it, and the folders up to the installation folder but none above.
TEST_F(UninstallStepsTest, FileInUseIsLeftToTheBatchFile) {
  WriteInstallation();
  const base::FilePath library = folder_.Append(kVersion).Append(L"tarvo.dll");
  base::win::ScopedHandle open(::CreateFileW(library.value().c_str(),
                                             GENERIC_READ, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(open.IsValid());

  const std::vector<std::string> calls = Uninstall();

  EXPECT_EQ("OnSuccess", calls.back());
  EXPECT_TRUE(base::PathExists(library));
  EXPECT_FALSE(base::PathExists(folder_.Append(kVersion).Append(L"tarvo.exe")));
  const std::string text = BatchText();
  EXPECT_TRUE(CleanupBatch::IsWellFormed(text, folder_)) << text;
  const std::string folder = folder_.AsUTF8();
  EXPECT_NE(std::string::npos,
            text.find("del \"" + library.AsUTF8() + "\"\n"));
  const std::string version_line =
      "rmdir \"" + folder + "\\" + base::WideToUtf8(kVersion) + "\"\n";
  const std::string folder_line = "rmdir \"" + folder + "\"\n";
  ASSERT_NE(std::string::npos, text.find(version_line));
  EXPECT_LT(text.find(version_line), text.find(folder_line));
  EXPECT_EQ(std::string::npos,
            text.find("rmdir \"" + tree_.root().AsUTF8() + "\""));
  EXPECT_NE(std::string::npos,
            text.find("PID eq " + std::to_string(::GetCurrentProcessId())));
  EXPECT_EQ(std::string::npos, text.find("PID2_RUNNING"));
}

TEST_F(UninstallStepsTest, StatusFileThatCannotGoFailsAndRollsBack) {
  WriteInstallation();
  const base::FilePath status = folder_.Append(kInstallLogName);
  base::win::ScopedHandle open(::CreateFileW(status.value().c_str(),
                                             GENERIC_READ, FILE_SHARE_READ,
                                             nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(open.IsValid());

  const std::vector<std::string> calls = Uninstall();

  EXPECT_NE(calls.end(), std::find(calls.begin(), calls.end(),
                                   "OnError 37056  Failed to remove "
                                   "installation status file"))
      << testing::PrintToString(calls);
  EXPECT_TRUE(base::PathExists(status));
  EXPECT_TRUE(g_started_batches.empty());
}

// One old log that cannot be read and one that can: the readable one's files
// and the log go; the other log stays, and so does its folder.
TEST_F(UninstallStepsTest, OldInstallationsGoWithTheirLogs) {
  WriteInstallation();
  InstallLog old_log;
  old_log.version = "44.0.1.0";
  old_log.path = folder_.value();
  old_log.subfolder = L"44.0.1.0";
  old_log.files = {L"tarvo.exe", L"resources\\a.pak"};
  tree_.MakeDir(L"Tarvo\\44.0.1.0\\resources");
  tree_.WriteFile(L"Tarvo\\44.0.1.0\\tarvo.exe", "old");
  tree_.WriteFile(L"Tarvo\\44.0.1.0\\resources\\a.pak", "old");
  tree_.MakeDir(L"Tarvo\\old_status");
  const base::FilePath readable =
      folder_.Append(L"old_status\\installation_status.xml.1700000000");
  ASSERT_TRUE(InstallLogWriter().Write(old_log, readable));
  const base::FilePath unreadable = tree_.WriteFile(
      L"Tarvo\\old_status\\installation_status.xml.1600000000", "<broken");

  EXPECT_EQ("OnSuccess", Uninstall().back());

  EXPECT_FALSE(base::PathExists(folder_.Append(L"44.0.1.0\\tarvo.exe")));
  EXPECT_FALSE(
      base::PathExists(folder_.Append(L"44.0.1.0\\resources\\a.pak")));
  EXPECT_FALSE(base::PathExists(readable));
  EXPECT_TRUE(base::PathExists(unreadable));
}

// Logs kept in the same second as an earlier one each keep a name of their
// own: none is overwritten, and the new one is there in full.
TEST_F(UninstallStepsTest, UpdateKeepsThePreviousLogBesideEarlierOnes) {
  WriteInstallation();
  std::string installed_log;
  ASSERT_TRUE(
      base::ReadFileToString(folder_.Append(kInstallLogName), &installed_log));
  tree_.MakeDir(L"Tarvo\\old_status");
  const int64_t now = base::Time::Now().ToTimeT();
  std::set<std::wstring> earlier;
  for (int64_t second = now - 1; second <= now + 5; ++second) {
    const std::wstring name =
        L"installation_status.xml." + std::to_wstring(second);
    tree_.WriteFile((L"Tarvo\\old_status\\" + name).c_str(), "<earlier");
    earlier.insert(name);
  }

  EXPECT_EQ("OnSuccess", Update().back());

  EXPECT_FALSE(base::PathExists(folder_.Append(kInstallLogName)));
  EXPECT_FALSE(base::PathExists(folder_.Append(kInstallerPrefsName)));
  std::vector<std::wstring> added;
  base::FileEnumerator enumerator(folder_.Append(L"old_status"), false,
                                  base::FileEnumerator::kFiles, L"");
  for (base::FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    std::string text;
    base::ReadFileToString(path, &text);
    if (earlier.count(path.BaseName().value()) && text == "<earlier")
      continue;
    added.push_back(path.BaseName().value());
    EXPECT_EQ(installed_log, text);
  }
  EXPECT_EQ(1u, added.size());
}

// During an update an older installation's files go all together or not at
// all, and its log stays while any is left.
TEST_F(UninstallStepsTest, UpdateKeepsAnOlderInstallationThatIsInUse) {
  WriteInstallation();
  const base::FilePath library = tree_.Path(L"Tarvo\\44.0.1.0\\tarvo.dll");
  const base::FilePath old_status =
      folder_.Append(L"old_status\\installation_status.xml.1700000000");
  base::win::ScopedHandle open;
  ASSERT_NO_FATAL_FAILURE(WriteOlderInstallationInUse(old_status, &open));

  EXPECT_EQ("OnSuccess", Update().back());

  EXPECT_TRUE(base::PathExists(folder_.Append(L"44.0.1.0\\tarvo.exe")));
  EXPECT_TRUE(base::PathExists(library));
  EXPECT_TRUE(base::PathExists(old_status));
}

// An uninstallation started from an older installation's folder holds that
// installer open: its files go to the batch file, and its log and the
// old_status folder go at once.
TEST_F(UninstallStepsTest, OlderInstallationInUseIsLeftToTheBatchFile) {
  WriteInstallation();
  const base::FilePath library = tree_.Path(L"Tarvo\\44.0.1.0\\tarvo.dll");
  const base::FilePath old_status =
      folder_.Append(L"old_status\\installation_status.xml.1700000000");
  base::win::ScopedHandle open;
  ASSERT_NO_FATAL_FAILURE(WriteOlderInstallationInUse(old_status, &open));

  EXPECT_EQ("OnSuccess", Uninstall().back());

  EXPECT_FALSE(base::PathExists(folder_.Append(L"44.0.1.0\\tarvo.exe")));
  EXPECT_TRUE(base::PathExists(library));
  EXPECT_FALSE(base::PathExists(folder_.Append(L"old_status")));
  const std::string text = BatchText();
  EXPECT_TRUE(CleanupBatch::IsWellFormed(text, folder_)) << text;
  EXPECT_NE(std::string::npos,
            text.find("del \"" + library.AsUTF8() + "\"\n"))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("rmdir \"" + folder_.AsUTF8() + "\\44.0.1.0\"\n"))
      << text;
}

// Names in the logs that Windows opens as devices or as the folder itself
// ("Tarvo\." would take the whole installation folder, and the user's file
// in it, with it): each is logged and left, and the good names still go.
TEST_F(UninstallStepsTest, UpdateDeletesOnlyNamesInsideTheFolder) {
  WriteInstallation({}, {L".", L"CONOUT$"});
  const base::FilePath notes = tree_.WriteFile(L"Tarvo\\notes.txt", "mine");
  InstallLog old_log;
  old_log.version = "44.0.1.0";
  old_log.path = folder_.value();
  old_log.subfolder = L"44.0.1.0";
  old_log.files = {L"tarvo.exe", L"NUL", L"COM1.txt", L"tarvo.exe:stream"};
  tree_.MakeDir(L"Tarvo\\44.0.1.0");
  const base::FilePath old_executable =
      tree_.WriteFile(L"Tarvo\\44.0.1.0\\tarvo.exe", "old");
  tree_.MakeDir(L"Tarvo\\old_status");
  const base::FilePath old_status =
      folder_.Append(L"old_status\\installation_status.xml.1700000000");
  ASSERT_TRUE(InstallLogWriter().Write(old_log, old_status));

  base::ScopedLogCapture log;
  EXPECT_EQ("OnSuccess", Update().back());

  EXPECT_TRUE(base::PathExists(notes));
  EXPECT_FALSE(base::PathExists(folder_.Append(kInstallerPrefsName)));
  EXPECT_FALSE(base::PathExists(old_executable));
  EXPECT_FALSE(base::PathExists(old_status));
  for (const wchar_t* refused :
       {L".", L"CONOUT$", L"44.0.1.0\\NUL", L"44.0.1.0\\COM1.txt",
        L"44.0.1.0\\tarvo.exe:stream"}) {
    EXPECT_TRUE(LogsRefusal(log, folder_.Append(refused))) << refused;
  }
}

TEST_F(UninstallStepsTest, UninstallDeletesOnlyNamesInsideTheFolder) {
  WriteInstallation({L"NUL", L"lpt9.log", L"."}, {L".", L"CONOUT$"});
  const base::FilePath notes = tree_.WriteFile(L"Tarvo\\notes.txt", "mine");

  base::ScopedLogCapture log;
  EXPECT_EQ("OnSuccess", Uninstall().back());

  EXPECT_TRUE(base::PathExists(notes));
  EXPECT_FALSE(base::PathExists(folder_.Append(kVersion).Append(L"tarvo.dll")));
  EXPECT_FALSE(base::PathExists(folder_.Append(kInstallerPrefsName)));
  const std::string text = BatchText();
  EXPECT_TRUE(CleanupBatch::IsWellFormed(text, folder_)) << text;
  EXPECT_EQ(std::string::npos, text.find("del \"")) << text;
  const base::FilePath version_folder = folder_.Append(kVersion);
  for (const base::FilePath& refused :
       {folder_.Append(L"."), folder_.Append(L"CONOUT$"),
        version_folder.Append(L"NUL"), version_folder.Append(L"lpt9.log"),
        version_folder.Append(L".")}) {
    EXPECT_TRUE(LogsRefusal(log, refused)) << refused.AsUTF8();
  }
}

// The log's version folder leads out of the installation folder: the
// executable there is not the installation's, and stays.
TEST_F(UninstallStepsTest, VersionFolderOutsideTheFolderIsLeft) {
  WriteInstallation();
  const base::FilePath log_file = folder_.Append(kInstallLogName);
  InstallLog log;
  ASSERT_TRUE(InstallLogReader().Read(&log, log_file));
  log.subfolder = L"..\\Other";
  ASSERT_TRUE(InstallLogWriter().Write(log, log_file));
  tree_.MakeDir(L"Other");
  const base::FilePath other = tree_.WriteFile(L"Other\\tarvo.exe", "other");

  base::ScopedLogCapture captured;
  EXPECT_EQ("OnSuccess", Uninstall().back());

  EXPECT_TRUE(base::PathExists(other));
  EXPECT_TRUE(LogsRefusal(captured, folder_.Append(L"..\\Other\\tarvo.exe")));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/frontend/installer_runner.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/process/process.h"
#include "base/test/ended_process.h"
#include "base/test/temp_tree.h"
#include "base/test/text_file.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/test/settings_test_environment.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The runs that launch a backend are tested between real processes; here
// only what ends before a launch.
using InstallerRunnerTest = SettingsTest;

TEST_F(InstallerRunnerTest, SettingsWithoutOperationAreRefusedBeforeAnything) {
  const base::FilePath folder(L"C:\\Tarvo|invalid");
  std::unique_ptr<Settings> settings = MakeSettings(folder);
  ASSERT_EQ(Settings::kNoOperation, settings->operation());
  base::TempTree package;
  InstallerRunner runner(package.root(), base::FilePath(), false);
  RecordingInstallerObserver observer;
  runner.AddObserver(&observer);

  EXPECT_FALSE(runner.StartInstallation(settings.get()));
  EXPECT_EQ(std::vector<std::string>(
                {"OnError 37058  "
                 "Attempting to start installation with invalid settings"}),
            observer.calls());
  const InstallerObjectNames names(folder);
  EXPECT_FALSE(base::win::ScopedHandle(
                   OpenMutexW(SYNCHRONIZE, FALSE, names.mutex().c_str()))
                   .IsValid());
  // Not taken: a later run with valid settings may start.
  EXPECT_TRUE(settings->changeable());
}

TEST_F(InstallerRunnerTest, RefusedFolderNamesALengthOverTheLimit) {
  const std::wstring base = L"C:\\Tarvo\\";
  const struct {
    std::wstring folder;
    std::string call;
  } kCases[] = {
      {base + std::wstring(210 - base.size(), L'a'), ""},
      {base + std::wstring(211 - base.size(), L'a'),
       "OnError 37072 210 The installation folder's path has 211 characters, "
       "more than the 210 allowed"},
      {L"C:\\Tarvo|invalid",
       "OnError 37058  Attempting to start installation with invalid "
       "settings"},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.folder.size());
    std::unique_ptr<Settings> settings =
        MakeSettings(base::FilePath(test_case.folder));
    if (test_case.call.empty()) {
      EXPECT_NE(Settings::kNoOperation, settings->operation());
      continue;
    }
    base::TempTree package;
    InstallerRunner runner(package.root(), base::FilePath(), false);
    RecordingInstallerObserver observer;
    runner.AddObserver(&observer);
    EXPECT_FALSE(runner.StartInstallation(settings.get()));
    EXPECT_EQ(std::vector<std::string>({test_case.call}), observer.calls());
  }
}

// A run that died in the folder replaced the launcher; another program now
// holds the new one, so the folder's recovery cannot put the original
// back. No run may start there: the user learns which file is held, and
// the folder is not taken.
TEST_F(InstallerRunnerTest, FolderWhoseRecoveryIsUnfinishedNamesTheHeldFile) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::TempTree temp;
  const base::FilePath folder = temp.root().Append(L"Tarvo");
  const base::FilePath launcher = folder.Append(L"launcher.exe");
  const base::FilePath aside = launcher.AddExtension(L"1796732338.old");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::WriteTextFile(aside, "original"));
  ASSERT_TRUE(base::WriteTextFile(launcher, "new"));
  ASSERT_TRUE(base::WriteTextFile(
      folder.Append(L"installer_run_20261207204000_" +
                    std::to_wstring(ended.Pid()) + L".journal"),
      "aside\t" + launcher.AsUTF8() + "\t" + aside.AsUTF8() + "\ncreated\t" +
          launcher.AsUTF8() + "\n"));
  const base::win::ScopedHandle held(
      CreateFileW(launcher.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held.IsValid());
  std::unique_ptr<Settings> settings = MakeSettings(folder);
  base::TempTree package;
  InstallerRunner runner(package.root(), base::FilePath(), false);
  RecordingInstallerObserver observer;
  runner.AddObserver(&observer);

  EXPECT_FALSE(runner.StartInstallation(settings.get()));

  ASSERT_EQ(1u, observer.calls().size());
  const std::string expected =
      "OnError 37073 " + launcher.AsUTF8() +
      " A run that died left work in the folder that could not be undone at " +
      launcher.AsUTF8() + ": ";
  EXPECT_EQ(expected, observer.calls()[0].substr(0, expected.size()));
  EXPECT_FALSE(base::win::ScopedHandle(
                   OpenMutexW(SYNCHRONIZE, FALSE,
                              InstallerObjectNames(folder).mutex().c_str()))
                   .IsValid());
  EXPECT_TRUE(settings->changeable());
}

}  // namespace
}  // namespace installer

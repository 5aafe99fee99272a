#include "desktop/windows/installer/installer_runner.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/settings.h"
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
      {base + std::wstring(247 - base.size(), L'a'), ""},
      {base + std::wstring(248 - base.size(), L'a'),
       "OnError 37072 247 The installation folder's path has 248 characters, "
       "more than the 247 allowed"},
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

}  // namespace
}  // namespace installer

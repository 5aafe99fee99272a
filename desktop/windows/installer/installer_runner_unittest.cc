#include "desktop/windows/installer/installer_runner.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
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

}  // namespace
}  // namespace installer

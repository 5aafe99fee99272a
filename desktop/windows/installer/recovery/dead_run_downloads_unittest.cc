#include "desktop/windows/installer/recovery/dead_run_downloads.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/ended_process.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

bool MakeFile(const base::FilePath& path) {
  return base::WriteBufferToFile(path, "MZ", 2) == 2;
}

// A package folder as unpacking leaves it: files and a subfolder.
bool MakePackage(const base::FilePath& folder) {
  return base::CreateDirectory(folder.Append(L"resources")) &&
         MakeFile(folder.Append(L"installer.exe")) &&
         MakeFile(folder.Append(L"resources\\big.pak"));
}

// A killed run's files stay in use a moment after its end: its package goes
// once they are let go. Here a file of the package is held until the same
// run's download beside it is gone, which the first round of removal does.
TEST(DeadRunDownloadsTest, PackageHeldForAMomentIsStillRemoved) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath package =
      temp.path().Append(L"tarvo_installer_20261207204000_" +
                         std::to_wstring(ended.Pid()));
  const base::FilePath download = package.AddExtension(L"exe");
  ASSERT_TRUE(MakePackage(package));
  ASSERT_TRUE(MakeFile(download));
  base::win::ScopedHandle held(::CreateFileW(
      package.Append(L"installer.exe").value().c_str(), GENERIC_READ,
      FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
      nullptr));
  ASSERT_TRUE(held.IsValid());
  std::atomic<bool> done = false;
  std::thread holder([&] {
    while (base::PathExists(download) && !done)
      ::Sleep(1);
    held.Close();
  });

  DeadRunDownloads::RemoveFrom(temp.path());
  done = true;
  holder.join();

  EXPECT_FALSE(base::PathExists(download));
  EXPECT_FALSE(base::PathExists(package));
}

}  // namespace
}  // namespace installer

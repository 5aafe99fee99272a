#include "desktop/windows/installer/entry/executable_directory.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/null_standard_handles.h"
#include "base/process/process.h"
#include "base/threading/lock.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {
namespace {

// {374DE290-123F-4565-9164-39C4925E467B}
constexpr GUID kFolderIdDownloads = {
    0x374DE290,
    0x123F,
    0x4565,
    {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
// Downloads has no CSIDL: without the known-folder function there is none.
constexpr int kNoCsidl = -1;
constexpr char kVersionSwitch[] = "version";

// The copy runs alone, without the library beside it: whatever it has to
// say about that goes to the null device, never into our caller's output.
// It lies in a folder others may write, so it runs only as checked and held.
bool LaunchAndWait(const base::CommandLine& command_line) {
  SignedProgramLauncher launcher;
  if (!launcher.Hold(command_line.GetProgram(),
                     SignedProgramLauncher::Files::kProgram,
                     SignedProgramLauncher::Identity::kRunningBuild)) {
    return false;
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kFolderProbeStart);
  base::ProcessLaunchOptions options;
  base::NullStandardHandles null_handles;
  if (!null_handles.ApplyTo(&options))
    LOG(WARNING) << "The test run keeps our standard handles";
  base::Process process;
  {
    base::AutoLock launch_lock(base::GetProcessLaunchLock());
    process = launcher.Launch(command_line, options);
  }
  if (!process.IsValid())
    return false;
  int exit_code = 0;
  if (!process.WaitForExit(&exit_code))
    PLOG(WARNING) << "Could not wait for the test run";
  return true;
}

// Unique in this process; the process id makes it unique beside others.
std::wstring SetAsideName(const base::FilePath& copy) {
  static std::atomic<uint32_t> counter{0};
  return copy.BaseName().value() + L"." +
         std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter) + L".deleted";
}

// Deletes the copy so that its folder is left empty at once. Another may
// still hold the copy, sharing its deletion (the platform's check of the
// start on its own handle, a scanner): the copy is then only marked for
// deletion and stays listed in its folder until the last holder lets go,
// and the folder could not be removed now, nor by anyone later. Moved
// first beside the folder, it goes from there whenever that is, whoever
// lets go first.
bool DeleteCopy(const base::FilePath& copy) {
  base::ResolvedEntry entry = base::ResolvedEntry::Resolve(
      copy, base::ResolvedEntry::Purpose::kToDelete);
  if (!entry.holds_handle())
    return base::DeletePath(copy, false);
  if (!entry.RenameJudgedFile(
          copy.DirName().DirName().Append(SetAsideName(copy)))) {
    PLOG(WARNING) << "Could not move " << copy.AsUTF8()
                  << " out of its folder";
  }
  return entry.DeleteJudgedFile();
}

internal::RunAndWaitFunction g_run_and_wait_for_testing = nullptr;

bool RunAndWait(const base::CommandLine& command_line) {
  if (g_run_and_wait_for_testing)
    return g_run_and_wait_for_testing(command_line);
  return LaunchAndWait(command_line);
}

}  // namespace

bool FindExecutableDirectory(const std::wstring& folder_name,
                             const base::FilePath& executable,
                             size_t room_below,
                             base::FilePath* folder) {
  return TryPathKeyDirectory(folder_name, executable, room_below, folder,
                             base::kTempDir) ||
         TryDownloadsDirectory(folder_name, executable, room_below, folder) ||
         TryPathKeyDirectory(folder_name, executable, room_below, folder,
                             base::kHomeDir) ||
         TryPathKeyDirectory(folder_name, executable, room_below, folder,
                             base::kExeDir);
}

bool TryPathKeyDirectory(const std::wstring& folder_name,
                         const base::FilePath& executable,
                         size_t room_below,
                         base::FilePath* folder,
                         int path_key) {
  base::FilePath parent;
  if (!base::GetPathForKey(path_key, &parent))
    return false;
  if (!TryExecutableDirectory(folder_name, executable, room_below, &parent))
    return false;
  *folder = std::move(parent);
  return true;
}

bool TryDownloadsDirectory(const std::wstring& folder_name,
                           const base::FilePath& executable,
                           size_t room_below,
                           base::FilePath* folder) {
  base::FilePath parent;
  if (!GetKnownFolderPath(kFolderIdDownloads, kNoCsidl, &parent, true))
    return false;
  if (!TryExecutableDirectory(folder_name, executable, room_below, &parent))
    return false;
  *folder = std::move(parent);
  return true;
}

bool TryExecutableDirectory(const std::wstring& folder_name,
                            const base::FilePath& executable,
                            size_t room_below,
                            base::FilePath* folder) {
  const base::FilePath candidate = folder->Append(folder_name);
  if (!LeavesRoomBelow(candidate, room_below))
    return false;
  if (!base::CreateDirectory(candidate)) {
    PLOG(WARNING) << "Could not create " << candidate.AsUTF8();
    return false;
  }
  if (!executable.empty() && !TestRunExecutable(candidate, executable)) {
    // Removes only a folder left empty, never what others keep there.
    ::RemoveDirectoryW(candidate.value().c_str());
    return false;
  }
  *folder = candidate;
  return true;
}

bool TestRunExecutable(const base::FilePath& folder,
                       const base::FilePath& executable) {
  const base::FilePath copy = folder.Append(executable.BaseName().value());
  // A file already there may be the executable itself: it is not ours to
  // delete when the copy fails.
  const bool copy_existed = base::PathExists(copy);
  if (!base::CopyFileChecked(executable, copy)) {
    PLOG(WARNING) << "Could not copy " << executable.AsUTF8() << " to "
                  << folder.AsUTF8();
    if (!copy_existed)
      base::DeletePath(copy, false);
    return false;
  }
  TestHooks::OnRolePoint(TestHooks::RolePoint::kFolderProbe);
  base::CommandLine command_line(copy);
  command_line.AppendSwitch(kVersionSwitch);
  const bool started = RunAndWait(command_line);
  if (!started)
    PLOG(WARNING) << "Could not run " << copy.AsUTF8();
  if (!DeleteCopy(copy))
    PLOG(WARNING) << "Could not delete " << copy.AsUTF8();
  return started;
}

bool LeavesRoomBelow(const base::FilePath& folder, size_t room_below) {
  const size_t length = folder.value().size();
  if (length + room_below < MAX_PATH)
    return true;
  LOG(WARNING) << folder.AsUTF8() << " is " << length
               << " characters long: with the " << room_below
               << " the installer puts below it, its paths would pass the "
                  "limit of "
               << MAX_PATH - 1 << " characters";
  return false;
}

namespace internal {

RunAndWaitFunction SetRunAndWaitForTesting(RunAndWaitFunction run_and_wait) {
  return std::exchange(g_run_and_wait_for_testing, run_and_wait);
}

}  // namespace internal

}  // namespace installer

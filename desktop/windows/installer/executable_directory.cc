#include "desktop/windows/installer/executable_directory.h"

#include <windows.h>

#include <shlobj.h>

#include <utility>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_co_mem.h"

namespace installer {
namespace {

// {374DE290-123F-4565-9164-39C4925E467B}
constexpr GUID kFolderIdDownloads = {
    0x374DE290,
    0x123F,
    0x4565,
    {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
constexpr DWORD kCreateAndInitFlags =
    static_cast<DWORD>(KF_FLAG_CREATE) | static_cast<DWORD>(KF_FLAG_INIT);
constexpr char kVersionSwitch[] = "version";

using GetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID,
                                                    DWORD,
                                                    HANDLE,
                                                    PWSTR*);

bool LaunchAndWait(const base::CommandLine& command_line) {
  base::ProcessLaunchOptions options;
  options.wait = true;
  return base::LaunchProcessForCommandLine(command_line, options).IsValid();
}

internal::RunAndWaitFunction g_run_and_wait_for_testing = nullptr;

bool RunAndWait(const base::CommandLine& command_line) {
  if (g_run_and_wait_for_testing)
    return g_run_and_wait_for_testing(command_line);
  return LaunchAndWait(command_line);
}

// Known folders are missing before Vista, so the function is looked up
// rather than imported. shell32 needs no loading: the path service imports
// it already.
GetKnownFolderPathFunction LookUpGetKnownFolderPath() {
  HMODULE shell32 = ::GetModuleHandleW(L"shell32.dll");
  if (!shell32)
    return nullptr;
  return reinterpret_cast<GetKnownFolderPathFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(shell32, "SHGetKnownFolderPath")));
}

bool GetDownloadsFolder(base::FilePath* folder) {
  GetKnownFolderPathFunction get_known_folder_path = LookUpGetKnownFolderPath();
  if (!get_known_folder_path)
    return false;
  base::win::ScopedCoMem<wchar_t> path;
  if (FAILED(get_known_folder_path(kFolderIdDownloads, 0, nullptr,
                                   path.Receive())) &&
      FAILED(get_known_folder_path(kFolderIdDownloads, kCreateAndInitFlags,
                                   nullptr, path.Receive()))) {
    return false;
  }
  *folder = base::FilePath(path.Get());
  return true;
}

}  // namespace

bool FindExecutableDirectory(const std::wstring& folder_name,
                             const base::FilePath& executable,
                             base::FilePath* folder) {
  return TryPathKeyDirectory(folder_name, executable, folder, base::kTempDir) ||
         TryDownloadsDirectory(folder_name, executable, folder) ||
         TryPathKeyDirectory(folder_name, executable, folder, base::kHomeDir) ||
         TryPathKeyDirectory(folder_name, executable, folder, base::kExeDir);
}

bool TryPathKeyDirectory(const std::wstring& folder_name,
                         const base::FilePath& executable,
                         base::FilePath* folder,
                         int path_key) {
  base::FilePath parent;
  if (!base::GetPathForKey(path_key, &parent))
    return false;
  if (!TryExecutableDirectory(folder_name, executable, &parent))
    return false;
  *folder = std::move(parent);
  return true;
}

bool TryDownloadsDirectory(const std::wstring& folder_name,
                           const base::FilePath& executable,
                           base::FilePath* folder) {
  base::FilePath parent;
  if (!GetDownloadsFolder(&parent))
    return false;
  if (!TryExecutableDirectory(folder_name, executable, &parent))
    return false;
  *folder = std::move(parent);
  return true;
}

bool TryExecutableDirectory(const std::wstring& folder_name,
                            const base::FilePath& executable,
                            base::FilePath* folder) {
  const base::FilePath candidate = folder->Append(folder_name);
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
  base::CommandLine command_line(copy);
  command_line.AppendSwitch(kVersionSwitch);
  const bool started = RunAndWait(command_line);
  if (!started)
    PLOG(WARNING) << "Could not run " << copy.AsUTF8();
  if (!base::DeletePath(copy, false))
    PLOG(WARNING) << "Could not delete " << copy.AsUTF8();
  return started;
}

namespace internal {

RunAndWaitFunction SetRunAndWaitForTesting(RunAndWaitFunction run_and_wait) {
  return std::exchange(g_run_and_wait_for_testing, run_and_wait);
}

}  // namespace internal

}  // namespace installer

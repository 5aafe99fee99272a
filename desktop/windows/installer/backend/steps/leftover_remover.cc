#include "desktop/windows/installer/backend/steps/leftover_remover.h"

#include <windows.h>

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "base/command_line.h"
#include "base/files/empty_folder_removal.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/null_standard_handles.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"
#include "base/win/scoped_named_mutex.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/backend/steps/folder_holds_exactly.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/system/private_temp_folder.h"
#include "desktop/windows/installer/system/system_folder_check.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

using Kind = base::ResolvedEntry::Kind;

// The uninstaller, its front end, its second process and the starter.
constexpr size_t kMaxWaitedProcesses = 8;
// Under Wine a program's file is let go a moment after its process ended:
// pauses of the whole removal, not of each file, so that a long record of
// files that stay for good (a read-only volume) does not wait for each.
constexpr int kDeletePauses = 30;
constexpr DWORD kDeletePauseMs = 100;
// How often cmd tries to remove the copy's folder, about a second apart,
// before it leaves it: the copy ends right after starting it.
constexpr int kFolderRemovalTries = 20;

// One more entry of the record gone.
void CountDeleted(LeftoverRemover::Outcome* outcome) {
  ++outcome->deleted;
  TestHooks::OnRolePoint(TestHooks::RolePoint::kLeftoverRemoval);
}

// Deletes the file `path` names through the handle that judged it inside
// the folder; a link, a folder or anything outside is refused. Tried again
// after a pause while `pauses_left` allows.
void DeleteListedFile(InsideFolderCheck* inside_folder,
                      const base::FilePath& path,
                      int* pauses_left,
                      LeftoverRemover::Outcome* outcome) {
  for (;;) {
    std::optional<base::ResolvedEntry> judged =
        inside_folder->JudgeToDelete(path);
    if (!judged || judged->kind() == Kind::kLink ||
        (judged->kind() == Kind::kPlain && judged->is_directory())) {
      LOG(ERROR) << "Refused to delete " << path.AsUTF8()
                 << ": not a file of its own inside "
                 << inside_folder->folder().AsUTF8();
      ++outcome->refused;
      return;
    }
    if (judged->kind() == Kind::kMissing)
      return;
    if (judged->kind() == Kind::kPlain && judged->DeleteJudgedFile()) {
      CountDeleted(outcome);
      return;
    }
    if (*pauses_left == 0) {
      PLOG(ERROR) << "Could not delete " << path.AsUTF8();
      return;
    }
    --*pauses_left;
    ::Sleep(kDeletePauseMs);
  }
}

// Removes the folder whose final path is `folder` only when it is empty
// and still that very folder, no link; never one of the system's, even an
// empty one the record calls the installation's.
void RemoveJudgedFolder(const base::FilePath& folder,
                        const SystemFolderCheck& system_folders,
                        LeftoverRemover::Outcome* outcome) {
  if (system_folders.IsSystemFolderOrInside(folder)) {
    LOG(ERROR) << "Refused to remove " << folder.AsUTF8()
               << ": a folder of the system";
    ++outcome->refused;
    return;
  }
  switch (base::RemoveEmptyFolderAt(folder)) {
    case base::EmptyFolderRemoval::kRemoved:
      CountDeleted(outcome);
      return;
    case base::EmptyFolderRemoval::kMissing:
      return;
    case base::EmptyFolderRemoval::kRefused:
      LOG(ERROR) << "Refused to remove " << folder.AsUTF8()
                 << ": not the folder of its own that was judged";
      ++outcome->refused;
      return;
    case base::EmptyFolderRemoval::kFailed:
      PLOG(WARNING) << "Left " << folder.AsUTF8();
      return;
  }
}

void RemoveListedFolder(InsideFolderCheck* inside_folder,
                        const SystemFolderCheck& system_folders,
                        const base::FilePath& path,
                        LeftoverRemover::Outcome* outcome) {
  if (path == inside_folder->folder()) {
    RemoveJudgedFolder(path, system_folders, outcome);
    return;
  }
  const InsideFolderCheck::Entry entry = inside_folder->Judge(path);
  if (entry.kind == Kind::kMissing)
    return;
  if (entry.kind != Kind::kPlain) {
    LOG(ERROR) << "Refused to remove " << path.AsUTF8()
               << ": not a folder of its own inside "
               << inside_folder->folder().AsUTF8();
    ++outcome->refused;
    return;
  }
  RemoveJudgedFolder(entry.path, system_folders, outcome);
}

void WaitForAll(const std::vector<base::win::ScopedHandle>& processes) {
  std::vector<HANDLE> handles;
  for (const base::win::ScopedHandle& process : processes)
    handles.push_back(process.Get());
  if (handles.empty())
    return;
  // Without a limit: until they end, what they hold cannot be deleted, and
  // a handle, unlike a process id, never names another process.
  if (::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                               handles.data(), TRUE, INFINITE) == WAIT_FAILED) {
    PLOG(ERROR) << "Waiting for the installer processes failed";
  }
}

// Whether cmd takes `text` literally inside double quotes.
bool IsLiteralForCmd(const std::wstring& text) {
  return text.find_first_of(L"\"%!^&") == std::wstring::npos;
}

// Whether cmd can run with `folder` as its current one: it refuses a share's
// path and runs in the Windows folder instead, where a relative name would
// lead elsewhere.
bool IsDrivePath(const base::FilePath& folder) {
  const std::wstring& path = folder.value();
  return path.size() >= 3 && path[1] == L':' &&
         base::FilePath::IsSeparator(path[2]);
}

// The command that cmd, run in the folder above the copy's, runs to remove
// the copy's folder `name` once this process has ended: only its own
// built-in commands, and the system's ping by its full path as the pause
// between tries. It names the folder by its generated name alone, never by
// the temporary folder's path, which is the user's to choose and may hold
// any of cmd's special characters. Empty when cmd could not take the
// system's path literally.
std::wstring MakeFolderRemoval(const std::wstring& name,
                               const base::FilePath& system) {
  const std::wstring ping = system.Append(L"PING.EXE").value();
  if (!PrivateTempFolder::IsMadeFolderName(name) || !IsLiteralForCmd(ping))
    return std::wstring();
  const std::wstring remove = L"rd /s /q \"" + name + L"\" 2>nul";
  std::wstring text = remove;
  for (int attempt = 1; attempt < kFolderRemovalTries; ++attempt) {
    text += L" & if exist \"" + name + L"\\\" (\"" + ping +
            L"\" -n 2 127.0.0.1 >nul & " + remove;
  }
  text.append(kFolderRemovalTries - 1, L')');
  return text;
}

// Starts the system's cmd, in the temporary folder that holds this copy's
// folder (held as its current folder, so that it cannot be renamed under
// the relative name), to remove the copy's folder once this process has
// ended; only a folder that RemoverCopy made. A folder left so goes with
// the next run that finds it (DeadRunPrivateFolders).
void RemoveOwnFolderOnceEnded() {
  base::FilePath own_folder;
  base::FilePath system;
  if (!base::GetPathForKey(base::kExeDir, &own_folder) ||
      !base::GetPathForKey(base::kSystemDir, &system)) {
    return;
  }
  if (!LeftoverRemover::IsCopyFolder(own_folder) ||
      SystemFolderCheck::ForThisSystem().IsSystemFolder(
          ResolveLocalPath(own_folder))) {
    LOG(ERROR) << "Not removing " << own_folder.AsUTF8()
               << ": not a folder of the installer's copy";
    return;
  }
  const std::wstring removal =
      MakeFolderRemoval(own_folder.BaseName().value(), system);
  if (removal.empty() || !IsDrivePath(own_folder.DirName())) {
    LOG(ERROR) << "Left " << own_folder.AsUTF8() << ": cmd cannot remove it";
    return;
  }
  base::ProcessLaunchOptions options;
  options.start_hidden = true;
  options.current_directory = own_folder.DirName().value();
  base::NullStandardHandles null_handles;
  if (!null_handles.ApplyTo(&options))
    LOG(WARNING) << "cmd keeps our standard handles";
  base::AutoLock launch_lock(base::GetProcessLaunchLock());
  // "/d": no AutoRun command of the registry runs first.
  if (!base::LaunchProcess(L"\"" + system.Append(L"cmd.exe").value() +
                               L"\" /d /q /s /c \"" + removal + L"\"",
                           options)
           .IsValid()) {
    PLOG(ERROR) << "Could not start cmd to remove " << own_folder.AsUTF8();
  }
}

}  // namespace

// static
void LeftoverRemover::RunRole(const base::CommandLine& command_line) {
  const std::vector<base::win::ScopedHandle> processes =
      TakeInheritedProcesses(command_line);
  TestHooks::OnRolePoint(TestHooks::RolePoint::kLeftoverRemoval);
  WaitForAll(processes);
  const base::FilePath install_folder =
      command_line.GetSwitchValuePath(switches::kRemoveLeftovers);
  // Held while it deletes, as every run holds it: a run that started on the
  // folder meanwhile finished the record itself (UnfinishedUninstallation),
  // and one that starts now finds the folder taken, so that nothing it
  // installs is taken for a leftover. Made by a process of other rights
  // when this one is elevated.
  base::win::ScopedNamedMutex mutex(
      InstallerObjectNames(install_folder).mutex(),
      base::win::ScopedNamedMutex::Options{.open_if_denied = true});
  if (!mutex.IsValid() || !mutex.Acquire(INFINITE))
    LOG(WARNING) << "Removing the leftovers without the folder's mutex";
  const Outcome outcome = RemoveListed(install_folder);
  LOG(INFO) << "Removed " << outcome.deleted << " leftovers, refused "
            << outcome.refused;
  RemoveOwnFolderOnceEnded();
}

// static
LeftoverRemover::Outcome LeftoverRemover::RemoveListed(
    const base::FilePath& install_folder,
    InstallFolder install_folder_fate) {
  Outcome outcome;
  InsideFolderCheck inside_folder(install_folder);
  if (!inside_folder.valid()) {
    LOG(ERROR) << "No installation folder: " << install_folder.AsUTF8();
    return outcome;
  }
  const base::FilePath record =
      inside_folder.folder().Append(kUninstallBatchName);
  const std::optional<CleanupBatch::Contents> contents =
      CleanupBatch::Read(record, inside_folder.folder());
  if (!contents)
    return outcome;
  int pauses_left = kDeletePauses;
  for (const base::FilePath& file : contents->files)
    DeleteListedFile(&inside_folder, file, &pauses_left, &outcome);
  DeleteListedFile(&inside_folder, record, &pauses_left, &outcome);
  const SystemFolderCheck system_folders = SystemFolderCheck::ForThisSystem();
  for (const base::FilePath& folder : contents->folders) {
    if (install_folder_fate == InstallFolder::kKeep &&
        folder == inside_folder.folder()) {
      continue;
    }
    RemoveListedFolder(&inside_folder, system_folders, folder, &outcome);
  }
  return outcome;
}

// static
std::vector<base::win::ScopedHandle> LeftoverRemover::TakeInheritedProcesses(
    const base::CommandLine& command_line) {
  std::vector<base::win::ScopedHandle> processes;
  const std::string list =
      command_line.GetSwitchValueASCII(switches::kWaitForProcesses);
  std::string_view rest = list;
  while (!rest.empty() && processes.size() < kMaxWaitedProcesses) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view()
                                           : rest.substr(comma + 1);
    uintptr_t value = 0;
    const auto [end, error] =
        std::from_chars(item.data(), item.data() + item.size(), value);
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    // Only a handle to a process, and none of the pseudo handles.
    if (error != std::errc() || end != item.data() + item.size() ||
        value == 0 || static_cast<intptr_t>(value) < 0 ||
        ::GetProcessId(handle) == 0) {
      LOG(ERROR) << "Not a process handle to wait for: " << item;
      continue;
    }
    processes.emplace_back(handle);
  }
  return processes;
}

// static
bool LeftoverRemover::IsCopyFolder(const base::FilePath& folder) {
  return PrivateTempFolder::HasMadeFolderForm(folder) &&
         FolderHoldsExactly(folder,
                            {kPackageInstallerName, kInstallerLibraryName,
                             PrivateTempFolder::kMarkName});
}

}  // namespace installer

#include "desktop/windows/installer/backend/steps/copy_steps.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/backend/installer.h"
#include "desktop/windows/installer/backend/installer_process_switches.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/folder_holds_exactly.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/move_file_operation.h"
#include "desktop/windows/installer/transactions/move_package_folder_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace installer {

namespace {

// A list entry names a file below the package and installation folders.
// Entries with ".." are refused by the copy itself; an absolute one ("C:\x",
// "\\server\x"), a rooted one ("\x") or one with a drive or stream colon
// ("C:x") would be joined as it stands and reach outside them.
bool IsRelativeListEntry(const std::string& entry) {
  const base::FilePath path = base::FilePath::FromUTF8(entry);
  return !path.empty() && !path.IsAbsolute() &&
         !base::FilePath::IsSeparator(path.value().front()) &&
         path.value().find(L':') == std::wstring::npos;
}

// A copy step reports its progress at most this often: finer than any
// progress bar shows, and a message and a posted task per file made a large
// package's copy cost mostly reports.
constexpr size_t kMaxCopyReports = 100;

// The files one posted task of a copy step copies, and reports once.
size_t CopyBatchSize(size_t files) {
  return std::max<size_t>(1, (files + kMaxCopyReports - 1) / kMaxCopyReports);
}

// The reports a list's copy step makes beyond the one of its closure: one
// per further batch. An empty list is skipped with its closure's report.
int ExtraCopyReports(const std::vector<std::string>& list) {
  if (list.empty())
    return 0;
  const size_t batch = CopyBatchSize(list.size());
  return static_cast<int>((list.size() + batch - 1) / batch) - 1;
}

// Package files that later steps, or this very process, still read from the
// package folder: they are copied even where the others are moved.
constexpr const wchar_t* kPackageFilesReadLater[] = {
    kPackageInstallerName,
    kInstallerLibraryName,
    kLauncherName,
    kInstallerHelperName,
    kInstallerHelper64Name,
    kPrefDefaultOverridesName,
    kServerTrackingDataName,
    kInstallerPrefsIncludeName,
    kFilesListName,
    kRootFilesListName,
};

// The whole entry, ignoring ASCII case only.
bool IsEntryNamed(const std::wstring& entry, const wchar_t* name) {
  return entry.size() == std::wcslen(name) &&
         base::StartsWithWide(entry, name, base::CASE_INSENSITIVE_ASCII);
}

bool IsReadAfterCopying(const std::string& entry) {
  const base::FilePath path = base::FilePath::FromUTF8(entry);
  for (const wchar_t* name : kPackageFilesReadLater) {
    if (IsEntryNamed(path.value(), name))
      return true;
  }
  // The tracking data may be named on the command line.
  const base::CommandLine& command_line = GetProcessCommandLine();
  return command_line.HasSwitch(switches::kServerTrackingData) &&
         path == command_line.GetSwitchValuePath(switches::kServerTrackingData);
}

}  // namespace

CopySteps::CopySteps(Installer* installer) : InstallerPart(installer) {}

CopySteps::~CopySteps() {
  weak_source_.Invalidate();
}

void CopySteps::DecideWhetherToMove() {
  move_package_files_ = ShouldMovePackageFiles();
  if (move_package_files_ && run_.held_folders) {
    LOG(INFO) << "Moving the package files, each given the access list of "
                 "its place in the installation first";
  }
}

int CopySteps::ExtraReports() const {
  return ExtraCopyReports(files_) + ExtraCopyReports(root_files_);
}

bool CopySteps::PrepareFileLists(const base::FilePath& folder) {
  VLOG(1) << "Reading files list";
  if (!ReadFileList(kFilesListName, &files_)) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Could not read files list");
    return false;
  }
  if (files_.empty()) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "No files in files list");
    return false;
  }
  if (ReadFileList(kRootFilesListName, &root_files_))
    LOG(INFO) << "Read root files list";
  for (const std::vector<std::string>* list : {&files_, &root_files_}) {
    for (const std::string& entry : *list) {
      if (!IsRelativeListEntry(entry)) {
        LOG(ERROR) << Fail(
            kStringInstallerError, std::wstring(),
            "Path outside the installation in files list: " + entry);
        return false;
      }
    }
  }
  return true;
}

size_t CopySteps::DeepestFile(const std::wstring& subfolder) const {
  size_t deepest = 0;
  for (const wchar_t* helper : kHelperNames)
    deepest = std::max(deepest, subfolder.size() + 1 + std::wcslen(helper));
  for (const std::string& entry : files_) {
    deepest = std::max(deepest,
                       subfolder.size() + 1 + base::Utf8ToWide(entry).size());
  }
  for (const std::string& entry : root_files_)
    deepest = std::max(deepest, base::Utf8ToWide(entry).size());
  return deepest;
}

bool CopySteps::ShouldMovePackageFiles() const {
  // Only a folder that goes when the installation ends: one a user runs the
  // installer from must stay whole.
  return GetProcessCommandLine().HasSwitch(switches::kTemporaryPackage);
}

bool CopySteps::ReadFileList(const wchar_t* name,
                             std::vector<std::string>* list) {
  std::string text;
  // Within INT_MAX bytes the entries can be counted in an int.
  if (!base::ReadFileToStringWithMaxSize(run_.package_folder.Append(name),
                                         &text, INT_MAX)) {
    return false;
  }
  *list = base::SplitNarrowByAnyOf(text, "\r\n", base::KEEP_WHITESPACE,
                                   base::SPLIT_WANT_NONEMPTY);
  return true;
}

void CopySteps::StepCopyFile(int index, bool is_root) {
  const std::vector<std::string>& list = is_root ? root_files_ : files_;
  if (is_root && index == 0 && list.empty()) {
    VLOG(2) << "Skipping copying of root files since list is empty.";
    ScheduleNextStep();
    return;
  }
  if (index < 0 || static_cast<size_t>(index) >= list.size()) {
    LOG(ERROR) << Fail(kStringInstallerError, std::wstring(),
                       "Invalid index " + std::to_string(index) +
                           " passed to StepCopyFile (max: " +
                           std::to_string(list.size()) + ")");
    return;
  }
  const size_t end = std::min(
      list.size(), static_cast<size_t>(index) + CopyBatchSize(list.size()));
  for (size_t i = static_cast<size_t>(index); i < end; ++i) {
    if (!CopyPackageFile(list[i], is_root))
      return;
  }
  if (end == list.size()) {
    LOG(INFO) << "Done copying " << (is_root ? "root " : "") << "files: "
              << moved_ << " moved, " << copied_ << " copied so far";
    ScheduleNextStep();
    return;
  }
  for (InstallerObserver& observer : run_.observers)
    observer.OnStep();
  PostStep(base::BindWeak(&CopySteps::StepCopyFile, weak_source_.GetRef(), this,
                          static_cast<int>(end), is_root));
}

bool CopySteps::CopyPackageFile(const std::string& entry, bool is_root) {
  const base::FilePath relative = base::FilePath::FromUTF8(entry);
  VLOG(1) << "Copying " << (is_root ? "root " : "") << "file " << entry;
  const base::FilePath source = run_.package_folder.Append(relative.value());
  const base::FilePath folder = status()->install_folder;
  const base::FilePath target =
      is_root
          ? folder.Append(relative.value())
          : folder.Append(run_.install_log.subfolder).Append(relative.value());
  // Root files are few, and some are read again by later steps.
  const bool movable = !is_root && !IsReadAfterCopying(entry);
  const FolderMove folder_move =
      movable ? MovedWithItsFolder(relative) : FolderMove::kNotMoved;
  if (folder_move == FolderMove::kMoved) {
    ++moved_;
  } else if (folder_move == FolderMove::kFailed ||
             !TransferPackageFile(source, target, movable)) {
    LOG(ERROR) << FailWithCause(kStringCopyFileFailed, target.value(),
                                "Failed copying " + entry,
                                run_.transaction.last_error());
    return false;
  }
  (is_root ? run_.install_log.root_files : run_.install_log.files)
      .push_back(relative.value());
  return true;
}

bool CopySteps::TransferPackageFile(const base::FilePath& source,
                                    const base::FilePath& target,
                                    bool movable) {
  if (movable && move_package_files_) {
    if (run_.transaction.ExecuteOperation(std::make_unique<MoveFileOperation>(
            source, target, MoveFileOperation::Reach::kSameVolume,
            MoveFileOperation::Source::kTemporary,
            run_.held_folders.get()))) {
      ++moved_;
      return true;
    }
    // Another volume, a file held open or a list that could not be set: a
    // copy does for those, and the rest would most likely fail the same
    // way.
    LOG(WARNING) << "Moving package files failed: copying them instead";
    move_package_files_ = false;
  }
  ++copied_;
  return run_.transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
      source, target, run_.held_folders.get()));
}

CopySteps::FolderMove CopySteps::MovedWithItsFolder(
    const base::FilePath& relative) {
  const std::wstring& path = relative.value();
  const size_t separator = path.find(L'\\');
  if (separator == std::wstring::npos || separator == 0)
    return FolderMove::kNotMoved;
  const std::wstring top = path.substr(0, separator);
  // A folder moved earlier stays moved, even once moves have stopped.
  const auto known = whole_folder_moved_.find(top);
  if (known != whole_folder_moved_.end())
    return known->second;
  const FolderMove moved =
      move_package_files_ ? MoveWholeFolder(top) : FolderMove::kNotMoved;
  whole_folder_moved_.emplace(top, moved);
  return moved;
}

CopySteps::FolderMove CopySteps::MoveWholeFolder(const std::wstring& top) {
  // Only a plain name: "..", "." or a second level spelled with '/' are left
  // to the checks of the one-by-one way.
  if (top == L"." || top == L".." || top.find(L'/') != std::wstring::npos)
    return FolderMove::kNotMoved;
  // A root file inside the folder (in any case) is still to be copied from
  // it.
  for (const std::string& entry : root_files_) {
    const std::wstring path = base::FilePath::FromUTF8(entry).value();
    if (path.size() > top.size() && path[top.size()] == L'\\' &&
        ::CompareStringOrdinal(path.c_str(), static_cast<int>(top.size()),
                               top.c_str(), static_cast<int>(top.size()),
                               TRUE) == CSTR_EQUAL) {
      return FolderMove::kNotMoved;
    }
  }
  // The entries are compared as UTF-8: only the folder's own are converted.
  const std::string prefix = base::WideToUtf8(top) + "\\";
  std::vector<std::wstring> below;
  for (const std::string& entry : files_) {
    if (entry.starts_with(prefix))
      below.push_back(base::Utf8ToWide(entry.substr(prefix.size())));
  }
  const base::FilePath source = run_.package_folder.Append(top);
  const base::FilePath target =
      status()->install_folder.Append(run_.install_log.subfolder).Append(top);
  if (base::PathExists(target) || !FolderHoldsExactly(source, below))
    return FolderMove::kNotMoved;
  // Where a file takes its new folder's list, the folder's entries take
  // theirs before it moves. Once one has, the package folder may hold a
  // user's link: none of it is read by its path again.
  bool exposed = false;
  std::unique_ptr<Operation> move =
      run_.held_folders
          ? std::unique_ptr<Operation>(
                std::make_unique<MovePackageFolderOperation>(
                    source, target, std::move(below), run_.held_folders.get(),
                    &exposed))
          : std::make_unique<MoveFileOperation>(
                source, target, MoveFileOperation::Reach::kSameVolume,
                MoveFileOperation::Source::kTemporary);
  if (!run_.transaction.ExecuteOperation(std::move(move))) {
    if (exposed)
      return FolderMove::kFailed;
    LOG(WARNING) << "Moving the package folder " << source.AsUTF8()
                 << " failed: its files go one by one";
    return FolderMove::kNotMoved;
  }
  LOG(INFO) << "Moved the package folder " << source.AsUTF8() << " whole";
  return FolderMove::kMoved;
}

}  // namespace installer

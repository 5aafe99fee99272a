#include "desktop/windows/installer/interrupted_run_recovery.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/cleanup_batch.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/service/transactions/run_journal.h"

namespace installer {

namespace {

using Entry = RunJournal::Entry;
using Kind = RunJournal::Kind;

constexpr size_t kTimeDigits = 14;
// What the package fetcher leaves in the temporary folder: downloads (".exe")
// and the folders they unpack to.
constexpr const wchar_t* kDownloadPrefixes[] = {L"tarvo_installer_",
                                                L"suite_"};

// The name a set-aside gets: the path's own, then ".<seconds>[_n].old".
bool IsAsideOf(const base::FilePath& aside, const base::FilePath& path) {
  const std::wstring prefix = path.value() + L".";
  const std::wstring& value = aside.value();
  if (value.size() <= prefix.size() + 4 ||
      !base::StartsWithWide(value, prefix, base::CASE_INSENSITIVE_ASCII) ||
      !base::EndsWithWide(value, L".old", base::CASE_INSENSITIVE_ASCII)) {
    return false;
  }
  const std::wstring middle =
      value.substr(prefix.size(), value.size() - prefix.size() - 4);
  return middle.find_first_not_of(L"0123456789_") == std::wstring::npos;
}

// Outside the installation a run creates only its shortcuts.
bool IsOwnCreation(const base::FilePath& path, const base::FilePath& folder) {
  return IsPathInsideFolder(path, folder) ||
         (path.IsAbsolute() && !path.ReferencesParent() &&
          base::EndsWithWide(path.value(), L".lnk",
                             base::CASE_INSENSITIVE_ASCII));
}

void PutBack(const base::FilePath& from, const base::FilePath& to) {
  if (!base::PathExists(from))
    return;
  // A file that a later operation put in the set-aside one's place goes;
  // a folder there is left to the log.
  if (base::PathExists(to) && !base::DirectoryExists(to))
    base::DeletePath(to, false);
  if (!base::MovePathUnchecked(from, to))
    PLOG(ERROR) << "Failed putting back " << to.AsUTF8();
}

// Only below "Software": nothing a run changes in the registry lies
// elsewhere.
bool IsRecoverableKey(const Entry& entry) {
  return base::StartsWithWide(entry.key, L"Software\\",
                              base::CASE_INSENSITIVE_ASCII) &&
         entry.key.find(L"..") == std::wstring::npos;
}

// A key the run created, with all below it, in the view it was made in.
void DeleteCreatedKey(const Entry& entry) {
  if (!IsRecoverableKey(entry))
    return;
  base::win::RegistryKey key;
  if (key.Open(entry.root, entry.key.c_str(),
               DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                   KEY_SET_VALUE | entry.view) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key.Handle(), nullptr);
    key.Close();
  }
  ::RegDeleteKeyExW(entry.root, entry.key.c_str(), entry.view, 0);
}

// A key the run deleted is made again (with the default access list: the
// saved one died with the run), and a value it changed or deleted is put
// back as it was.
void RestoreKeyOrValue(const Entry& entry) {
  if (!IsRecoverableKey(entry))
    return;
  base::win::RegistryKey key;
  const REGSAM access = KEY_SET_VALUE | entry.view;
  if (entry.kind == Kind::kOldValue &&
      entry.value_type == RunJournal::kNoValue) {
    // A value the run added: nothing to make for its removal.
    if (key.Open(entry.root, entry.key.c_str(), access) == ERROR_SUCCESS)
      ::RegDeleteValueW(key.Handle(), entry.value_name.c_str());
    return;
  }
  const LONG result = key.Create(entry.root, entry.key.c_str(), access);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed making a key again after a run that died: "
               << base::SystemErrorCodeToString(result);
    return;
  }
  if (entry.kind != Kind::kOldValue)
    return;
  ::RegSetValueExW(key.Handle(), entry.value_name.c_str(), 0, entry.value_type,
                   entry.value_data.data(),
                   static_cast<DWORD>(entry.value_data.size()));
}

// Whether the file at a created entry's path is the one the run had moved
// or set aside from there, put back already by a rollback that the kill
// cut short: the last such move before the creation has nothing left at
// its destination.
bool WasPutBack(const std::vector<Entry>& entries,
                std::vector<Entry>::const_reverse_iterator created) {
  for (auto entry = created + 1; entry != entries.rend(); ++entry) {
    if ((entry->kind == Kind::kSetAside || entry->kind == Kind::kMoved) &&
        base::FilePath::CompareIgnoreCase(entry->path, created->path) == 0) {
      return !base::PathExists(entry->aside);
    }
  }
  return false;
}

// Deepest first, once every file is dealt with: a move is recorded before
// a failed first try makes its target's folder, so the journal's order
// does not put a folder after all that went into it. Only empty ones go:
// what the run did not make in them stays.
void RemoveCreatedFolders(std::vector<base::FilePath> folders) {
  std::sort(folders.begin(), folders.end(),
            [](const base::FilePath& a, const base::FilePath& b) {
              return a.value().size() > b.value().size();
            });
  for (const base::FilePath& created : folders)
    ::RemoveDirectoryW(created.value().c_str());
}

// Newest first, as the transaction's own rollback.
void UndoRun(const std::vector<Entry>& entries, const base::FilePath& folder) {
  std::vector<base::FilePath> created_folders;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    switch (entry->kind) {
      case Kind::kSetAside:
        if (IsAsideOf(entry->aside, entry->path))
          PutBack(entry->aside, entry->path);
        break;
      case Kind::kMoved:
        if (IsPathInsideFolder(entry->path, folder) &&
            IsPathInsideFolder(entry->aside, folder) &&
            !base::PathExists(entry->path)) {
          PutBack(entry->aside, entry->path);
        } else if (!IsPathInsideFolder(entry->path, folder) &&
                   IsPathInsideFolder(entry->aside, folder)) {
          // A file or a whole folder of the run's temporary package, moved
          // in where nothing was: the package goes with the dead run, so
          // the undo is its removal.
          base::DeletePath(entry->aside,
                           base::DirectoryExists(entry->aside));
        }
        break;
      case Kind::kCreated:
        if (IsOwnCreation(entry->path, folder) &&
            !base::DirectoryExists(entry->path) &&
            !WasPutBack(entries, entry)) {
          base::DeletePath(entry->path, false);
        }
        break;
      case Kind::kCreatedFolder:
        if (IsPathInsideFolder(entry->path, folder))
          created_folders.push_back(entry->path);
        break;
      case Kind::kCreatedKey:
        DeleteCreatedKey(*entry);
        break;
      case Kind::kDeletedKey:
      case Kind::kOldValue:
        RestoreKeyOrValue(*entry);
        break;
      case Kind::kCommitted:
        break;
    }
  }
  RemoveCreatedFolders(std::move(created_folders));
}

// The run had passed its commit: what it set aside is deleted, as its
// commit would have.
void FinishRun(const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    if (entry.kind == Kind::kSetAside && IsAsideOf(entry.aside, entry.path))
      base::DeletePath(entry.aside, true);
  }
}

void RecoverJournal(const base::FilePath& journal,
                    const base::FilePath& folder) {
  std::vector<Entry> entries;
  if (!RunJournal::Read(journal, &entries))
    return;
  bool committed = false;
  for (const Entry& entry : entries)
    committed |= entry.kind == Kind::kCommitted;
  LOG(WARNING) << (committed ? "Finishing" : "Undoing")
               << " the work of a run that died: " << journal.AsUTF8();
  if (committed)
    FinishRun(entries);
  else
    UndoRun(entries, folder);
  if (!base::DeletePath(journal, false))
    PLOG(ERROR) << "Failed removing " << journal.AsUTF8();
}

bool IsDeadRunsEntry(const base::FilePath& path, const FILETIME& made) {
  uint32_t pid = 0;
  return InterruptedRunRecovery::ParseOwner(path.BaseName().value(), &pid) &&
         !InterruptedRunRecovery::IsOwnerAlive(pid, made);
}

// Held for the recovery: the runner takes the same one for a whole run.
class FolderMutex {
 public:
  explicit FolderMutex(const base::FilePath& folder)
      : mutex_(::CreateMutexW(nullptr, FALSE,
                              InstallerObjectNames(folder).mutex().c_str())) {
    if (!mutex_.IsValid())
      return;
    const DWORD wait = ::WaitForSingleObject(mutex_.Get(), 0);
    owned_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~FolderMutex() {
    if (owned_)
      ::ReleaseMutex(mutex_.Get());
  }
  bool owned() const { return owned_; }

 private:
  base::win::ScopedHandle mutex_;
  bool owned_ = false;
};

}  // namespace

// static
void InterruptedRunRecovery::RecoverFolder(const base::FilePath& folder) {
  const std::wstring pattern = std::wstring(L"installer_run_*") +
                               RunJournal::kExtension;
  std::vector<base::FilePath> journals;
  base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                               pattern);
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    if (IsDeadRunsEntry(path, listing.GetInfo().ftCreationTime))
      journals.push_back(path);
  }
  if (journals.empty())
    return;
  const FolderMutex mutex(folder);
  if (!mutex.owned()) {
    LOG(INFO) << "A live run holds the folder; its traces are its own";
    return;
  }
  // Oldest first: a later dead run worked on what an earlier one left.
  std::sort(journals.begin(), journals.end(),
            [](const base::FilePath& a, const base::FilePath& b) {
              return a.value() < b.value();
            });
  for (const base::FilePath& journal : journals)
    RecoverJournal(journal, folder);
}

// static
void InterruptedRunRecovery::RemoveStaleDownloads(const base::FilePath& folder) {
  base::FileEnumerator listing(
      folder, false,
      base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, L"");
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const std::wstring name = path.BaseName().value();
    // The logs beside them have the same names: only a folder or a
    // download (".exe") goes.
    const std::wstring extension = path.GetExtension();
    bool is_download =
        extension.empty() || base::WideLowerCaseEqualsAscii(extension, ".exe");
    bool has_prefix = false;
    for (const wchar_t* prefix : kDownloadPrefixes)
      has_prefix |= base::StartsWithWide(name, prefix, base::CASE_SENSITIVE);
    is_download &= has_prefix;
    if (!is_download || !IsDeadRunsEntry(path, listing.GetInfo().ftCreationTime))
      continue;
    LOG(INFO) << "Removing what a run that died left: " << path.AsUTF8();
    base::DeletePath(path, true);
  }
}

// static
bool InterruptedRunRecovery::ParseOwner(const std::wstring& name,
                                        uint32_t* pid) {
  std::wstring stem = name;
  const size_t dot = stem.find(L'.');
  if (dot != std::wstring::npos)
    stem.resize(dot);
  const size_t pid_start = stem.rfind(L'_');
  if (pid_start == std::wstring::npos || pid_start < kTimeDigits + 1 ||
      stem[pid_start - kTimeDigits - 1] != L'_') {
    return false;
  }
  const std::wstring time =
      stem.substr(pid_start - kTimeDigits, kTimeDigits);
  const std::wstring digits = stem.substr(pid_start + 1);
  return time.find_first_not_of(L"0123456789") == std::wstring::npos &&
         !digits.empty() &&
         digits.find_first_not_of(L"0123456789") == std::wstring::npos &&
         base::WideStringToUint(digits, pid);
}

// static
bool InterruptedRunRecovery::IsOwnerAlive(uint32_t pid, const FILETIME& made) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.IsValid()) {
    // Refused is not gone: another user's live process stays untouched.
    return ::GetLastError() == ERROR_ACCESS_DENIED;
  }
  DWORD exit_code = 0;
  if (::GetExitCodeProcess(process.Get(), &exit_code) &&
      exit_code != STILL_ACTIVE) {
    return false;
  }
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user))
    return true;
  return ::CompareFileTime(&created, &made) <= 0;
}

}  // namespace installer

#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/run_folder_name.h"
#include "desktop/windows/installer/recovery/journal_owner_check.h"
#include "desktop/windows/installer/recovery/journal_scope.h"
#include "desktop/windows/installer/recovery/local_path.h"
#include "desktop/windows/installer/recovery/product_registry_scope.h"
#include "desktop/windows/installer/recovery/run_journal.h"
#include "desktop/windows/installer/service/utils.h"

namespace installer {

namespace {

using Entry = RunJournal::Entry;
using Kind = RunJournal::Kind;

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

// A key the run created, in the view it was made in: with all below it
// where the key is the product's own, else only the product's part.
void DeleteCreatedKey(const Entry& entry, const ProductRegistryScope& scope) {
  switch (scope.GetCreatedKeyReach(entry.key)) {
    case ProductRegistryScope::CreatedKeyReach::kNone:
      return;
    case ProductRegistryScope::CreatedKeyReach::kProductPartOnly:
      scope.RemoveProductPart(entry.root, entry.view, entry.key);
      return;
    case ProductRegistryScope::CreatedKeyReach::kWholeTree:
      break;
  }
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

// For each created entry, the last move or set-aside from its path before
// it, in one pass: a file there that was put back already by a rollback the
// kill cut short is the original, not the run's creation, when nothing is
// left at that move's destination.
std::vector<const Entry*> FindMovesBeforeCreations(
    const std::vector<Entry>& entries) {
  std::vector<const Entry*> moves(entries.size(), nullptr);
  std::unordered_map<std::wstring, const Entry*> last_move;
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    if (entry.kind == Kind::kSetAside || entry.kind == Kind::kMoved) {
      last_move[ToUpperOrdinal(entry.path.value())] = &entry;
    } else if (entry.kind == Kind::kCreated) {
      const auto found = last_move.find(ToUpperOrdinal(entry.path.value()));
      if (found != last_move.end())
        moves[i] = found->second;
    }
  }
  return moves;
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

void UndoMove(const Entry& entry, JournalScope* scope) {
  if (scope->IsInFolder(entry.path) || scope->IsProductShortcut(entry.path)) {
    if (!base::PathExists(entry.path))
      PutBack(entry.aside, entry.path);
    return;
  }
  // A file or a whole folder of the run's temporary package, moved in where
  // nothing was: the package goes with the dead run, so the undo is its
  // removal.
  base::DeletePath(entry.aside, base::DirectoryExists(entry.aside));
}

// Newest first, as the transaction's own rollback. Every entry is in the
// scope already.
void UndoRun(const std::vector<Entry>& entries, JournalScope* scope) {
  const std::vector<const Entry*> moves = FindMovesBeforeCreations(entries);
  std::vector<base::FilePath> created_folders;
  for (size_t i = entries.size(); i-- > 0;) {
    const Entry& entry = entries[i];
    switch (entry.kind) {
      case Kind::kSetAside:
        PutBack(entry.aside, entry.path);
        break;
      case Kind::kMoved:
        UndoMove(entry, scope);
        break;
      case Kind::kCreated:
        if (!base::DirectoryExists(entry.path) &&
            !(moves[i] && !base::PathExists(moves[i]->aside))) {
          base::DeletePath(entry.path, false);
        }
        break;
      case Kind::kCreatedFolder:
        created_folders.push_back(entry.path);
        break;
      case Kind::kCreatedKey:
        DeleteCreatedKey(entry, scope->registry());
        break;
      case Kind::kDeletedKey:
      case Kind::kOldValue:
        RestoreKeyOrValue(entry);
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
    if (entry.kind == Kind::kSetAside)
      base::DeletePath(entry.aside, true);
  }
}

// The journal's lines, when every one of them is something its run could
// have done. One that is not means the file was tampered with or broken:
// acting on the rest could undo half of a change (a file deleted whose
// original is never put back), so none is acted on.
bool ReadTrustedEntries(const base::FilePath& journal,
                        JournalScope* scope,
                        std::vector<Entry>* entries) {
  if (!RunJournal::Read(journal, entries)) {
    LOG(ERROR) << "Leaving a journal that cannot be read: " << journal.AsUTF8();
    return false;
  }
  for (size_t i = 0; i < entries->size(); ++i) {
    if (!scope->Allows((*entries)[i])) {
      LOG(ERROR) << "Leaving a journal whose line " << i + 1
                 << " names what its run could not have changed: "
                 << journal.AsUTF8();
      return false;
    }
  }
  return true;
}

void RecoverJournal(const base::FilePath& journal, JournalScope* scope) {
  std::vector<Entry> entries;
  if (!ReadTrustedEntries(journal, scope, &entries))
    return;
  bool committed = false;
  for (const Entry& entry : entries)
    committed |= entry.kind == Kind::kCommitted;
  LOG(WARNING) << (committed ? "Finishing" : "Undoing")
               << " the work of a run that died: " << journal.AsUTF8();
  if (committed)
    FinishRun(entries);
  else
    UndoRun(entries, scope);
  if (!base::DeletePath(journal, false))
    PLOG(ERROR) << "Failed removing " << journal.AsUTF8();
}

enum class OwnerState { kAlive, kGone, kUnknown };

// Whether process `pid` is the live one that made an entry at `made`; a
// process that cannot be opened may be alive or a stranger with a reused
// id.
OwnerState GetOwnerState(uint32_t pid, const FILETIME& made) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process.IsValid()) {
    return ::GetLastError() == ERROR_ACCESS_DENIED ? OwnerState::kUnknown
                                                   : OwnerState::kGone;
  }
  DWORD exit_code = 0;
  if (::GetExitCodeProcess(process.Get(), &exit_code) &&
      exit_code != STILL_ACTIVE) {
    return OwnerState::kGone;
  }
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user))
    return OwnerState::kUnknown;
  return ::CompareFileTime(&created, &made) <= 0 ? OwnerState::kAlive
                                                 : OwnerState::kGone;
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
  struct Journal {
    base::FilePath path;
    uint32_t pid;
    FILETIME made;
  };
  const std::wstring pattern = std::wstring(L"installer_run_*") +
                               RunJournal::kExtension;
  std::vector<Journal> journals;
  base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                               pattern);
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const std::optional<RunFolderName> name =
        RunFolderName::Parse(path.BaseName().value());
    if (name) {
      journals.push_back(
          {path, name->pid(), listing.GetInfo().ftCreationTime});
    }
  }
  if (journals.empty())
    return;
  const FolderMutex mutex(folder);
  if (!mutex.owned()) {
    LOG(INFO) << "A live run holds the folder; its traces are its own";
    return;
  }
  JournalScope scope(folder);
  if (!scope.valid()) {
    LOG(ERROR) << "Leaving the journals of a folder that is no local path: "
               << folder.AsUTF8();
    return;
  }
  const bool elevated = IsUserAdmin(false);
  // Oldest first: a later dead run worked on what an earlier one left.
  std::sort(journals.begin(), journals.end(),
            [](const Journal& a, const Journal& b) {
              return a.path.value() < b.path.value();
            });
  for (const Journal& journal : journals) {
    // Runs hold the folder's mutex: with it held here, what still writes a
    // journal is a backend that outlived its front end, whose process is
    // then there to be seen. One that cannot be opened is not.
    if (GetOwnerState(journal.pid, journal.made) == OwnerState::kAlive)
      continue;
    if (elevated && !IsJournalFromTrustedWriter(journal.path, folder)) {
      LOG(ERROR) << "Leaving a journal that neither this user nor the "
                    "administrators wrote, in a folder others can write: "
                 << journal.path.AsUTF8();
      continue;
    }
    RecoverJournal(journal.path, &scope);
  }
}

// static
bool InterruptedRunRecovery::IsOwnerAlive(uint32_t pid, const FILETIME& made) {
  // Refused is not gone: another user's live process stays untouched.
  return GetOwnerState(pid, made) != OwnerState::kGone;
}

}  // namespace installer

#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/files/empty_folder_removal.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/held_folder.h"
#include "base/files/important_file_writer.h"
#include "base/files/resolved_entry.h"
#include "base/log_message.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_named_mutex.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/run_folder_name.h"
#include "desktop/windows/installer/recovery/journal_owner_check.h"
#include "desktop/windows/installer/recovery/journal_scope.h"
#include "desktop/windows/installer/recovery/product_registry_scope.h"
#include "desktop/windows/installer/testing/test_hooks.h"

namespace installer {

namespace {

using Entry = RunJournal::Entry;
using Kind = RunJournal::Kind;
using Outcome = InterruptedRunRecovery::Outcome;

// A line that could not be carried out: logged with its Windows error, and
// the first one kept as the journal's outcome.
void NoteFailure(const char* action,
                 const std::wstring& what,
                 DWORD error,
                 Outcome* outcome) {
  LOG(ERROR) << "Failed " << action << " " << base::WideToUtf8(what)
             << " after a run that died: "
             << base::SystemErrorCodeToString(error);
  if (outcome->complete())
    *outcome = {what, error};
}

std::function<void()>& JournalReadHook() {
  static std::function<void()> hook;
  return hook;
}

bool IsGoneError(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A file or folder of the run's that must go; what is not there is gone.
// Through its folder held from the drive root, and emptied through
// handles: a folder on the way swapped for a link refuses it, and a link
// inside goes itself, never what it leads to.
void RemovePath(const base::FilePath& path, bool recursive, Outcome* outcome) {
  if (base::HeldFolder::RemovePath(path, recursive))
    return;
  const DWORD error = ::GetLastError();
  NoteFailure("removing", path.value(), error, outcome);
}

// A file only the run made, that goes: judged inside the folder and
// removed through the handle that judged it. A link or folder found under
// its name since is no file of the run's, which made none: it stays
// (logged), and so does what it leads to.
void RemoveRunFile(const base::FilePath& path,
                   JournalScope* scope,
                   Outcome* outcome) {
  std::optional<base::ResolvedEntry> judged = scope->JudgeFileToRemove(path);
  if (!judged)
    return;
  switch (judged->kind()) {
    case base::ResolvedEntry::Kind::kMissing:
      return;
    case base::ResolvedEntry::Kind::kUnknown:
      // Held by another program: the journal stays for the next run.
      if (!IsGoneError(judged->error()))
        NoteFailure("removing", path.value(), judged->error(), outcome);
      return;
    case base::ResolvedEntry::Kind::kLink:
      break;
    case base::ResolvedEntry::Kind::kPlain:
      if (judged->is_directory())
        break;
      if (!judged->DeleteJudgedFile()) {
        const DWORD error = ::GetLastError();
        if (!IsGoneError(error))
          NoteFailure("removing", path.value(), error, outcome);
      }
      return;
  }
  LOG(WARNING) << "Left " << path.AsUTF8()
               << ": a link or folder, not the file the run made";
}

// The names of the files only the run made in each folder, whose writes'
// temporary files are the run's too: earlier versions wrote them without a
// line of their own, and a kill in the middle of a write left one. Keyed
// by the folder as spelled, upper-cased.
class FilesOnlyTheRunMade {
 public:
  void Add(const base::FilePath& path) {
    Folder& folder = folders_[ToUpperOrdinal(path.DirName().value())];
    folder.path = path.DirName();
    folder.names.insert(ToUpperOrdinal(path.BaseName().value()));
  }

  // Every file of a folder named as a write's temporary file of one of
  // them, listed once per folder (a package's thousands of files share a
  // few hundred folders).
  void RemoveTemporariesOfWrites(JournalScope* scope, Outcome* outcome) const {
    for (const auto& [key, folder] : folders_) {
      base::FileEnumerator listing(folder.path, false,
                                   base::FileEnumerator::kFiles, L"*.tmp");
      for (base::FilePath path = listing.Next(); !path.empty();
           path = listing.Next()) {
        if (IsTemporaryOfOne(folder, path.BaseName().value()))
          RemoveRunFile(path, scope, outcome);
      }
    }
  }

 private:
  struct Folder {
    base::FilePath path;
    std::unordered_set<std::wstring> names;
  };

  // A temporary of a temporary counts too: a staged copy's own write.
  static bool IsTemporaryOfOne(const Folder& folder, const std::wstring& name) {
    for (std::optional<std::wstring> target =
             base::ImportantFileWriter::GetTargetOfTemporaryName(name);
         target; target = base::ImportantFileWriter::GetTargetOfTemporaryName(
                     *target)) {
      if (folder.names.contains(ToUpperOrdinal(*target)))
        return true;
    }
    return false;
  }

  std::map<std::wstring, Folder> folders_;
};

// The set-aside original takes its place again by one rename over whatever
// a later operation of the run put there: at no moment is neither there,
// and the set-aside file never goes before the original is back. A file
// another program holds there refuses the rename, and both stay as they
// are for the next run. Only an empty folder (the run's own, the original
// having been set aside) is cleared out of its way first: a rename does not
// replace a folder. Both ends go through their folders held from the drive
// root, the original opened there as itself and renamed by its single name
// relative to the target's folder: a folder on the way swapped for a link
// since the journal was judged refuses the line, which stays for the next
// run, and a link at the target name is replaced itself, never followed.
void PutBack(const base::FilePath& from,
             const base::FilePath& to,
             Outcome* outcome) {
  const base::HeldFolder::Ref from_folder =
      base::HeldFolder::Open(from.DirName());
  if (!from_folder) {
    const DWORD error = ::GetLastError();
    if (!IsGoneError(error))
      NoteFailure("putting back", to.value(), error, outcome);
    return;
  }
  bool is_folder = false;
  const base::win::ScopedHandle original = from_folder->OpenEntry(
      from.BaseName().value(), DELETE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &is_folder);
  if (!original.IsValid()) {
    const DWORD error = ::GetLastError();
    if (!IsGoneError(error))
      NoteFailure("putting back", to.value(), error, outcome);
    return;
  }
  const std::wstring name = to.BaseName().value();
  const base::HeldFolder::Ref to_folder =
      base::FilePath::CompareIgnoreCase(from.DirName(), to.DirName()) == 0
          ? from_folder
          : base::HeldFolder::Open(to.DirName());
  if (!to_folder || !base::HeldFolder::IsSingleName(name)) {
    NoteFailure("putting back", to.value(),
                to_folder ? ERROR_INVALID_NAME : ::GetLastError(), outcome);
    return;
  }
  // Its folder held, the name reaches that folder's entry alone.
  std::ignore = base::RemoveEmptyFolderAt(to_folder->path().Append(name));
  if (base::RenameIntoFolder(original.Get(), to_folder->handle(), name,
                             /*replace=*/true)) {
    return;
  }
  const DWORD error = ::GetLastError();
  // A move across volumes would need a copy made and renamed in place
  // before the source goes: both are left as they are for a later run.
  if (error == ERROR_NOT_SAME_DEVICE) {
    LOG(ERROR) << "Not putting back " << from.AsUTF8()
               << " from another volume: both stay";
  }
  NoteFailure("putting back", to.value(), error, outcome);
}

// A shell folder may be a link of the user's own choosing (a Desktop
// redirected elsewhere): a shortcut of the product's there is acted on
// where that folder leads now, by its single name in that folder held.
// What lies inside the installation folder is acted on by its own path,
// and a link on the way refuses it.
base::FilePath WhereToAct(const base::FilePath& path, bool shortcut) {
  if (!shortcut)
    return path;
  const base::FilePath folder = ResolveFinalLocalPath(path.DirName());
  return folder.empty() ? path : folder.Append(path.BaseName().value());
}

void PutBackEntry(const Entry& entry, JournalScope* scope, Outcome* outcome) {
  const bool shortcut = scope->IsProductShortcut(entry.path);
  PutBack(WhereToAct(entry.aside, shortcut), WhereToAct(entry.path, shortcut),
          outcome);
}

// A key as a user finds it in the registry editor.
std::wstring KeyName(const Entry& entry) {
  return (entry.root == HKEY_LOCAL_MACHINE ? L"HKEY_LOCAL_MACHINE\\"
                                           : L"HKEY_CURRENT_USER\\") +
         entry.key;
}

// A key the run created, in the view it was made in: with all below it
// where the key is the product's own, else only the product's part.
void DeleteCreatedKey(const Entry& entry,
                      const ProductRegistryScope& scope,
                      Outcome* outcome) {
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
  const LONG result =
      ::RegDeleteKeyExW(entry.root, entry.key.c_str(), entry.view, 0);
  if (result != ERROR_SUCCESS && !IsGoneError(result))
    NoteFailure("removing", KeyName(entry), result, outcome);
}

// A key the run deleted is made again (with the default access list: the
// saved one died with the run), and a value it changed or deleted is put
// back as it was.
void RestoreKeyOrValue(const Entry& entry, Outcome* outcome) {
  base::win::RegistryKey key;
  const REGSAM access = KEY_SET_VALUE | entry.view;
  if (entry.kind == Kind::kOldValue &&
      entry.value_type == RunJournal::kNoValue) {
    // A value the run added: nothing to make for its removal, and nothing
    // to remove where its key is gone.
    if (key.Open(entry.root, entry.key.c_str(), access) != ERROR_SUCCESS)
      return;
    const LONG result =
        ::RegDeleteValueW(key.Handle(), entry.value_name.c_str());
    if (result != ERROR_SUCCESS && !IsGoneError(result))
      NoteFailure("removing a value of", KeyName(entry), result, outcome);
    return;
  }
  LONG result = key.Create(entry.root, entry.key.c_str(), access);
  if (result == ERROR_SUCCESS && entry.kind == Kind::kOldValue) {
    result = ::RegSetValueExW(key.Handle(), entry.value_name.c_str(), 0,
                              entry.value_type, entry.value_data.data(),
                              static_cast<DWORD>(entry.value_data.size()));
  }
  if (result != ERROR_SUCCESS)
    NoteFailure("restoring", KeyName(entry), result, outcome);
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
// what the run did not make in them stays, and is no failure. Each is
// judged where it lies now and removed only as that very folder: one
// swapped for a link, or reached through one, stays (logged), as the run
// made no link.
void RemoveCreatedFolders(std::vector<base::FilePath> folders,
                          JournalScope* scope,
                          Outcome* outcome) {
  std::sort(folders.begin(), folders.end(),
            [](const base::FilePath& a, const base::FilePath& b) {
              return a.value().size() > b.value().size();
            });
  for (const base::FilePath& created : folders) {
    if (!base::PathExists(created))
      continue;
    const base::FilePath folder = scope->ResolveFolderToRemove(created);
    const base::EmptyFolderRemoval removal =
        folder.empty() ? base::EmptyFolderRemoval::kRefused
                       : base::RemoveEmptyFolderAt(folder);
    const DWORD error = ::GetLastError();
    switch (removal) {
      case base::EmptyFolderRemoval::kRemoved:
      case base::EmptyFolderRemoval::kMissing:
        break;
      case base::EmptyFolderRemoval::kRefused:
        LOG(WARNING) << "Left " << created.AsUTF8()
                     << ": not the folder the run made, or reached through "
                        "a link";
        break;
      case base::EmptyFolderRemoval::kFailed:
        if (error != ERROR_DIR_NOT_EMPTY && !IsGoneError(error))
          NoteFailure("removing", created.value(), error, outcome);
        break;
    }
  }
}

void UndoMove(const Entry& entry, JournalScope* scope, Outcome* outcome) {
  if (scope->IsInFolder(entry.path) || scope->IsProductShortcut(entry.path)) {
    if (!base::PathExists(entry.path))
      PutBackEntry(entry, scope, outcome);
    return;
  }
  // A file or a whole folder of the run's temporary package, moved in where
  // nothing was: the package goes with the dead run, so the undo is its
  // removal.
  RemovePath(entry.aside, /*recursive=*/true, outcome);
}

bool MadeInstallFolder(const std::vector<Entry>& entries, JournalScope* scope) {
  return std::any_of(
      entries.begin(), entries.end(), [scope](const Entry& entry) {
        return entry.kind == Kind::kCreatedFolder &&
               scope->IsInstallFolder(entry.path);
      });
}

// Once every dead run's journal is done: a run that made the folder may
// have handed its work to another process (the package's own backend),
// whose journal lies there too. Only empty, as the run's own rollback
// leaves it: what others put there since, or a live run's journal, keeps
// it. The removal goes through a handle of that very folder.
void RemoveInstallFolder(JournalScope* scope) {
  const base::EmptyFolderRemoval removal =
      base::RemoveEmptyFolderAt(scope->folder());
  if (removal == base::EmptyFolderRemoval::kRefused) {
    LOG(WARNING) << "Left the installation folder a dead run made: it is "
                    "no longer the folder there, or it is reached by a link";
  }
}

// Newest first, as the transaction's own rollback. Every entry is in the
// scope already. Each line's undo reads the state it acts on (the
// set-aside file still there, the original not yet back), so one that
// fails leaves the others to go on: the next run does them all again.
void UndoRun(const std::vector<Entry>& entries,
             JournalScope* scope,
             Outcome* outcome) {
  const std::vector<const Entry*> moves = FindMovesBeforeCreations(entries);
  std::vector<base::FilePath> created_folders;
  FilesOnlyTheRunMade made;
  for (size_t i = entries.size(); i-- > 0;) {
    const Entry& entry = entries[i];
    switch (entry.kind) {
      case Kind::kSetAside:
        PutBackEntry(entry, scope, outcome);
        break;
      case Kind::kMoved:
        UndoMove(entry, scope, outcome);
        break;
      case Kind::kCreated:
        if (!base::DirectoryExists(entry.path) &&
            !(moves[i] && !base::PathExists(moves[i]->aside))) {
          RemovePath(
              WhereToAct(entry.path, scope->IsProductShortcut(entry.path)),
              false, outcome);
        }
        // Nothing was there before: no one else writes it.
        if (!moves[i])
          made.Add(entry.path);
        break;
      case Kind::kTemporary:
        RemoveRunFile(entry.path, scope, outcome);
        made.Add(entry.path);
        break;
      case Kind::kCreatedFolder:
        // The installation folder goes after the journal it holds.
        if (!scope->IsInstallFolder(entry.path))
          created_folders.push_back(entry.path);
        break;
      case Kind::kCreatedKey:
        DeleteCreatedKey(entry, scope->registry(), outcome);
        break;
      case Kind::kDeletedKey:
      case Kind::kOldValue:
        RestoreKeyOrValue(entry, outcome);
        break;
      case Kind::kCommitted:
        break;
    }
    TestHooks::OnRolePoint(TestHooks::RolePoint::kRecoveryLine);
  }
  made.RemoveTemporariesOfWrites(scope, outcome);
  RemoveCreatedFolders(std::move(created_folders), scope, outcome);
}

// The run had passed its commit: what it set aside is deleted, as its
// commit would have, and so is every temporary file it made (the run
// removed them before its commit, unless one could not go then).
void FinishRun(const std::vector<Entry>& entries,
               JournalScope* scope,
               Outcome* outcome) {
  FilesOnlyTheRunMade temporaries;
  for (const Entry& entry : entries) {
    if (entry.kind == Kind::kSetAside) {
      RemovePath(WhereToAct(entry.aside, scope->IsProductShortcut(entry.path)),
                 true, outcome);
    } else if (entry.kind == Kind::kTemporary) {
      RemoveRunFile(entry.path, scope, outcome);
      temporaries.Add(entry.path);
    }
    TestHooks::OnRolePoint(TestHooks::RolePoint::kRecoveryLine);
  }
  temporaries.RemoveTemporariesOfWrites(scope, outcome);
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

// The journal goes only once every line is done. One that could not all
// be done is kept whole, not cut down to its remaining lines: every undo
// above acts on what it finds (a set-aside file that is still there, a
// creation whose original is not back yet), so a line done before does
// nothing the second time, and the recovery writes nothing that a kill
// could leave half-written. A recovery killed half-way is finished the
// same way by the next run.
// `*made_folder` is set when the journal, undone, names the installation
// folder as its run's making.
Outcome RecoverJournal(const base::FilePath& journal,
                       JournalScope* scope,
                       bool* made_folder) {
  Outcome outcome;
  std::vector<Entry> entries;
  if (!ReadTrustedEntries(journal, scope, &entries))
    return outcome;
  if (JournalReadHook())
    JournalReadHook()();
  bool committed = false;
  for (const Entry& entry : entries)
    committed |= entry.kind == Kind::kCommitted;
  LOG(WARNING) << (committed ? "Finishing" : "Undoing")
               << " the work of a run that died: " << journal.AsUTF8();
  if (committed)
    FinishRun(entries, scope, &outcome);
  else
    UndoRun(entries, scope, &outcome);
  if (!outcome.complete()) {
    LOG(ERROR) << "Keeping the journal of a run that died for the next run: "
               << journal.AsUTF8();
    return outcome;
  }
  // In the installation folder, which a user may change: through its held
  // folder, as the lines were done.
  if (!base::HeldFolder::RemovePath(journal, false))
    PLOG(ERROR) << "Failed removing " << journal.AsUTF8();
  *made_folder |= !committed && MadeInstallFolder(entries, scope);
  return outcome;
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

}  // namespace

// static
InterruptedRunRecovery::Outcome InterruptedRunRecovery::RecoverFolder(
    const base::FilePath& folder) {
  struct Journal {
    base::FilePath path;
    uint32_t pid;
    FILETIME made;
  };
  const std::wstring pattern = std::wstring(RunJournal::kFilePrefix) + L"_*" +
                               RunJournal::kExtension;
  std::vector<Journal> journals;
  {
    // Closed before the recovery, which may take the folder away.
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
  }
  if (journals.empty())
    return Outcome();
  // Held for the recovery: the runner takes the same one for a whole run.
  base::win::ScopedNamedMutex mutex(InstallerObjectNames(folder).mutex());
  if (!mutex.Acquire(0)) {
    LOG(INFO) << "A live run holds the folder; its traces are its own";
    return Outcome();
  }
  JournalScope scope(folder);
  if (!scope.valid()) {
    LOG(ERROR) << "Leaving the journals of a folder that is no local path: "
               << folder.AsUTF8();
    return Outcome();
  }
  // Oldest first: a later dead run worked on what an earlier one left.
  std::sort(journals.begin(), journals.end(),
            [](const Journal& a, const Journal& b) {
              return a.path.value() < b.path.value();
            });
  bool made_folder = false;
  for (const Journal& journal : journals) {
    // Runs hold the folder's mutex: with it held here, what still writes a
    // journal is a backend that outlived its front end, whose process is
    // then there to be seen. One that cannot be opened is not.
    if (GetOwnerState(journal.pid, journal.made) == OwnerState::kAlive)
      continue;
    if (!MayActOnRecord(journal.path, folder)) {
      LOG(ERROR) << "Leaving a journal that neither this user nor the "
                    "administrators wrote, in a folder others can write: "
                 << journal.path.AsUTF8();
      continue;
    }
    // A later run's work lies on what this one left: it waits until this
    // one is done.
    const Outcome outcome =
        RecoverJournal(journal.path, &scope, &made_folder);
    if (!outcome.complete())
      return outcome;
  }
  if (made_folder)
    RemoveInstallFolder(&scope);
  return Outcome();
}

// static
void InterruptedRunRecovery::SetJournalReadHookForTesting(
    std::function<void()> hook) {
  JournalReadHook() = std::move(hook);
}

// static
bool InterruptedRunRecovery::IsOwnerAlive(uint32_t pid, const FILETIME& made) {
  // Refused is not gone: another user's live process stays untouched.
  return GetOwnerState(pid, made) != OwnerState::kGone;
}

}  // namespace installer

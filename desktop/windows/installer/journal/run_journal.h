#ifndef DESKTOP_WINDOWS_INSTALLER_JOURNAL_RUN_JOURNAL_H_
#define DESKTOP_WINDOWS_INSTALLER_JOURNAL_RUN_JOURNAL_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/product/package_file_names.h"

namespace installer {

// What a run did to the files, written before each change into a file
// beside the installation, so that a run that finds the journal of one that
// died can undo its work (or finish it, past its commit). The transaction
// alone keeps this in memory, which a killed process loses. Named
// "installer_run_<time>_<pid>.journal": its owner and age can be told from
// it. Lives on the backend's main thread, as the transaction does.
class RunJournal {
 public:
  enum class Kind {
    kSetAside,
    kMoved,
    kCreated,
    // A file the run makes and removes itself (a staged copy, a write's
    // temporary file): whether the run is undone or finished, it goes.
    kTemporary,
    kCreatedFolder,
    kCreatedKey,
    kDeletedKey,
    kOldValue,
    kCommitted
  };
  struct Entry {
    Kind kind;
    base::FilePath path;
    // kSetAside, kMoved: where `path` was moved.
    base::FilePath aside;
    // kCreatedKey: the topmost key the run created, in `view`;
    // kDeletedKey: a key the run deleted; kOldValue: the key of a value the
    // run changed or deleted.
    HKEY root = nullptr;
    REGSAM view = 0;
    std::wstring key;
    // kOldValue: the value as it was; `value_type` kNoValue when there was
    // none.
    std::wstring value_name;
    DWORD value_type = 0;
    std::vector<uint8_t> value_data;
  };
  static constexpr DWORD kNoValue = 0xFFFFFFFF;

  // The one of this process.
  static RunJournal* Get();
  // A journal's name starts with it, then a run's time and pid; the
  // recovery lists a folder's journals by it.
  static constexpr const wchar_t* kFilePrefix = kRunJournalPrefix;
  // The journals' file extension, and a journal's entries read back; false
  // (and no entries) for a file that cannot be read, one larger than a run
  // writes, or one with a line that does not parse. A last line cut short
  // is dropped.
  static constexpr const wchar_t* kExtension = kRunJournalExtension;
  [[nodiscard]] static bool Read(const base::FilePath& file,
                                 std::vector<Entry>* entries);

  RunJournal();
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // The run works on the installation `folder`; the journal is made there
  // on the first record, once the folder exists.
  void Start(const base::FilePath& folder);
  // Each record is written before the change it describes, and false
  // (logged) means the line is not in the journal: the change must not be
  // made. Once a line is lost every later one is refused too, as a line
  // cut short would swallow the next. Outside a run, or before its folder
  // exists, there is nothing to keep and they succeed. Records of changes
  // that displace what was there reach the disk before they return.
  [[nodiscard]] bool RecordSetAside(const base::FilePath& path,
                                    const base::FilePath& aside);
  // A move that stays once committed, unlike a set-aside.
  [[nodiscard]] bool RecordMoved(const base::FilePath& source,
                                 const base::FilePath& target);
  // The same for a move out of a folder that goes with the run (its
  // temporary package): what it takes away nobody reads again, so its line,
  // as a creation's, reaches the disk with the next one that must. A file in
  // the target's way is set aside first, with a line of its own.
  [[nodiscard]] bool RecordMovedOutOfTemporary(const base::FilePath& source,
                                               const base::FilePath& target);
  [[nodiscard]] bool RecordCreated(const base::FilePath& path);
  // Written before the file is made, as a creation's line; the name may
  // also be one another party makes for the run (a store's set-aside copy).
  [[nodiscard]] bool RecordTemporary(const base::FilePath& path);
  [[nodiscard]] bool RecordCreatedFolder(const base::FilePath& path);
  // Registry records: only under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE;
  // elsewhere nothing is written (no recovery acts there) and they succeed.
  [[nodiscard]] bool RecordCreatedKey(HKEY root,
                                      REGSAM view,
                                      const std::wstring& key);
  // A key about to be deleted; its values are recorded with
  // RecordOldValue, so that a recovery can make it again.
  [[nodiscard]] bool RecordDeletedKey(HKEY root,
                                      REGSAM view,
                                      const std::wstring& key);
  // A value about to be changed or deleted, as it is now (`type` kNoValue:
  // there is none yet, and the line, displacing nothing, waits for the next
  // one that reaches the disk).
  [[nodiscard]] bool RecordOldValue(HKEY root,
                                    REGSAM view,
                                    const std::wstring& key,
                                    const std::wstring& name,
                                    DWORD type,
                                    const std::vector<uint8_t>& data);
  // The run has passed its point of no return: from here on, what it set
  // aside is to be removed, not put back.
  [[nodiscard]] bool RecordCommitted();
  // A rollback could not undo a change (a set-aside file could not go
  // back, another program holding what lies in its place): the journal
  // then outlives the run, for the next run's recovery to finish the undo.
  void KeepForRecovery();
  // The run's work is committed or rolled back: the journal goes, unless
  // it is kept for the recovery.
  void Finish();

  // The calls that write the journal's file and bring it to the disk, which
  // tests replace to fail as a full or lost volume does.
  struct FileCalls {
    decltype(&::WriteFile) write;
    decltype(&::FlushFileBuffers) flush;
  };
  // Tests only: installs `calls` and returns those they replace.
  static FileCalls SwapFileCallsForTesting(const FileCalls& calls);

 private:
  // Whether a line reaches the disk before its record returns.
  enum class Flush {
    // As its kind says: when the change displaces what was there.
    kByKind,
    // With the next line that does: the change displaces nothing.
    kWithNextLine,
  };

  [[nodiscard]] bool Write(Kind kind,
                           const base::FilePath& path,
                           const base::FilePath& aside,
                           Flush flush = Flush::kByKind);
  [[nodiscard]] bool WriteKeyLine(Kind kind,
                                  HKEY root,
                                  REGSAM view,
                                  const std::wstring& key,
                                  const std::string& tail,
                                  Flush flush = Flush::kByKind);
  [[nodiscard]] bool WriteLine(Kind kind,
                               const std::string& line,
                               Flush flush);
  // Whether the run keeps a journal at all yet.
  bool IsKept() const;
  [[nodiscard]] bool Open();

  base::FilePath folder_;
  base::FilePath file_;
  base::win::ScopedHandle handle_;
  // A line was lost: the journal no longer tells the whole run.
  bool broken_ = false;
  bool kept_for_recovery_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_JOURNAL_RUN_JOURNAL_H_

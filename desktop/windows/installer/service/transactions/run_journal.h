#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RUN_JOURNAL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RUN_JOURNAL_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

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
  // The journals' file extension, and a journal's entries read back; false
  // (and no entries) for a file that cannot be read, one larger than a run
  // writes, or one with a line that does not parse. A last line cut short
  // is dropped.
  static const wchar_t kExtension[];
  static bool Read(const base::FilePath& file, std::vector<Entry>* entries);

  RunJournal();
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // The run works on the installation `folder`; the journal is made there
  // on the first record, once the folder exists.
  void Start(const base::FilePath& folder);
  void RecordSetAside(const base::FilePath& path, const base::FilePath& aside);
  // A move that stays once committed, unlike a set-aside.
  void RecordMoved(const base::FilePath& source, const base::FilePath& target);
  void RecordCreated(const base::FilePath& path);
  void RecordCreatedFolder(const base::FilePath& path);
  // Registry records: only under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
  void RecordCreatedKey(HKEY root, REGSAM view, const std::wstring& key);
  // A key about to be deleted; its values are recorded with
  // RecordOldValue, so that a recovery can make it again.
  void RecordDeletedKey(HKEY root, REGSAM view, const std::wstring& key);
  // A value about to be changed or deleted, as it is now (`type` kNoValue:
  // there is none yet).
  void RecordOldValue(HKEY root,
                      REGSAM view,
                      const std::wstring& key,
                      const std::wstring& name,
                      DWORD type,
                      const std::vector<uint8_t>& data);
  // The run has passed its point of no return: from here on, what it set
  // aside is to be removed, not put back.
  void RecordCommitted();
  // The run's work is committed or rolled back: the journal goes.
  void Finish();

 private:
  void Write(Kind kind, const base::FilePath& path, const base::FilePath& aside);
  void WriteKeyLine(Kind kind,
                    HKEY root,
                    REGSAM view,
                    const std::wstring& key,
                    const std::string& tail);
  void WriteLine(const std::string& line);
  bool Open();

  base::FilePath folder_;
  base::FilePath file_;
  base::win::ScopedHandle handle_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_RUN_JOURNAL_H_

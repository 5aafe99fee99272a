#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/rand_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/ended_process.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_path_override.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/text_file.h"
#include "base/test/unix_link.h"
#include "base/threading/sync_event.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/test/scoped_token_rights.h"
#include "desktop/windows/installer/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A journal as a run that died leaves it: its replay is undone newest
// first, or, once committed, only its set-aside files go.
TEST(InterruptedRunRecoveryTest, DeadRunIsUndoneOrFinishedLiveRunIsLeft) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const bool committed : {false, true}) {
    SCOPED_TRACE(committed ? "committed" : "not committed");
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path().Append(L"Tarvo Recovery");
    const base::FilePath version = folder.Append(L"45.0.2548.1");
    const base::FilePath log = folder.Append(kInstallLogName);
    const base::FilePath aside = log.AddExtension(L"1765140000.old");
    const base::FilePath copied = version.Append(L"tarvo.exe");
    // Moved in from the run's package: the move is recorded before its
    // first try, and so before the folder that try found missing.
    const base::FilePath resources = version.Append(L"resources");
    const base::FilePath moved = resources.Append(L"a.pak");
    const base::FilePath package = temp.path().Append(L"package\\a.pak");
    ASSERT_TRUE(base::CreateDirectory(resources));
    ASSERT_TRUE(base::WriteTextFile(moved, "moved"));
    // A whole folder of the package, moved in with one rename.
    const base::FilePath locales = version.Append(L"locales");
    ASSERT_TRUE(base::CreateDirectory(locales.Append(L"sub")));
    ASSERT_TRUE(base::WriteTextFile(locales.Append(L"sub\\en.pak"), "moved"));
    ASSERT_TRUE(base::WriteTextFile(aside, "old log"));
    ASSERT_TRUE(base::WriteTextFile(log, "new log"));
    ASSERT_TRUE(base::WriteTextFile(copied, "new"));
    // Named only by the line the kill cut short.
    const base::FilePath foreign = folder.Append(L"user.txt");
    ASSERT_TRUE(base::WriteTextFile(foreign, "mine"));
    std::string text =
        "folder\t" + version.AsUTF8() + "\n" + "moved\t" + package.AsUTF8() +
        "\t" + moved.AsUTF8() + "\n" + "folder\t" + resources.AsUTF8() + "\n" +
        "moved\t" + temp.path().Append(L"package\\locales").AsUTF8() + "\t" +
        locales.AsUTF8() + "\n" + "aside\t" + log.AsUTF8() + "\t" +
        aside.AsUTF8() + "\n" + "created\t" + log.AsUTF8() + "\n" +
        "created\t" + copied.AsUTF8() + "\n";
    if (committed)
      text += "committed\n";
    // Cut short by the kill: dropped.
    text += "created\t" + foreign.AsUTF8();
    const base::FilePath dead = folder.Append(
        L"installer_run_20261207204000_" + std::to_wstring(ended.Pid()) +
        L".journal");
    const base::FilePath live = folder.Append(
        L"installer_run_20261207204000_" +
        std::to_wstring(::GetCurrentProcessId()) + L".journal");
    ASSERT_TRUE(base::WriteTextFile(dead, text));
    ASSERT_TRUE(base::WriteTextFile(live, "created\t" + foreign.AsUTF8() + "\n"));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_FALSE(base::PathExists(dead));
    EXPECT_TRUE(base::PathExists(live));
    EXPECT_EQ("mine", base::ReadTextFile(foreign));
    EXPECT_FALSE(base::PathExists(aside));
    EXPECT_EQ(committed ? "new log" : "old log", base::ReadTextFile(log));
    EXPECT_EQ(committed, base::PathExists(copied));
    EXPECT_EQ(committed, base::PathExists(moved));
    EXPECT_EQ(committed, base::PathExists(locales));
    EXPECT_EQ(committed, base::DirectoryExists(version));
  }
}

// A run killed while its temporary files were in the folder: a staged
// copy and the temporary file of its write, each journaled before it was
// made, go whether the run is undone or finished, and so does a write's
// temporary file of a journaled temporary file that was never made. An
// earlier version's journal named its staged copy only as a creation: the
// undo takes the temporary file of its write too. What no line names stays:
// a write's temporary file of a file that was there before the run (its
// original set aside), of a file no line names, a name of another form; and
// so do a folder under a journaled name and a link under a write's
// temporary name, with what the link leads to.
TEST(InterruptedRunRecoveryTest, DeadRunsTemporaryFilesGoWhateverNamesThem) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  struct File {
    const wchar_t* name;
    bool gone_when_undone;
    bool gone_when_finished;
  } const files[] = {
      {L"installer_prefs.json.0123abcd.tmp", true, true},
      {L"installer_prefs.json.0123abcd.tmp.89f5fbf9.tmp", true, true},
      {L"installation_status.xml.4567cdef.tmp.0BADF00D.TMP", true, true},
      {L"648e.tmp", true, false},
      {L"648e.tmp.89f5fbf9.tmp", true, false},
      {L"launcher.exe.89f5fbf9.tmp", false, false},
      {L"user.txt.89f5fbf9.tmp", false, false},
      {L"648e.tmp.89f5fbf.tmp", false, false},
      {L"648e.tmp.89f5fbf9.tmp.old", false, false},
  };
  for (const bool committed : {false, true}) {
    SCOPED_TRACE(committed ? "finished" : "undone");
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path().Append(L"Tarvo");
    ASSERT_TRUE(
        base::CreateDirectory(folder.Append(L"folder.json.0123abcd.tmp")));
    for (const File& file : files)
      ASSERT_TRUE(base::WriteTextFile(folder.Append(file.name), "left"));
    const base::FilePath canary = temp.path().Append(L"canary.txt");
    ASSERT_TRUE(base::WriteTextFile(canary, "another's"));
    const base::FilePath link = folder.Append(L"648e.tmp.0000abcd.tmp");
    const base::ScopedUnixLink planted(link, canary);
    const base::FilePath launcher = folder.Append(L"launcher.exe");
    const base::FilePath aside = folder.Append(L"launcher.exe.1765140000.old");
    ASSERT_TRUE(base::WriteTextFile(aside, "old"));
    ASSERT_TRUE(base::WriteTextFile(launcher, "new"));
    std::string text = "aside\t" + launcher.AsUTF8() + "\t" + aside.AsUTF8() +
                       "\ncreated\t" + launcher.AsUTF8() + "\n";
    for (const wchar_t* temporary :
         {L"installer_prefs.json.0123abcd.tmp",
          L"installer_prefs.json.0123abcd.tmp.89f5fbf9.tmp",
          L"installer_prefs.json.0123abcd.bad",
          L"installation_status.xml.4567cdef.tmp",
          L"folder.json.0123abcd.tmp"}) {
      text += "temporary\t" + folder.Append(temporary).AsUTF8() + "\n";
    }
    text += "created\t" + folder.Append(L"648e.tmp").AsUTF8() + "\n";
    if (committed)
      text += "committed\n";
    const base::FilePath journal =
        folder.Append(L"installer_run_20261207204000_" +
                      std::to_wstring(ended.Pid()) + L".journal");
    ASSERT_TRUE(base::WriteTextFile(journal, text));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_FALSE(base::PathExists(journal));
    for (const File& file : files) {
      EXPECT_EQ(committed ? file.gone_when_finished : file.gone_when_undone,
                !base::PathExists(folder.Append(file.name)))
          << base::FilePath(file.name).AsUTF8();
    }
    EXPECT_EQ(committed ? "new" : "old", base::ReadTextFile(launcher));
    EXPECT_TRUE(
        base::DirectoryExists(folder.Append(L"folder.json.0123abcd.tmp")));
    EXPECT_EQ("another's", base::ReadTextFile(canary));
    EXPECT_EQ(planted.made(), base::PathExists(link));
  }
}

// A run moved the install log into old_status and wrote a new one, then
// died: before its rollback began, or after the rollback had already put
// the old log back. Either way the old log is what stays.
TEST(InterruptedRunRecoveryTest, FileARollbackPutBackIsKept) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const bool rolled_back : {false, true}) {
    SCOPED_TRACE(rolled_back ? "rolled back" : "not rolled back");
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path();
    const base::FilePath log = folder.Append(kInstallLogName);
    const base::FilePath kept =
        folder.Append(L"old_status\\installation_status.xml.1765140000");
    ASSERT_TRUE(base::CreateDirectory(kept.DirName()));
    ASSERT_TRUE(base::WriteTextFile(log, rolled_back ? "old log" : "new log"));
    if (!rolled_back) {
      ASSERT_TRUE(base::WriteTextFile(kept, "old log"));
    }
    ASSERT_TRUE(base::WriteTextFile(
        folder.Append(L"installer_run_20261207204000_" +
                      std::to_wstring(ended.Pid()) + L".journal"),
        "moved\t" + log.AsUTF8() + "\t" + kept.AsUTF8() + "\ncreated\t" +
            log.AsUTF8() + "\n"));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_EQ("old log", base::ReadTextFile(log));
    EXPECT_FALSE(base::PathExists(kept));
  }
}

std::wstring ReadValue(const std::wstring& key_path, const wchar_t* name) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(HKEY_CURRENT_USER, key_path.c_str(), KEY_READ) != ERROR_SUCCESS)
    return L"<no key>";
  return key.ReadString(name, &value) == ERROR_SUCCESS ? value : L"<none>";
}

bool WriteValue(const std::wstring& key_path,
                const wchar_t* name,
                const std::wstring& value) {
  base::win::RegistryKey key;
  return key.Create(HKEY_CURRENT_USER, key_path.c_str(), KEY_ALL_ACCESS) ==
             ERROR_SUCCESS &&
         key.WriteString(name, value.c_str()) == ERROR_SUCCESS;
}

std::unique_ptr<Operation> SetString(const std::wstring& key_path,
                                     const wchar_t* name,
                                     const std::wstring& value) {
  return std::make_unique<ChangeRegValueOperation>(
      HKEY_CURRENT_USER, key_path, name, value.c_str(), REG_SZ,
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), 0);
}

// "<product><stream>", as the registry rows name the browser's keys.
std::wstring ProductKeyName() {
  return base::Utf8ToWide(GetProductName() + GetStreamName());
}

// The registry work of a run, done by the real operations with the
// journal on, on the product's own keys (HKCU pointed at a test key); the
// run then "dies": its journal is left under a dead process's name and the
// work stays. The recovery puts back every value changed or deleted, every
// key deleted (a subkey name with a tab and a line break among them), and
// removes what the run added; of a shared key the run made only the
// product's part goes.
TEST(InterruptedRunRecoveryTest, DeadRunsRegistryChangesAreUndone) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::win::ScopedRegistryOverride user(HKEY_CURRENT_USER);
  ASSERT_TRUE(user.Valid());
  const std::wstring product = ProductKeyName();
  const std::wstring kept = L"Software\\Clients\\StartMenuInternet\\" + product;
  const std::wstring deleted = L"Software\\Classes\\" + product + L"\\shell";
  const std::wstring deleted_sub = deleted + L"\\Sub\tkey\nname";
  const std::wstring created = kept + L"\\Created\\Deeper";
  // Shared: ".htm" did not exist, the run made it for its row below.
  const std::wstring file_type = L"Software\\Classes\\.htm";
  const std::wstring open_with = file_type + L"\\OpenWithProgIDs";
  ASSERT_TRUE(WriteValue(kept, L"Changed", L"old"));
  ASSERT_TRUE(WriteValue(kept, L"Removed", L"there"));
  ASSERT_TRUE(WriteValue(deleted, L"", L"default"));
  ASSERT_TRUE(WriteValue(deleted_sub, L"Line\tbreak\n", L"sub"));
  base::ScopedTempFolder temp;

  RunJournal* journal = RunJournal::Get();
  journal->Start(temp.path());
  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(kept, L"Changed", L"new")));
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(kept, L"Added", L"new")));
  ASSERT_TRUE(transaction.ExecuteOperation(MakeChangeRegValueOperation(
      HKEY_CURRENT_USER, kept, L"Removed", nullptr, 0, REG_SZ, 0, 0)));
  ASSERT_TRUE(transaction.ExecuteOperation(SetString(created, L"", L"new")));
  ASSERT_TRUE(
      transaction.ExecuteOperation(SetString(open_with, product.c_str(), L"")));
  ASSERT_TRUE(transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, deleted, 0)));
  base::FileEnumerator listing(temp.path(), false,
                               base::FileEnumerator::kFiles, L"*.journal");
  const base::FilePath live = listing.Next();
  ASSERT_FALSE(live.empty());
  const base::FilePath dead = temp.path().Append(
      L"installer_run_20261207204000_" + std::to_wstring(ended.Pid()) +
      L".journal");
  ASSERT_TRUE(::CopyFileW(live.value().c_str(), dead.value().c_str(), TRUE));
  transaction.DestroyOperations();
  journal->Finish();
  ASSERT_EQ(L"new", ReadValue(kept, L"Changed"));
  ASSERT_EQ(L"<no key>", ReadValue(deleted, L""));
  // Another program's, written after the run died.
  ASSERT_TRUE(WriteValue(file_type, L"Other", L"theirs"));

  EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(temp.path()).complete());

  EXPECT_FALSE(base::PathExists(dead));
  EXPECT_EQ(L"old", ReadValue(kept, L"Changed"));
  EXPECT_EQ(L"<none>", ReadValue(kept, L"Added"));
  EXPECT_EQ(L"there", ReadValue(kept, L"Removed"));
  EXPECT_EQ(L"<no key>", ReadValue(kept + L"\\Created", L""));
  EXPECT_EQ(L"default", ReadValue(deleted, L""));
  EXPECT_EQ(L"sub", ReadValue(deleted_sub, L"Line\tbreak\n"));
  EXPECT_EQ(L"<no key>", ReadValue(open_with, L""));
  EXPECT_EQ(L"theirs", ReadValue(file_type, L"Other"));
}

// A file open in another program without leave to delete it, as a running
// browser or a virus scanner holds one: Windows then refuses to delete it,
// to rename it and to rename another file over it.
class HeldFile {
 public:
  explicit HeldFile(const base::FilePath& path)
      : handle_(::CreateFileW(path.value().c_str(), GENERIC_READ,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  bool IsValid() const { return handle_.IsValid(); }
  void Release() { handle_.Close(); }

 private:
  base::win::ScopedHandle handle_;
};

base::FilePath DeadRunJournal(const base::FilePath& folder, uint32_t pid) {
  return folder.Append(L"installer_run_20261207204000_" +
                       std::to_wstring(pid) + L".journal");
}

// A file the recovery must remove or put back is held by another program:
// the journal stays whole, what was set aside stays where it is, and the
// failure names the file and is logged with its Windows error. Once the
// file is free, the next recovery ends as one without the hold would have.
TEST(InterruptedRunRecoveryTest, HeldFileKeepsTheJournalUntilItIsFree) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  enum class Held { kCreated, kSetAside, kMovedIn };
  struct Case {
    const char* label;
    Held held;
    bool committed;
  } const cases[] = {
      {"the run's copy over a set-aside original", Held::kCreated, false},
      {"the set-aside original of a committed run", Held::kSetAside, true},
      {"a package file moved into the folder", Held::kMovedIn, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path().Append(L"Tarvo Held");
    const base::FilePath launcher = folder.Append(L"launcher.exe");
    const base::FilePath aside = launcher.AddExtension(L"1796732338.old");
    const base::FilePath moved = folder.Append(L"45.0.2548.1\\a.pak");
    ASSERT_TRUE(base::CreateDirectory(moved.DirName()));
    ASSERT_TRUE(base::WriteTextFile(aside, "original"));
    ASSERT_TRUE(base::WriteTextFile(launcher, "new"));
    ASSERT_TRUE(base::WriteTextFile(moved, "moved"));
    std::string text =
        "folder\t" + moved.DirName().AsUTF8() + "\nmoved\t" +
        temp.path().Append(L"package\\a.pak").AsUTF8() + "\t" +
        moved.AsUTF8() + "\naside\t" + launcher.AsUTF8() + "\t" +
        aside.AsUTF8() + "\ncreated\t" + launcher.AsUTF8() + "\n";
    if (test.committed)
      text += "committed\n";
    const base::FilePath journal = DeadRunJournal(folder, ended.Pid());
    ASSERT_TRUE(base::WriteTextFile(journal, text));
    const base::FilePath held_path = test.held == Held::kCreated ? launcher
                                     : test.held == Held::kSetAside
                                         ? aside
                                         : moved;
    HeldFile held(held_path);
    ASSERT_TRUE(held.IsValid());

    InterruptedRunRecovery::Outcome outcome;
    {
      base::ScopedLogCapture log;
      outcome = InterruptedRunRecovery::RecoverFolder(folder);
      const std::string named = held_path.AsUTF8();
      bool logged = false;
      for (const std::string& line : log.lines()) {
        logged |= line.find(named) != std::string::npos &&
                  line.find("(0x") != std::string::npos;
      }
      EXPECT_TRUE(logged) << named;
    }

    EXPECT_FALSE(outcome.complete());
    EXPECT_EQ(held_path.value(), outcome.unfinished);
    EXPECT_NE(0u, outcome.error);
    EXPECT_EQ(text, base::ReadTextFile(journal));
    // The original is in one place or the other, never lost; the lines
    // the hold did not stop are done all the same.
    if (test.held == Held::kMovedIn) {
      EXPECT_EQ("original", base::ReadTextFile(launcher));
      EXPECT_FALSE(base::PathExists(aside));
    } else {
      EXPECT_EQ("new", base::ReadTextFile(launcher));
      EXPECT_EQ("original", base::ReadTextFile(aside));
    }
    EXPECT_EQ(test.held == Held::kMovedIn || test.committed,
              base::PathExists(moved));

    held.Release();
    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_FALSE(base::PathExists(journal));
    EXPECT_FALSE(base::PathExists(aside));
    EXPECT_EQ(test.committed ? "new" : "original", base::ReadTextFile(launcher));
    EXPECT_EQ(test.committed, base::PathExists(moved));
  }
}

// Every file and folder below `folder` with its content.
std::map<std::wstring, std::string> FolderState(const base::FilePath& folder) {
  std::map<std::wstring, std::string> state;
  base::FileEnumerator listing(folder, base::FileEnumerator::kFiles |
                                           base::FileEnumerator::kDirectories);
  for (base::FilePath path = listing.Next(); !path.empty();
       path = listing.Next()) {
    const bool is_folder =
        listing.GetInfo().dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    state[path.value().substr(folder.value().size())] =
        is_folder ? "<folder>" : base::ReadTextFile(path);
  }
  return state;
}

// A recovery does the newest lines first, each with its change on the
// disk before the next: one killed after k lines leaves the state that
// undoing only the journal's last k lines leaves, and its journal whole.
// For every k (the whole journal: a recovery run twice), the next
// recovery ends where one uninterrupted recovery ends.
TEST(InterruptedRunRecoveryTest, RecoveryKilledHalfWayOrRunTwiceEndsAsOnce) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path().Append(L"Tarvo Twice");
  const base::FilePath version = folder.Append(L"45.0.2548.1");
  const base::FilePath log = folder.Append(kInstallLogName);
  const base::FilePath log_aside = log.AddExtension(L"1796732338.old");
  const base::FilePath launcher = folder.Append(L"launcher.exe");
  const base::FilePath launcher_aside =
      launcher.AddExtension(L"1796732338.old");
  const base::FilePath pak = version.Append(L"resources\\a.pak");
  const std::vector<std::string> lines = {
      "folder\t" + version.AsUTF8(),
      "moved\t" + temp.path().Append(L"package\\a.pak").AsUTF8() + "\t" +
          pak.AsUTF8(),
      "folder\t" + pak.DirName().AsUTF8(),
      "aside\t" + log.AsUTF8() + "\t" + log_aside.AsUTF8(),
      "created\t" + log.AsUTF8(),
      "created\t" + version.Append(L"tarvo.exe").AsUTF8(),
      "aside\t" + launcher.AsUTF8() + "\t" + launcher_aside.AsUTF8(),
      "created\t" + launcher.AsUTF8(),
  };
  const auto plant_dead_run = [&] {
    ASSERT_TRUE(base::DeletePath(folder, true));
    ASSERT_TRUE(base::CreateDirectory(pak.DirName()));
    ASSERT_TRUE(base::WriteTextFile(pak, "moved"));
    ASSERT_TRUE(base::WriteTextFile(log_aside, "old log"));
    ASSERT_TRUE(base::WriteTextFile(log, "new log"));
    ASSERT_TRUE(base::WriteTextFile(version.Append(L"tarvo.exe"), "new"));
    ASSERT_TRUE(base::WriteTextFile(launcher_aside, "old launcher"));
    ASSERT_TRUE(base::WriteTextFile(launcher, "new launcher"));
    ASSERT_TRUE(base::WriteTextFile(folder.Append(L"user.txt"), "mine"));
  };
  const auto journal_of = [&](size_t first) {
    std::string text;
    for (size_t i = first; i < lines.size(); ++i)
      text += lines[i] + "\n";
    return text;
  };
  const base::FilePath journal = DeadRunJournal(folder, ended.Pid());
  const std::map<std::wstring, std::string> once = {
      {L"\\" + log.BaseName().value(), "old log"},
      {L"\\launcher.exe", "old launcher"},
      {L"\\user.txt", "mine"},
  };
  for (size_t done = 0; done <= lines.size(); ++done) {
    SCOPED_TRACE(testing::Message() << done << " lines done before the kill");
    plant_dead_run();
    if (done > 0) {
      ASSERT_TRUE(base::WriteTextFile(journal, journal_of(lines.size() - done)));
      ASSERT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());
    }
    ASSERT_TRUE(base::WriteTextFile(journal, journal_of(0)));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_EQ(once, FolderState(folder));
  }
}

// The live run's own rollback meets the same hold: its copy over a
// set-aside original cannot be removed, so the original cannot go back.
// The run's journal then outlives it, and the next run, once the copy is
// free, puts the original back.
TEST(InterruptedRunRecoveryTest, RollbackThatCannotPutBackLeavesItToNextRun) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path().Append(L"Tarvo Rollback");
  const base::FilePath launcher = folder.Append(L"launcher.exe");
  const base::FilePath source = temp.path().Append(L"launcher.exe");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::WriteTextFile(launcher, "original"));
  ASSERT_TRUE(base::WriteTextFile(source, "new"));
  RunJournal* run_journal = RunJournal::Get();
  run_journal->Start(folder);
  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(
      MakeDeleteFileOperation(launcher, false, false)));
  ASSERT_TRUE(transaction.ExecuteOperation(
      std::make_unique<CopyFileOperation>(source, launcher)));
  HeldFile held(launcher);
  ASSERT_TRUE(held.IsValid());

  transaction.RollbackOperations();
  run_journal->Finish();

  base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                               L"*.journal");
  const base::FilePath kept = listing.Next();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ("new", base::ReadTextFile(launcher));
  // Under the name of a run that is gone, as this process is not.
  ASSERT_TRUE(::MoveFileW(kept.value().c_str(),
                          DeadRunJournal(folder, ended.Pid()).value().c_str()));
  held.Release();

  EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

  EXPECT_EQ("original", base::ReadTextFile(launcher));
  EXPECT_EQ((std::map<std::wstring, std::string>{{L"\\launcher.exe",
                                                  "original"}}),
            FolderState(folder));
}

// Clears the journal-read hook at the end of a test.
class ScopedJournalReadHook {
 public:
  explicit ScopedJournalReadHook(std::function<void()> hook) {
    InterruptedRunRecovery::SetJournalReadHookForTesting(std::move(hook));
  }
  ~ScopedJournalReadHook() {
    InterruptedRunRecovery::SetJournalReadHookForTesting(nullptr);
  }
};

// A set-aside file or folder goes back over what the run put there (a file
// replaced by the one rename, the run's empty folder cleared first). When
// the user swaps the folder on the way for a link to another folder after
// the journal was judged, nothing there is moved or deleted: the line fails
// and the journal stays whole, and once the folder is back the next run
// puts the original back. Likewise the removal of a finished run's
// set-aside folder takes a link inside as a link only, never what it leads
// to (Wine opens a link as its target: there the link stays, the journal
// with it).
TEST(InterruptedRunRecoveryTest, PutBackAndRemovalGoOnlyThroughHeldFolders) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  enum class Act { kPutBack, kPutBackSwapped, kRemoveWithLinkInside };
  const struct {
    const char* label;
    bool folder;
    Act act;
  } cases[] = {
      {"file put back", false, Act::kPutBack},
      {"folder put back", true, Act::kPutBack},
      {"file, its folder swapped", false, Act::kPutBackSwapped},
      {"folder, its folder swapped", true, Act::kPutBackSwapped},
      {"set-aside folder with a link inside", true,
       Act::kRemoveWithLinkInside},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    base::ScopedTempFolder temp;
    const base::FilePath folder = temp.path().Append(L"Tarvo Held");
    const base::FilePath version = folder.Append(L"45.0.2548.1");
    const base::FilePath moved_away = folder.Append(L"moved away");
    const base::FilePath outside = temp.path().Append(L"outside");
    const base::FilePath original =
        version.Append(test.folder ? L"locales" : L"launcher.exe");
    const base::FilePath aside = original.AddExtension(L"1765140000.old");
    // The original and the run's creation, and their likes outside.
    const auto make = [&test](const base::FilePath& base_folder,
                              const base::FilePath& at,
                              const std::string& text) {
      const base::FilePath path = base_folder.Append(at.BaseName().value());
      if (!test.folder)
        return base::WriteTextFile(path, text);
      return base::CreateDirectory(path) &&
             (text.empty() ||
              base::WriteTextFile(path.Append(L"en.pak"), text));
    };
    ASSERT_TRUE(base::CreateDirectory(version));
    ASSERT_TRUE(base::CreateDirectory(outside));
    ASSERT_TRUE(make(version, aside, "original"));
    ASSERT_TRUE(make(version, original, test.folder ? "" : "new"));
    ASSERT_TRUE(make(outside, aside, "outside's"));
    ASSERT_TRUE(make(outside, original, "outside's"));
    const base::FilePath victim = temp.path().Append(L"victim.txt");
    ASSERT_TRUE(base::WriteTextFile(victim, "victim"));
    std::unique_ptr<base::ScopedUnixLink> inside_link, file_link;
    if (test.act == Act::kRemoveWithLinkInside) {
      inside_link = std::make_unique<base::ScopedUnixLink>(
          aside.Append(L"linked"), outside);
      file_link = std::make_unique<base::ScopedUnixLink>(
          aside.Append(L"linked.pak"), victim);
      ASSERT_TRUE(inside_link->made() && file_link->made());
    }
    const std::map<std::wstring, std::string> outside_before =
        FolderState(outside);
    std::string text = "aside\t" + original.AsUTF8() + "\t" + aside.AsUTF8() +
                       "\n";
    if (test.act == Act::kRemoveWithLinkInside)
      text += "committed\n";
    const base::FilePath journal = DeadRunJournal(folder, ended.Pid());
    ASSERT_TRUE(base::WriteTextFile(journal, text));
    std::unique_ptr<base::ScopedUnixLink> swapped;
    bool swap_made = false;
    const ScopedJournalReadHook hook([&] {
      if (test.act != Act::kPutBackSwapped || swap_made)
        return;
      swap_made = true;
      ASSERT_TRUE(::MoveFileW(version.value().c_str(),
                              moved_away.value().c_str()));
      swapped = std::make_unique<base::ScopedUnixLink>(version, outside);
      ASSERT_TRUE(swapped->made());
    });

    const InterruptedRunRecovery::Outcome outcome =
        InterruptedRunRecovery::RecoverFolder(folder);

    EXPECT_EQ(outside_before, FolderState(outside));
    EXPECT_EQ("victim", base::ReadTextFile(victim));
    const base::FilePath put_back =
        test.folder ? original.Append(L"en.pak") : original;
    switch (test.act) {
      case Act::kPutBack:
        EXPECT_TRUE(outcome.complete());
        EXPECT_FALSE(base::PathExists(journal));
        EXPECT_EQ("original", base::ReadTextFile(put_back));
        EXPECT_FALSE(base::PathExists(aside));
        break;
      case Act::kPutBackSwapped:
        EXPECT_FALSE(outcome.complete());
        EXPECT_EQ(text, base::ReadTextFile(journal));
        // Back as the user found it: the next run ends the line.
        swapped.reset();
        ASSERT_TRUE(::MoveFileW(moved_away.value().c_str(),
                                version.value().c_str()));
        EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());
        EXPECT_FALSE(base::PathExists(journal));
        EXPECT_EQ("original", base::ReadTextFile(put_back));
        EXPECT_FALSE(base::PathExists(aside));
        break;
      case Act::kRemoveWithLinkInside:
        // Wine opens a link as what it leads to: there it stays.
        EXPECT_FALSE(outcome.complete());
        EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), outcome.error);
        EXPECT_EQ(text, base::ReadTextFile(journal));
        EXPECT_TRUE(base::DirectoryExists(original));
        break;
    }
  }
}

// A key path or value name as the journal writes it.
std::string Hex(const std::wstring& text) {
  const std::string utf8 = base::WideToUtf8(text);
  return base::HexEncode(utf8.data(), utf8.size());
}

// A REG_SZ value's data as the journal writes it.
std::string StringDataHex(const std::wstring& text) {
  return base::HexEncode(text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// Journals found in an installation folder, each with the lines of a good
// run and one line more that reaches for what that run could not have
// changed: no line of such a journal is acted on, and nothing outside the
// folder and the product's keys changes (sentinel files and keys compared
// before and after). Without the bad line the same journal is undone.
TEST(InterruptedRunRecoveryTest, JournalReachingOutsideItsRunIsLeftWhole) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath root = temp.path();
  const base::FilePath folder = root.Append(L"inst");
  const base::FilePath outside = root.Append(L"outside\\keep.txt");
  const base::FilePath sibling = root.Append(L"inst2\\keep.txt");
  const base::FilePath sibling_aside = root.Append(L"inst.3.old");
  const base::FilePath inside = folder.Append(L"user.txt");
  const base::FilePath made = folder.Append(L"made.txt");
  base::FilePath desktop;
  ASSERT_TRUE(base::GetPathForKey(base::kDesktop, &desktop));
  const base::FilePath foreign_shortcut = desktop.Append(
      L"Other " + base::Utf8ToWide(base::GenerateGuidText()) + L".lnk");
  // The product's shortcut with a version no other test uses.
  const base::FilePath own_shortcut = desktop.Append(base::Utf8ToWide(
      GetVisibleProductNameWithStream() + " " +
      std::to_string(::GetCurrentProcessId()) + GetShortcutSuffix() + ".lnk"));
  const base::FilePath files[] = {outside, sibling, inside, foreign_shortcut,
                                  sibling_aside.Append(L"keep.txt")};
  base::win::ScopedRegistryOverride user(HKEY_CURRENT_USER);
  ASSERT_TRUE(user.Valid());
  const std::wstring run_key =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::wstring sentinel_key = L"Software\\Sentinel";
  const std::wstring product_key =
      L"Software\\Clients\\StartMenuInternet\\" + ProductKeyName();
  // One of the protocols whose handler a run makes the browser.
  const std::wstring protocol_key = L"Software\\Classes\\ftp";
  const std::string dead_run = "installer_run_20261207204000_" +
                               std::to_string(ended.Pid()) + ".journal";
  const std::string huge_name(300'000, 'x');

  struct Case {
    const char* label;
    std::string line;
  } const cases[] = {
      {"created outside", "created\t" + outside.AsUTF8()},
      {"created in a sibling", "created\t" + sibling.AsUTF8()},
      {"created through ..",
       "created\t" + folder.AsUTF8() + "\\..\\outside\\keep.txt"},
      {"created wildcard", "created\t" + folder.AsUTF8() + "\\*.txt"},
      {"shortcut wildcard", "created\t" + desktop.AsUTF8() + "\\*.lnk"},
      {"shortcut of another name", "created\t" + foreign_shortcut.AsUTF8()},
      {"created relative", "created\tinst\\user.txt"},
      {"created drive relative",
       "created\t" + root.AsUTF8().substr(0, 2) + "user.txt"},
      {"created UNC", "created\t\\\\localhost\\C$\\user.txt"},
      {"created device", "created\t" + folder.AsUTF8() + "\\CON"},
      {"created device path", "created\t\\\\.\\" + inside.AsUTF8()},
      {"created stream", "created\t" + inside.AsUTF8() + ":stream"},
      {"aside of another name",
       "aside\t" + inside.AsUTF8() + "\t" + outside.AsUTF8()},
      {"aside outside", "aside\t" + outside.AsUTF8() + "\t" + outside.AsUTF8() +
                            ".1765140000.old"},
      {"aside of the folder",
       "aside\t" + folder.AsUTF8() + "\t" + sibling_aside.AsUTF8()},
      {"moved out", "moved\t" + inside.AsUTF8() + "\t" + outside.AsUTF8()},
      {"folder outside", "folder\t" + outside.DirName().AsUTF8()},
      {"folder above the folder", "folder\t" + root.AsUTF8()},
      {"key of all Software", "key\tHKCU\t0\tSoftware\\"},
      {"key of another", "key\tHKCU\t0\t" + Hex(sentinel_key)},
      {"key of another view", "key\tHKCU\t983103\t" + Hex(product_key)},
      {"deleted key of another", "deletedkey\tHKCU\t0\t" + Hex(sentinel_key)},
      {"value planted", "value\tHKCU\t0\t" + Hex(run_key) + "\t" +
                            Hex(L"Planted") + "\t1\t" +
                            StringDataHex(L"C:\\x.exe")},
      {"value removed", "value\tHKCU\t0\t" + Hex(run_key) + "\t" +
                            Hex(L"Kept") + "\t4294967295\t"},
      {"command of another type",
       "value\tHKCU\t0\t" +
           Hex(L"Software\\Classes\\txtfile\\shell\\open\\command") +
           "\t\t1\t" + StringDataHex(L"C:\\x.exe")},
      {"tab in a key of old",
       "key\tHKCU\t0\t" + base::WideToUtf8(product_key) + "\tforged"},
      {"line break in a key of old", "key\tHKCU\t0\t" +
                                         base::WideToUtf8(product_key) +
                                         "\nkey\tHKCU\t0\tSoftware\\Sentinel"},
      {"huge line", "created\t" + folder.AsUTF8() + "\\" + huge_name},
      {"unknown kind", "planted\t" + inside.AsUTF8()},
      {"temporary outside", "temporary\t" + outside.AsUTF8()},
      {"temporary as a shortcut", "temporary\t" + own_shortcut.AsUTF8()},
      {"temporary of the folder", "temporary\t" + folder.AsUTF8()},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    ASSERT_TRUE(base::CreateDirectory(folder));
    for (const base::FilePath& file : files) {
      ASSERT_TRUE(base::CreateDirectory(file.DirName()));
      ASSERT_TRUE(base::WriteTextFile(file, "mine"));
    }
    ASSERT_TRUE(base::WriteTextFile(made, "made by the run"));
    ASSERT_TRUE(base::WriteTextFile(own_shortcut, "made by the run"));
    ASSERT_TRUE(WriteValue(sentinel_key, L"Kept", L"mine"));
    ASSERT_TRUE(WriteValue(run_key, L"Kept", L"mine"));
    ASSERT_TRUE(WriteValue(product_key, L"Changed", L"new"));
    ASSERT_TRUE(WriteValue(protocol_key, L"URL Protocol", L""));
    const std::string good =
        "created\t" + made.AsUTF8() + "\ncreated\t" + own_shortcut.AsUTF8() +
        "\nvalue\tHKCU\t0\t" + Hex(product_key) + "\t" + Hex(L"Changed") +
        "\t1\t" + StringDataHex(L"old") + "\n" +
        // As earlier runs wrote key paths: as text.
        "value\tHKCU\t0\t" + base::WideToUtf8(protocol_key) + "\t" +
        Hex(L"URL Protocol") + "\t4294967295\t\n";
    const base::FilePath journal = folder.AppendASCII(dead_run);
    ASSERT_TRUE(base::WriteTextFile(journal, good + test.line + "\n" + good));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_TRUE(base::PathExists(journal));
    EXPECT_EQ("made by the run", base::ReadTextFile(made));
    EXPECT_TRUE(base::PathExists(own_shortcut));
    EXPECT_EQ(L"new", ReadValue(product_key, L"Changed"));
    EXPECT_EQ(L"", ReadValue(protocol_key, L"URL Protocol"));
    EXPECT_EQ(
        L"<no key>",
        ReadValue(L"Software\\Classes\\txtfile\\shell\\open\\command", L""));
    for (const base::FilePath& file : files)
      EXPECT_EQ("mine", base::ReadTextFile(file)) << file.AsUTF8();
    EXPECT_EQ(L"mine", ReadValue(sentinel_key, L"Kept"));
    EXPECT_EQ(L"mine", ReadValue(run_key, L"Kept"));
    EXPECT_EQ(L"<none>", ReadValue(run_key, L"Planted"));

    // The same journal without the line is the run's own.
    ASSERT_TRUE(base::WriteTextFile(journal, good));
    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());
    EXPECT_FALSE(base::PathExists(journal));
    EXPECT_FALSE(base::PathExists(made));
    EXPECT_FALSE(base::PathExists(own_shortcut));
    EXPECT_EQ(L"old", ReadValue(product_key, L"Changed"));
    EXPECT_EQ(L"<none>", ReadValue(protocol_key, L"URL Protocol"));
  }
  base::DeletePath(foreign_shortcut, false);
  base::DeletePath(own_shortcut, false);
}

// A first run on a new profile made the parent of the product's keys and
// the folders of its Quick Launch shortcut, then died. The recovery takes
// the product's part away and each parent only once that leaves it empty:
// what others put there since keeps it. A created-key line naming a key
// every profile has reaches no further; a created-folder line for a
// folder beside the shell folder is no line of a run, and its journal is
// left whole.
TEST(InterruptedRunRecoveryTest, ParentsARunMadeGoOnlyAsFarAsTheyAreItsOwn) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::win::ScopedRegistryOverride user(HKEY_CURRENT_USER);
  ASSERT_TRUE(user.Valid());
  base::ScopedTempFolder temp;
  const base::FilePath roaming = temp.path().Append(L"Roaming");
  const base::FilePath explorer =
      roaming.Append(L"Microsoft\\Internet Explorer");
  const base::FilePath quick_launch = explorer.Append(L"Quick Launch");
  const base::ScopedPathOverride override_quick_launch(base::kQuickLaunch,
                                                       quick_launch);
  const base::FilePath folder = temp.path().Append(L"inst");
  ASSERT_TRUE(base::CreateDirectory(folder));
  const base::FilePath shortcut = quick_launch.Append(base::Utf8ToWide(
      GetVisibleProductNameWithStream() + GetShortcutSuffix() + ".lnk"));
  const base::FilePath theirs = quick_launch.Append(L"Other.lnk");
  const base::FilePath beside = explorer.Append(L"Other");
  const std::wstring classes = L"Software\\Classes";
  const std::wstring product_class = classes + L"\\" + ProductKeyName();
  const std::wstring other_class = classes + L"\\txtfile";
  const std::wstring sentinel = L"Software\\Sentinel";
  const base::FilePath journal = folder.Append(
      L"installer_run_20261207204000_" + std::to_wstring(ended.Pid()) +
      L".journal");
  const std::string run_lines =
      "key\tHKCU\t0\t" + Hex(classes) + "\nfolder\t" + explorer.AsUTF8() +
      "\nfolder\t" + quick_launch.AsUTF8() + "\ncreated\t" +
      shortcut.AsUTF8() + "\n";

  const struct {
    const char* label;
    bool others_there;
    std::string extra_line;
    bool recovered;
  } cases[] = {
      {"nothing else there", false, "", true},
      {"others' there since", true, "", true},
      {"the hive's software", true,
       "key\tHKCU\t0\t" + Hex(L"Software") + "\n", true},
      {"a folder beside the shell folder", false,
       "folder\t" + beside.AsUTF8() + "\n", false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    ASSERT_TRUE(base::CreateDirectory(quick_launch));
    if (!test.recovered) {
      ASSERT_TRUE(base::CreateDirectory(beside));
    }
    ASSERT_TRUE(base::WriteTextFile(shortcut, "made by the run"));
    ASSERT_TRUE(WriteValue(product_class, L"", L"made by the run"));
    ASSERT_TRUE(WriteValue(sentinel, L"Kept", L"mine"));
    if (test.others_there) {
      ASSERT_TRUE(base::WriteTextFile(theirs, "theirs"));
      ASSERT_TRUE(WriteValue(other_class, L"", L"theirs"));
    }
    ASSERT_TRUE(base::WriteTextFile(journal, test.extra_line + run_lines));

    // A refused journal is left alone, which counts as done.
    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_EQ(test.recovered, !base::PathExists(journal));
    EXPECT_EQ(test.recovered, !base::PathExists(shortcut));
    EXPECT_EQ(test.recovered ? L"<no key>" : L"made by the run",
              ReadValue(product_class, L""));
    EXPECT_EQ(L"mine", ReadValue(sentinel, L"Kept"));
    EXPECT_EQ(!test.recovered, base::DirectoryExists(beside));
    const bool emptied = test.recovered && !test.others_there;
    EXPECT_EQ(!emptied, base::DirectoryExists(quick_launch));
    EXPECT_EQ(!emptied, base::DirectoryExists(explorer));
    base::win::RegistryKey key;
    EXPECT_EQ(!emptied, key.Open(HKEY_CURRENT_USER, classes.c_str(),
                                 KEY_READ) == ERROR_SUCCESS);
    if (test.others_there) {
      EXPECT_EQ("theirs", base::ReadTextFile(theirs));
      EXPECT_EQ(L"theirs", ReadValue(other_class, L""));
    }
    base::DeletePath(roaming, true);
    base::DeletePath(journal, false);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, classes.c_str());
  }
}

// A run that made its installation folder names it in its journal: a dead
// run's undo takes it away after every journal there, only empty and only
// as itself, also when the run handed its work to the package's backend,
// whose own journal names the rest. Committed, it stays; a user's file put
// there since keeps it; a run that found it leaves it; and a line naming it
// through a link is no line of a run, so its journal is left whole.
TEST(InterruptedRunRecoveryTest, InstallFolderADeadRunMadeGoesOnlyEmptyAsItself) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  enum class Named { kMade, kMadeByTheFirstBackend, kFound, kThroughLink };
  const struct {
    const char* label;
    Named named;
    bool committed;
    bool users_file;
    bool folder_goes;
  } cases[] = {
      {"made, undone", Named::kMade, false, false, true},
      {"made by the backend that waited for the package",
       Named::kMadeByTheFirstBackend, false, false, true},
      {"made, committed", Named::kMade, true, false, false},
      {"made, a user's file there since", Named::kMade, false, true, false},
      {"found there", Named::kFound, false, false, false},
      {"made, named through a link", Named::kThroughLink, false, false, false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    base::ScopedTempFolder temp;
    const base::FilePath real = temp.path().Append(L"Tarvo Recovery");
    ASSERT_TRUE(base::CreateDirectory(real));
    std::unique_ptr<base::ScopedUnixLink> link;
    base::FilePath folder = real;
    if (test.named == Named::kThroughLink) {
      folder = temp.path().Append(L"Tarvo Link");
      link = std::make_unique<base::ScopedUnixLink>(folder, real);
      ASSERT_TRUE(link->made());
    }
    const base::FilePath version = folder.Append(L"45.0.2548.1");
    const base::FilePath copied = version.Append(L"tarvo.exe");
    const base::FilePath users_file = folder.Append(L"user.txt");
    ASSERT_TRUE(base::CreateDirectory(version));
    ASSERT_TRUE(base::WriteTextFile(copied, "new"));
    if (test.users_file) {
      ASSERT_TRUE(base::WriteTextFile(users_file, "mine"));
    }
    const std::string folder_line = "folder\t" + folder.AsUTF8() + "\n";
    std::string text =
        test.named == Named::kMade || test.named == Named::kThroughLink
            ? folder_line
            : std::string();
    text += "folder\t" + version.AsUTF8() + "\ncreated\t" + copied.AsUTF8() +
            "\n";
    if (test.committed)
      text += "committed\n";
    const std::wstring pid = std::to_wstring(ended.Pid());
    const base::FilePath journal =
        folder.Append(L"installer_run_20261207204001_" + pid + L".journal");
    ASSERT_TRUE(base::WriteTextFile(journal, text));
    // Older: recovered first, while the other still lies in the folder.
    const base::FilePath first_journal =
        folder.Append(L"installer_run_20261207204000_" + pid + L".journal");
    if (test.named == Named::kMadeByTheFirstBackend) {
      ASSERT_TRUE(base::WriteTextFile(first_journal, folder_line));
    }

    // A refused journal is left alone, which counts as done.
    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    const bool refused = test.named == Named::kThroughLink;
    EXPECT_EQ(refused, base::PathExists(journal));
    EXPECT_FALSE(base::PathExists(first_journal));
    EXPECT_EQ(!test.folder_goes, base::DirectoryExists(real));
    EXPECT_EQ(test.committed || refused, base::PathExists(copied));
    if (test.users_file) {
      EXPECT_EQ("mine", base::ReadTextFile(users_file));
    }
  }
}

// A journal larger than any run writes is refused before it is read.
TEST(InterruptedRunRecoveryTest, HugeJournalIsRefused) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath made = temp.path().Append(L"made.txt");
  ASSERT_TRUE(base::WriteTextFile(made, "made by the run"));
  const std::string line = "created\t" + made.AsUTF8() + "\n";
  std::string text;
  while (text.size() <= (64u << 20))
    text += line;
  const base::FilePath journal =
      temp.path().Append(L"installer_run_20261207204000_" +
                         std::to_wstring(ended.Pid()) + L".journal");
  ASSERT_TRUE(base::WriteTextFile(journal, text));

  EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(temp.path()).complete());

  EXPECT_TRUE(base::PathExists(journal));
  EXPECT_TRUE(base::PathExists(made));
}

// A live run's hold on the folder's mutex, taken on a thread of its own:
// a mutex is its owning thread's to take again.
class HeldMutex {
 public:
  explicit HeldMutex(const std::wstring& name)
      : thread_([this, name] {
          base::win::ScopedHandle mutex(
              ::CreateMutexW(nullptr, TRUE, name.c_str()));
          taken_.Signal();
          release_.Wait();
          ::ReleaseMutex(mutex.Get());
        }) {
    taken_.Wait();
  }
  ~HeldMutex() {
    release_.Signal();
    thread_.join();
  }

 private:
  base::SyncEvent taken_{base::SyncEvent::ResetMode::kManual,
                         base::SyncEvent::InitialState::kNotSignaled};
  base::SyncEvent release_{base::SyncEvent::ResetMode::kManual,
                           base::SyncEvent::InitialState::kNotSignaled};
  std::thread thread_;
};

// A run that holds the folder under its 8.3 spelling keeps a recovery of
// the long spelling away; once it lets go, the journal is recovered.
TEST(InterruptedRunRecoveryTest, RunHoldingTheFolderInAnotherSpellingIsLeft) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path().Append(L"Tarvo Spelt Two Ways");
  ASSERT_TRUE(base::CreateDirectory(folder));
  wchar_t short_folder[MAX_PATH];
  ASSERT_NE(
      0u, ::GetShortPathNameW(folder.value().c_str(), short_folder, MAX_PATH));
  ASSERT_NE(folder.value(), short_folder);
  const base::FilePath made = folder.Append(L"made.txt");
  ASSERT_TRUE(base::WriteTextFile(made, "made by the run"));
  const base::FilePath journal =
      folder.Append(L"installer_run_20261207204000_" +
                    std::to_wstring(ended.Pid()) + L".journal");
  ASSERT_TRUE(base::WriteTextFile(journal, "created\t" + made.AsUTF8() + "\n"));
  {
    const HeldMutex run(
        InstallerObjectNames(base::FilePath(short_folder)).mutex());
    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());
    EXPECT_TRUE(base::PathExists(journal));
    EXPECT_TRUE(base::PathExists(made));
  }
  EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());
  EXPECT_FALSE(base::PathExists(journal));
  EXPECT_FALSE(base::PathExists(made));
}

// An elevated recovery reads who wrote the journal before it acts; its
// own user's journal is carried out as a limited recovery's is. (Under Wine
// the user is always an elevated administrator and a file's owner cannot
// be changed: the elevation comes through the test seam of the token's
// rights, and the refusal of other writers is tested on the
// decision itself.)
TEST(InterruptedRunRecoveryTest, ElevatedRecoveryActsForTheUsersJournal) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  for (const TokenRights& token :
       {test::kAdministratorToken, test::kStandardUserToken}) {
    base::ScopedTempFolder temp;
    const base::FilePath made = temp.path().Append(L"made.txt");
    ASSERT_TRUE(base::WriteTextFile(made, "made by the run"));
    const base::FilePath journal =
        temp.path().Append(L"installer_run_20261207204000_" +
                           std::to_wstring(ended.Pid()) + L".journal");
    ASSERT_TRUE(base::WriteTextFile(journal, "created\t" + made.AsUTF8() + "\n"));
    {
      const test::ScopedTokenRights rights(token);
      EXPECT_TRUE(
          InterruptedRunRecovery::RecoverFolder(temp.path()).complete());
    }
    EXPECT_FALSE(base::PathExists(journal));
    EXPECT_FALSE(base::PathExists(made));
  }
}

}  // namespace
}  // namespace installer

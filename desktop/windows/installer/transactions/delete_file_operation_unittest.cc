#include "desktop/windows/installer/transactions/delete_file_operation.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "base/files/resolved_entry.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "base/time/tick_source.h"
#include "base/time/wall_clock.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/product/run_folder_name.h"
#include "desktop/windows/installer/transactions/file_errors.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

// Deleting, rolling back and committing on real folders are covered end to
// end (tests/e2e/test_file_operations.py); these tests need a clock or
// system calls that the end-to-end tests cannot control.

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;
using SystemCalls = DeleteFileOperation::SystemCalls;

// The names in `folder` that a deletion set aside.
std::vector<std::wstring> AsideNames(const FilePath& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE find =
      ::FindFirstFileW(folder.Append(L"*.old").value().c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return names;
  do {
    names.push_back(entry.cFileName);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return names;
}

std::unique_ptr<Operation> Delete(const FilePath& path) {
  return MakeDeleteFileOperation(path, /*check_in_use=*/true,
                                 /*remove_empty_parents=*/false);
}

// Wall clock and tick clock stand still at 1700000000 seconds after 1970.
class ScopedFrozenClock {
 public:
  ScopedFrozenClock()
      : ticks_(base::TickSource::SwapForTesting([] { return int64_t{1}; })),
        system_time_(base::WallClock::SwapSystemTimeForTesting(
            [] { return int64_t{13'344'473'600'000'000}; })) {
    base::WallClock::Rebase();
  }
  ~ScopedFrozenClock() {
    base::TickSource::SwapForTesting(ticks_);
    base::WallClock::SwapSystemTimeForTesting(system_time_);
    base::WallClock::Rebase();
  }

 private:
  const base::TickSource::NowFunction ticks_;
  const base::WallClock::SystemTimeFunction system_time_;
};

class ScopedSystemCalls {
 public:
  explicit ScopedSystemCalls(const SystemCalls& calls)
      : previous_(DeleteFileOperation::SwapSystemCallsForTesting(calls)) {}
  ~ScopedSystemCalls() {
    DeleteFileOperation::SwapSystemCallsForTesting(previous_);
  }

 private:
  const SystemCalls previous_;
};

// The calls in force: the real ones outside a ScopedSystemCalls.
SystemCalls RealSystemCalls() {
  const SystemCalls calls = DeleteFileOperation::SwapSystemCallsForTesting({});
  DeleteFileOperation::SwapSystemCallsForTesting(calls);
  return calls;
}

// Wine keeps a file's access list only as Unix mode bits and cannot give
// back the list it reported, so recording stand-ins take the access calls.
struct AccessLog {
  bool grant_succeeds = true;
  // The files' indexes: Wine tells a handle's path by the name it was
  // opened by, also after a rename.
  std::vector<uint64_t> granted;
  std::vector<uint64_t> restored;
} g_access;

bool RefuseAccess(const std::wstring& name, int type, DWORD access) {
  return false;
}

uint64_t IndexOf(HANDLE file) {
  return base::ReadFileIndex(file).value_or(0);
}

uint64_t IndexOf(const FilePath& path) {
  const base::win::ScopedHandle file(::CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return IndexOf(file.Get());
}

bool RecordGrant(HANDLE file,
                 DWORD access,
                 std::unique_ptr<SavedSecurityInfo>* saved) {
  EXPECT_EQ(access, 0x130116u);
  g_access.granted.push_back(IndexOf(file));
  if (!g_access.grant_succeeds)
    return false;
  *saved = std::make_unique<SavedSecurityInfo>();
  return true;
}

bool RecordRestore(HANDLE file, const SavedSecurityInfo* saved) {
  g_access.restored.push_back(IndexOf(file));
  return true;
}

bool ReportInUse(const FilePath& aside_path) {
  ::SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

// No second process can be made to take the name at the exact moment
// between the in-use test and the move back: this probe does it instead.
FilePath g_name_to_take;
bool TakeNameAndReportInUse(const FilePath& aside_path) {
  ::CreateDirectoryW(g_name_to_take.value().c_str(), nullptr);
  return ReportInUse(aside_path);
}

SystemCalls LockedFileCalls() {
  return {RealSystemCalls().open_for_writing, &RefuseAccess, &RecordGrant,
          &RecordRestore};
}

TEST(DeleteFileOperationTest, SamePathTwiceInOneSecondGetsTwoNames) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a.dll", "first");
  ScopedFrozenClock frozen;
  for (const bool commit : {false, true}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
      tree.WriteFile(L"a.dll", "second");
      ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
      EXPECT_EQ(AsideNames(tree.root()),
                (std::vector<std::wstring>{L"a.dll.1700000000.old",
                                           L"a.dll.1700000000_1.old"}));
      if (!commit)
        transaction.RollbackOperations();
    }
    EXPECT_EQ(TempTree::ReadFile(file), commit ? "<missing>" : "first");
    EXPECT_TRUE(AsideNames(tree.root()).empty());
  }
}

// Something has taken the file's name meanwhile: the set-aside file is the
// only copy left, the commit must not remove it, and the access list goes
// back where it lies.
TEST(DeleteFileOperationTest, FailedMoveBackKeepsTheSetAsideFile) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a.txt", "only copy");
  g_access = AccessLog();
  {
    ScopedSystemCalls calls(LockedFileCalls());
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    ASSERT_TRUE(::CreateDirectoryW(file.value().c_str(), nullptr));
    transaction.RollbackOperations();
  }
  const std::vector<std::wstring> aside = AsideNames(tree.root());
  ASSERT_EQ(aside.size(), 1u);
  const FilePath aside_path = tree.root().Append(aside[0]);
  EXPECT_EQ(TempTree::ReadFile(aside_path), "only copy");
  EXPECT_EQ(g_access.restored, std::vector<uint64_t>{IndexOf(aside_path)});
}

TEST(DeleteFileOperationTest, InUseFileWhoseMoveBackFailsIsLeftToRollback) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"app.exe", "running");
  g_name_to_take = file;
  DeleteFileOperation operation(file, true, false);
  Transaction sub_operations;
  {
    SystemCalls calls = RealSystemCalls();
    calls.open_for_writing = &TakeNameAndReportInUse;
    ScopedSystemCalls scoped(calls);
    EXPECT_FALSE(operation.Do(&sub_operations));
  }
  ASSERT_EQ(AsideNames(tree.root()).size(), 1u);

  ::RemoveDirectoryW(file.value().c_str());
  operation.Rollback();
  EXPECT_EQ(TempTree::ReadFile(file), "running");
  EXPECT_TRUE(AsideNames(tree.root()).empty());
}

// The process may not write or delete the file, so the deletion grants the
// current user that access and goes on. The access list from before goes
// back whenever the deletion is undone; a commit deletes the file with it.
TEST(DeleteFileOperationTest, GrantedAccessIsWithdrawnWhenDeletionIsUndone) {
  // kSecondName: the name is a hard link to another's file, whose list a
  // grant would change too: nothing is granted.
  enum class Ending { kCommit, kRollback, kInUse, kGrantRefused, kSecondName };
  struct Case {
    const char* name;
    Ending ending;
    bool deleted;
    size_t restores;
  };
  const Case cases[] = {
      {"commit", Ending::kCommit, true, 0},
      {"rollback", Ending::kRollback, false, 1},
      {"in use", Ending::kInUse, false, 1},
      {"grant refused", Ending::kGrantRefused, false, 0},
      {"second name", Ending::kSecondName, false, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    TempTree others;
    const FilePath file = tree.WriteFile(L"locked.dll", "locked");
    const uint64_t index = IndexOf(file);
    if (test.ending == Ending::kSecondName) {
      ASSERT_TRUE(::CreateHardLinkW(others.Path(L"theirs.dll").value().c_str(),
                                    file.value().c_str(), nullptr));
    }
    g_access = AccessLog();
    g_access.grant_succeeds = test.ending != Ending::kGrantRefused;
    SystemCalls calls = LockedFileCalls();
    if (test.ending == Ending::kInUse)
      calls.open_for_writing = &ReportInUse;
    {
      ScopedSystemCalls scoped(calls);
      Transaction transaction;
      EXPECT_EQ(transaction.ExecuteOperation(Delete(file)),
                test.ending == Ending::kCommit ||
                    test.ending == Ending::kRollback);
      if (test.ending == Ending::kRollback)
        transaction.RollbackOperations();
    }
    EXPECT_EQ(g_access.granted,
              std::vector<uint64_t>(
                  test.ending == Ending::kSecondName ? 0 : 1, index));
    EXPECT_EQ(g_access.restored, std::vector<uint64_t>(test.restores, index));
    EXPECT_EQ(TempTree::Exists(file), !test.deleted);
    EXPECT_TRUE(AsideNames(tree.root()).empty());
  }
}

// The owner and access list of `path`, as text.
std::wstring SecurityOf(const FilePath& path) {
  base::win::ScopedLocalAlloc<void> descriptor;
  if (::GetNamedSecurityInfoW(path.value().c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION |
                                  DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr,
                              descriptor.Receive()) != ERROR_SUCCESS) {
    return L"<unreadable>";
  }
  base::win::ScopedLocalAlloc<wchar_t> text;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.Get(), SDDL_REVISION_1,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, text.Receive(),
      nullptr);
  return text ? std::wstring(text.Get()) : L"<unreadable>";
}

// A list that denies everyone writing and deleting.
bool LockWithAccessList(const FilePath& path) {
  base::win::ScopedLocalAlloc<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(D;;0x130116;;;WD)(A;;FA;;;WD)", SDDL_REVISION_1,
          descriptor.Receive(), nullptr)) {
    return false;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted);
  return ::SetNamedSecurityInfoW(
             const_cast<wchar_t*>(path.value().c_str()), SE_FILE_OBJECT,
             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
             nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// On the real access calls: a list that denies everyone writing and
// deleting makes the check fail, the grant lets the deletion go on. A
// name that reaches another's file (a hard link to it, or a link put in
// place of the file judged) gets no grant: that file keeps its owner and
// list.
TEST(DeleteFileOperationTest, LockedFileIsDeletedThroughAGrant) {
  enum class Name { kPlain, kSecondName, kSwappedForLink };
  const struct {
    const char* name;
    Name kind;
  } kCases[] = {
      {"plain", Name::kPlain},
      {"hard link to another's file", Name::kSecondName},
      {"swapped for a link after the judgement", Name::kSwappedForLink},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    TempTree others;
    const FilePath theirs = others.WriteFile(L"theirs.dll", "theirs");
    ASSERT_TRUE(LockWithAccessList(theirs));
    const std::wstring their_security = SecurityOf(theirs);
    const FilePath file = tree.Path(L"locked.dll");
    if (test.kind == Name::kSecondName) {
      ASSERT_TRUE(::CreateHardLinkW(file.value().c_str(),
                                    theirs.value().c_str(), nullptr));
    } else {
      tree.WriteFile(L"locked.dll", "locked");
      ASSERT_TRUE(LockWithAccessList(file));
    }
    ASSERT_FALSE(CheckAccessToPath(file.value(), SE_FILE_OBJECT, 0x130116));
    base::ResolvedEntry judged = base::ResolvedEntry::Resolve(file);
    ASSERT_EQ(judged.kind(), base::ResolvedEntry::Kind::kPlain);
    std::unique_ptr<base::ScopedUnixLink> link;
    if (test.kind == Name::kSwappedForLink) {
      ASSERT_TRUE(::MoveFileW(file.value().c_str(),
                              tree.Path(L"moved.dll").value().c_str()));
      link = std::make_unique<base::ScopedUnixLink>(file, theirs);
      if (!link->made())
        GTEST_SKIP() << "No Unix link can be made here";
    }
    {
      Transaction transaction;
      EXPECT_EQ(transaction.ExecuteOperation(MakeDeleteFileOperation(
                    std::move(judged), true, false)),
                test.kind == Name::kPlain);
    }
    EXPECT_EQ(TempTree::Exists(file), test.kind != Name::kPlain);
    EXPECT_TRUE(AsideNames(tree.root()).empty());
    EXPECT_EQ(TempTree::ReadFile(theirs), "theirs");
    EXPECT_EQ(SecurityOf(theirs), their_security);
  }
}

BOOL WINAPI WriteFailsDiskFull(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) {
  ::SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// A folder whose journal cannot be made or written (a read-only or full
// volume) refuses the deletion with the journal's error: never one that
// reads as a program holding the file, and the file stays.
TEST(DeleteFileOperationTest, JournalThatCannotBeWrittenIsNotAFileInUse) {
  const struct {
    const char* name;
    bool journal_name_taken;
    decltype(&::WriteFile) write;
  } kCases[] = {
      // Windows refuses to open a folder as the journal's file, as it
      // refuses a file on a read-only volume.
      {"journal cannot be made", true, &::WriteFile},
      {"journal line cannot be written", false, &WriteFailsDiskFull},
  };
  ScopedFrozenClock frozen;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    const FilePath file = tree.WriteFile(L"tarvo.exe", "installed");
    if (c.journal_name_taken) {
      const FilePath journal = tree.root().Append(
          RunFolderName::MakeForThisRun(L"installer_run") +
          RunJournal::kExtension);
      ASSERT_TRUE(::CreateDirectoryW(journal.value().c_str(), nullptr));
    }
    const RunJournal::FileCalls previous =
        RunJournal::SwapFileCallsForTesting({c.write, &::FlushFileBuffers});
    RunJournal::Get()->Start(tree.root());
    uint32_t error = 0;
    {
      Transaction transaction;
      EXPECT_FALSE(transaction.ExecuteOperation(Delete(file)));
      error = transaction.last_error();
    }
    RunJournal::Get()->Finish();
    RunJournal::SwapFileCallsForTesting(previous);
    EXPECT_NE(error, 0u);
    EXPECT_FALSE(IsFileInUseError(error)) << error;
    if (!c.journal_name_taken) {
      EXPECT_EQ(error, static_cast<uint32_t>(ERROR_DISK_FULL));
    }
    EXPECT_EQ(TempTree::ReadFile(file), "installed");
  }
}

// The commit deletes the file it set aside, known by its identity: a file
// put under the set-aside name meanwhile is never touched. (A name swapped
// between the judgement and the move is not tried here: Wine renames a
// handle's file by the name it was opened by.)
TEST(DeleteFileOperationTest, CommitDeletesOnlyTheFileItSetAside) {
  for (const bool swapped : {false, true}) {
    SCOPED_TRACE(swapped ? "set-aside name taken" : "as set aside");
    TempTree tree;
    const FilePath file = tree.WriteFile(L"a.dll", "judged");
    const FilePath moved = tree.root().Append(L"moved.bin");
    base::ResolvedEntry judged = base::ResolvedEntry::Resolve(
        file, base::ResolvedEntry::Purpose::kToDelete);
    ASSERT_EQ(judged.kind(), base::ResolvedEntry::Kind::kPlain);
    std::vector<std::wstring> aside;
    {
      Transaction transaction;
      ASSERT_TRUE(transaction.ExecuteOperation(
          MakeDeleteFileOperation(std::move(judged), true, false)));
      aside = AsideNames(tree.root());
      ASSERT_EQ(aside.size(), 1u);
      const FilePath aside_path = tree.root().Append(aside[0]);
      EXPECT_EQ(TempTree::ReadFile(aside_path), "judged");
      if (swapped) {
        ASSERT_TRUE(
            ::MoveFileW(aside_path.value().c_str(), moved.value().c_str()));
        tree.WriteFile(aside[0].c_str(), "impostor");
      }
    }
    EXPECT_FALSE(TempTree::Exists(file));
    if (swapped) {
      EXPECT_EQ(AsideNames(tree.root()), aside);
      EXPECT_EQ(TempTree::ReadFile(tree.root().Append(aside[0])), "impostor");
      EXPECT_EQ(TempTree::ReadFile(moved), "judged");
    } else {
      EXPECT_TRUE(AsideNames(tree.root()).empty());
    }
  }
}

// The set-aside name is given within the folder the file or folder was
// judged in: a folder on the way swapped for a link since (by a Unix rename:
// Windows refuses to rename a folder with a file open below it, but
// re-points a junction on the way) sends it nowhere else, and nothing
// outside changes. (Wine names a handle's file by the name it was opened
// by: the old whole-path rename moved the file the link led to.)
TEST(DeleteFileOperationTest, SetAsideStaysInTheFolderItWasJudgedIn) {
  const struct {
    const char* label;
    bool folder;
    bool swapped;
  } kCases[] = {
      {"file", false, false},
      {"file, folder on the way swapped for a link", false, true},
      {"folder", true, false},
      {"folder, folder on the way swapped for a link", true, true},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    TempTree tree;
    tree.MakeDir(L"inst\\sub");
    tree.MakeDir(L"out\\sub");
    // The entry to delete and its decoy outside, under the same names.
    for (const wchar_t* entry : {L"inst\\sub\\a.dll", L"out\\sub\\a.dll"}) {
      const bool outside = entry[0] == L'o';
      if (test.folder) {
        tree.MakeDir(entry);
        tree.WriteFile((std::wstring(entry) + L"\\in.txt").c_str(),
                       outside ? "theirs" : "judged");
      } else {
        tree.WriteFile(entry, outside ? "theirs" : "judged");
      }
    }
    const wchar_t* const content =
        test.folder ? L"\\sub\\a.dll\\in.txt" : L"\\sub\\a.dll";
    base::ResolvedEntry judged = base::ResolvedEntry::Resolve(
        tree.Path(L"inst\\sub\\a.dll"),
        base::ResolvedEntry::Purpose::kToDelete);
    ASSERT_EQ(judged.kind(), base::ResolvedEntry::Kind::kPlain);
    std::unique_ptr<base::ScopedUnixLink> link;
    if (test.swapped) {
      ASSERT_TRUE(base::RenameWithUnix(tree.Path(L"inst"),
                                       tree.Path(L"inst.moved")));
      link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"inst"),
                                                    tree.Path(L"out"));
      if (!link->made())
        GTEST_SKIP() << "No Unix link can be made here";
    }
    {
      Transaction transaction;
      EXPECT_EQ(transaction.ExecuteOperation(
                    MakeDeleteFileOperation(std::move(judged), false, false)),
                !test.swapped);
    }
    EXPECT_EQ(TempTree::ReadFile(tree.Path((L"out" + std::wstring(content))
                                               .c_str())),
              "theirs");
    EXPECT_TRUE(AsideNames(tree.Path(L"out\\sub")).empty());
    const std::wstring judged_folder = test.swapped ? L"inst.moved" : L"inst";
    EXPECT_EQ(TempTree::ReadFile(
                  tree.Path((judged_folder + content).c_str())),
              test.swapped ? "judged" : "<missing>");
  }
}

// The commit removes the folders it emptied, once each, deepest first, up
// to the first that stays or the outermost folder given. A folder swapped
// for a link to an empty folder before the commit, or a folder above it
// swapped so, sends the removal nowhere: the empty folders the links lead
// to stay.
TEST(DeleteFileOperationTest, CommitRemovesEmptiedFoldersNeverThroughALink) {
  const struct {
    const char* name;
    // Moved aside and replaced by a link to `target` before the commit;
    // null: nothing planted.
    const wchar_t* swapped;
    const wchar_t* target;
    // Null: none given.
    const wchar_t* outermost;
    bool a_kept;
    bool b_kept;
  } kCases[] = {
      {"plain", nullptr, nullptr, nullptr, false, false},
      {"up to the outermost", nullptr, nullptr, L"inst\\a\\b", true, false},
      {"folder swapped", L"inst\\a\\b", L"out\\b", nullptr, true, true},
      {"folder above swapped", L"inst\\a", L"out\\a", nullptr, true, true},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    tree.MakeDir(L"inst\\a\\b");
    tree.WriteFile(L"inst\\kept.txt", "kept");
    const FilePath first = tree.WriteFile(L"inst\\a\\b\\f.dll", "f");
    const FilePath second = tree.WriteFile(L"inst\\a\\b\\g.dll", "g");
    tree.MakeDir(L"out\\a\\b");
    tree.MakeDir(L"out\\b");
    const FilePath outermost =
        test.outermost ? base::ResolvedEntry::GetFinalPath(tree.root())
                             .Append(test.outermost)
                       : FilePath();
    std::unique_ptr<base::ScopedUnixLink> link;
    {
      Transaction transaction;
      for (const FilePath& file : {first, second}) {
        ASSERT_TRUE(transaction.ExecuteOperation(
            MakeDeleteFileOperation(file, /*check_in_use=*/true,
                                    /*remove_empty_parents=*/true, outermost)));
      }
      if (test.swapped) {
        const FilePath swapped = tree.Path(test.swapped);
        const FilePath moved = swapped.AddExtension(L"moved");
        ASSERT_TRUE(
            ::MoveFileW(swapped.value().c_str(), moved.value().c_str()));
        link = std::make_unique<base::ScopedUnixLink>(swapped,
                                                      tree.Path(test.target));
        if (!link->made())
          GTEST_SKIP() << "No Unix link can be made here";
      }
    }
    EXPECT_FALSE(TempTree::Exists(first));
    EXPECT_FALSE(TempTree::Exists(second));
    EXPECT_EQ(TempTree::Exists(tree.Path(L"inst\\a")), test.a_kept);
    EXPECT_EQ(TempTree::Exists(tree.Path(L"inst\\a\\b")), test.b_kept);
    EXPECT_EQ(TempTree::ReadFile(tree.Path(L"inst\\kept.txt")), "kept");
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"out\\a\\b")));
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"out\\b")));
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/temp_tree.h"
#include "base/time/tick_source.h"
#include "base/time/wall_clock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

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

// Wall clock and tick clock stand still, so that every deletion falls in
// the same second.
class ScopedFrozenClock {
 public:
  // 1700000000 seconds after 1970, in microseconds after 1601.
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

using SystemCalls = DeleteFileOperation::SystemCalls;

SystemCalls RealSystemCalls() {
  const SystemCalls calls = DeleteFileOperation::SwapSystemCallsForTesting({});
  DeleteFileOperation::SwapSystemCallsForTesting(calls);
  return calls;
}

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

TEST(DeleteFileOperationTest, MissingPathIsKeptAndTouchesNothing) {
  TempTree tree;
  const FilePath folder = tree.MakeDir(L"app");
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(folder.Append(L"gone"))));
    EXPECT_EQ(transaction.size(), 1u);
    transaction.RollbackOperations();
  }
  EXPECT_TRUE(TempTree::Exists(folder));
}

TEST(DeleteFileOperationTest, CommitRemovesSetAsideFileAndEmptyParents) {
  TempTree tree;
  tree.WriteFile(L"keep.txt", "stays");
  tree.MakeDir(L"app\\bin");
  const FilePath file = tree.WriteFile(L"app\\bin\\tool.dll", "old");
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(
        MakeDeleteFileOperation(file, true, /*remove_empty_parents=*/true)));
    EXPECT_FALSE(TempTree::Exists(file));
    EXPECT_EQ(AsideNames(file.DirName()).size(), 1u);
  }
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"app")));
  EXPECT_TRUE(TempTree::Exists(tree.Path(L"keep.txt")));
}

TEST(DeleteFileOperationTest, RollbackPutsTheFileBackAndCommitsNothing) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a.txt", "original");
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(
        MakeDeleteFileOperation(file, false, /*remove_empty_parents=*/true)));
    transaction.RollbackOperations();
  }
  EXPECT_EQ(TempTree::ReadFile(file), "original");
  EXPECT_TRUE(AsideNames(tree.root()).empty());
}

// Something has taken the file's name meanwhile: the set-aside file is the
// only copy left and the commit must not remove it.
TEST(DeleteFileOperationTest, FailedMoveBackKeepsTheSetAsideFile) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a.txt", "only copy");
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    ASSERT_TRUE(::CreateDirectoryW(file.value().c_str(), nullptr));
    transaction.RollbackOperations();
  }
  const std::vector<std::wstring> aside = AsideNames(tree.root());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(TempTree::ReadFile(tree.root().Append(aside[0])), "only copy");
}

// No second process can be made to take the name at the exact moment
// between the in-use test and the move back: the probe does it instead.
FilePath g_name_to_take;
bool TakeNameAndReportInUse(const FilePath& aside_path) {
  ::CreateDirectoryW(g_name_to_take.value().c_str(), nullptr);
  ::SetLastError(ERROR_SHARING_VIOLATION);
  return false;
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

TEST(DeleteFileOperationTest, HeldExecutableStaysButOtherFilesAreNotTested) {
  struct Case {
    const wchar_t* name;
    bool deleted;
  };
  for (const Case& held : {Case{L"app.EXE", false}, Case{L"notes.txt", true}}) {
    TempTree tree;
    const FilePath file = tree.WriteFile(held.name, "held");
    // Held as a running program is: deletable, not writable.
    base::win::ScopedHandle holder(::CreateFileW(
        file.value().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    Transaction transaction;
    EXPECT_EQ(transaction.ExecuteOperation(Delete(file)), held.deleted);
    EXPECT_EQ(TempTree::Exists(file), !held.deleted);
    EXPECT_EQ(AsideNames(tree.root()).size(), held.deleted ? 1u : 0u);
    transaction.RollbackOperations();
  }
}

TEST(DeleteFileOperationTest, SamePathTwiceInOneSecondGetsTwoNames) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"a.dll", "first");
  ScopedFrozenClock frozen;
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    tree.WriteFile(L"a.dll", "second");
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    EXPECT_EQ(AsideNames(tree.root()),
              (std::vector<std::wstring>{L"a.dll.1700000000.old",
                                         L"a.dll.1700000000_1.old"}));
    transaction.RollbackOperations();
  }
  EXPECT_EQ(TempTree::ReadFile(file), "first");
  EXPECT_TRUE(AsideNames(tree.root()).empty());

  {
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    tree.WriteFile(L"a.dll", "second");
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
  }
  EXPECT_FALSE(TempTree::Exists(file));
  EXPECT_TRUE(AsideNames(tree.root()).empty());
}

// Wine keeps a file's access list only as Unix mode bits and cannot give
// back the list it reported, so recording stand-ins take the access calls.
struct AccessLog {
  bool grant_succeeds = true;
  std::vector<std::wstring> granted;
  std::vector<std::wstring> restored;
} g_access;

bool RefuseAccess(const std::wstring& name, int type, DWORD access) {
  return false;
}

bool RecordGrant(const std::wstring& name,
                 int type,
                 DWORD access,
                 bool discard_previous,
                 std::unique_ptr<SavedSecurityInfo>* saved) {
  EXPECT_EQ(type, SE_FILE_OBJECT);
  EXPECT_EQ(access, 0x130116u);
  EXPECT_FALSE(discard_previous);
  g_access.granted.push_back(name);
  if (!g_access.grant_succeeds)
    return false;
  *saved = std::make_unique<SavedSecurityInfo>();
  (*saved)->object_name = name;
  (*saved)->object_type = type;
  return true;
}

bool RecordRestore(const SavedSecurityInfo* saved) {
  g_access.restored.push_back(saved->object_name);
  return true;
}

bool ReportInUse(const FilePath& aside_path) {
  ::SetLastError(ERROR_SHARING_VIOLATION);
  return false;
}

// The process may not write or delete the file, so the deletion grants the
// current user that access and goes on. The access list from before goes
// back whenever the deletion is undone; a commit deletes the file with it.
TEST(DeleteFileOperationTest, GrantedAccessIsWithdrawnWhenDeletionIsUndone) {
  enum class Ending { kCommit, kRollback, kInUse, kGrantRefused };
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
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    const FilePath file = tree.WriteFile(L"locked.dll", "locked");
    g_access = AccessLog();
    g_access.grant_succeeds = test.ending != Ending::kGrantRefused;
    SystemCalls calls = {RealSystemCalls().open_for_writing, &RefuseAccess,
                         &RecordGrant, &RecordRestore};
    if (test.ending == Ending::kInUse)
      calls.open_for_writing = &ReportInUse;
    {
      ScopedSystemCalls scoped(calls);
      Transaction transaction;
      const bool done = transaction.ExecuteOperation(Delete(file));
      EXPECT_EQ(done, test.ending == Ending::kCommit ||
                          test.ending == Ending::kRollback);
      if (test.ending == Ending::kRollback)
        transaction.RollbackOperations();
    }
    EXPECT_EQ(g_access.granted, std::vector<std::wstring>{file.value()});
    EXPECT_EQ(g_access.restored,
              std::vector<std::wstring>(test.restores, file.value()));
    EXPECT_EQ(TempTree::Exists(file), !test.deleted);
    EXPECT_TRUE(AsideNames(tree.root()).empty());
  }
}

// When the file cannot go back, its access list goes back where it lies.
TEST(DeleteFileOperationTest, AccessListOfFileThatCannotGoBackIsRestoredAside) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"locked.dll", "locked");
  g_access = AccessLog();
  const SystemCalls calls = {RealSystemCalls().open_for_writing,
                             &RefuseAccess, &RecordGrant, &RecordRestore};
  {
    ScopedSystemCalls scoped(calls);
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(Delete(file)));
    ASSERT_TRUE(::CreateDirectoryW(file.value().c_str(), nullptr));
    transaction.RollbackOperations();
  }
  const std::vector<std::wstring> aside = AsideNames(tree.root());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(g_access.restored,
            std::vector<std::wstring>{tree.root().Append(aside[0]).value()});
}

}  // namespace
}  // namespace installer

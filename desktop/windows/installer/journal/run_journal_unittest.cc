#include "desktop/windows/installer/journal/run_journal.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/planted_link_tree.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/transactions/move_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

// A volume that fills, or goes away, under the journal is stood in for by
// its write and flush calls: the build's own disk cannot be made to refuse
// one write of a process under Wine. A real full volume is covered end to
// end (tests/e2e/test_file_operations.py).

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

BOOL WINAPI WriteFailsDiskFull(HANDLE, LPCVOID, DWORD, LPDWORD written,
                               LPOVERLAPPED) {
  *written = 0;
  ::SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

// The volume fills after this many more lines.
int g_lines_with_room = 0;
BOOL WINAPI WriteUntilDiskFull(HANDLE file, LPCVOID data, DWORD size,
                               LPDWORD written, LPOVERLAPPED overlapped) {
  if (g_lines_with_room-- > 0)
    return ::WriteFile(file, data, size, written, overlapped);
  return WriteFailsDiskFull(file, data, size, written, overlapped);
}

// Half the line lands and success is reported, as a write cut short by a
// filling volume may.
BOOL WINAPI WriteStopsHalfway(HANDLE file, LPCVOID data, DWORD size,
                              LPDWORD written, LPOVERLAPPED overlapped) {
  return ::WriteFile(file, data, size / 2, written, overlapped);
}

BOOL WINAPI FlushFails(HANDLE) {
  ::SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

int g_flushes = 0;
BOOL WINAPI CountedFlush(HANDLE file) {
  ++g_flushes;
  return ::FlushFileBuffers(file);
}

// The path whose presence each flush notes, and what it saw.
FilePath g_watched;
std::vector<bool> g_watched_at_flush;
BOOL WINAPI WatchingFlush(HANDLE file) {
  g_watched_at_flush.push_back(TempTree::Exists(g_watched));
  return ::FlushFileBuffers(file);
}

class ScopedJournalFileCalls {
 public:
  ScopedJournalFileCalls(decltype(&::WriteFile) write,
                         decltype(&::FlushFileBuffers) flush)
      : previous_(RunJournal::SwapFileCallsForTesting({write, flush})) {}
  ~ScopedJournalFileCalls() { RunJournal::SwapFileCallsForTesting(previous_); }

 private:
  const RunJournal::FileCalls previous_;
};

// The process's journal, kept in `folder` for the test's length.
class ScopedRunJournal {
 public:
  explicit ScopedRunJournal(const FilePath& folder) {
    RunJournal::Get()->Start(folder);
  }
  ~ScopedRunJournal() { RunJournal::Get()->Finish(); }
};

FilePath JournalIn(const FilePath& folder) {
  base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                               L"*.journal");
  return listing.Next();
}

TEST(RunJournalTest, LostLineRefusesEveryLaterChangeUntilTheNextRun) {
  struct Case {
    const char* name;
    decltype(&::WriteFile) write;
    decltype(&::FlushFileBuffers) flush;
  } const cases[] = {
      {"write fails", &WriteFailsDiskFull, &::FlushFileBuffers},
      {"write stops halfway", &WriteStopsHalfway, &::FlushFileBuffers},
      {"flush fails", &::WriteFile, &FlushFails},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    const FilePath file = tree.Path(L"app.dll");
    RunJournal* journal = RunJournal::Get();
    {
      ScopedRunJournal run(tree.root());
      {
        ScopedJournalFileCalls failing(test.write, test.flush);
        EXPECT_FALSE(journal->RecordSetAside(file, tree.Path(L"app.dll.1.old")));
      }
      // The volume has room again, but the journal has a hole (or half a
      // line that would swallow the next): nothing more goes in.
      EXPECT_FALSE(journal->RecordCreated(file));
      std::vector<RunJournal::Entry> entries;
      ASSERT_TRUE(RunJournal::Read(JournalIn(tree.root()), &entries));
      EXPECT_EQ(test.flush == &FlushFails ? 1u : 0u, entries.size());
    }
    ScopedRunJournal next_run(tree.root());
    EXPECT_TRUE(journal->RecordCreated(file));
  }
}

// An elevated run keeps and reads journals in folders others may write: a
// link under a journal's name is refused, wherever it leads, while the
// plain file it leads to reads (as a journal without a whole line); a run
// makes its journal only in the folder itself, never where a folder link
// on the way leads.
TEST(RunJournalTest, NoJournalIsReadOrMadeThroughALink) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const struct {
    const wchar_t* name;
    bool read;
  } kCases[] = {
      {L"inst\\plain.txt", true},
      {L"inst\\fileinlink", false},
      {L"inst\\filelink", false},
  };
  for (const auto& test : kCases) {
    std::vector<RunJournal::Entry> entries;
    EXPECT_EQ(RunJournal::Read(tree.Path(test.name), &entries), test.read)
        << FilePath(test.name).AsUTF8();
    EXPECT_TRUE(entries.empty());
  }
  const struct {
    const wchar_t* folder;
    bool made;
  } kRuns[] = {{L"inst\\sub", true}, {L"inst\\dirlink", false}};
  for (const auto& test : kRuns) {
    SCOPED_TRACE(FilePath(test.folder).AsUTF8());
    ScopedRunJournal run(tree.Path(test.folder));
    EXPECT_EQ(RunJournal::Get()->RecordCreated(tree.Path(L"inst\\b.txt")),
              test.made);
    EXPECT_EQ(!JournalIn(tree.Path(test.folder)).empty(), test.made);
  }
  EXPECT_TRUE(JournalIn(tree.Path(L"out\\dir")).empty());
  EXPECT_TRUE(tree.CanariesKept());
}

TEST(RunJournalTest, WithoutAFolderThereIsNothingToKeep) {
  TempTree tree;
  ScopedJournalFileCalls failing(&WriteFailsDiskFull, &FlushFails);
  for (const FilePath& folder : {FilePath(), tree.Path(L"not yet made")}) {
    SCOPED_TRACE(folder.AsUTF8());
    ScopedRunJournal run(folder);
    EXPECT_TRUE(RunJournal::Get()->RecordCreated(tree.Path(L"a.txt")));
    EXPECT_TRUE(RunJournal::Get()->RecordCommitted());
  }
}

// What displaces a file, a key or a value is on the disk before the change;
// a creation, a new value and a move out of the run's temporary package wait
// for the next such line.
TEST(RunJournalTest, LinesOfDisplacingChangesAreFlushed) {
  TempTree tree;
  const FilePath path = tree.Path(L"a.txt");
  RunJournal* journal = RunJournal::Get();
  const std::wstring key = L"Software\\TarvoTest\\Journal";
  struct Case {
    const char* name;
    std::function<bool()> record;
    int flushes;
  } const cases[] = {
      {"aside", [&] { return journal->RecordSetAside(path, path); }, 1},
      {"moved", [&] { return journal->RecordMoved(path, path); }, 1},
      {"moved out of temporary",
       [&] { return journal->RecordMovedOutOfTemporary(path, path); },
       0},
      {"created", [&] { return journal->RecordCreated(path); }, 0},
      {"temporary", [&] { return journal->RecordTemporary(path); }, 0},
      {"folder", [&] { return journal->RecordCreatedFolder(path); }, 0},
      {"key",
       [&] { return journal->RecordCreatedKey(HKEY_CURRENT_USER, 0, key); },
       0},
      {"deleted key",
       [&] { return journal->RecordDeletedKey(HKEY_CURRENT_USER, 0, key); },
       1},
      {"value",
       [&] {
         return journal->RecordOldValue(HKEY_CURRENT_USER, 0, key, L"v",
                                        REG_SZ, {});
       },
       1},
      {"new value",
       [&] {
         return journal->RecordOldValue(HKEY_CURRENT_USER, 0, key, L"v",
                                        RunJournal::kNoValue, {});
       },
       0},
      {"committed", [&] { return journal->RecordCommitted(); }, 1},
  };
  ScopedJournalFileCalls counted(&::WriteFile, &CountedFlush);
  ScopedRunJournal run(tree.root());
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    g_flushes = 0;
    EXPECT_TRUE(test.record());
    EXPECT_EQ(test.flushes, g_flushes);
  }
}

TEST(RunJournalTest, LineIsOnTheDiskBeforeTheFileIsMoved) {
  TempTree tree;
  ScopedJournalFileCalls watching(&::WriteFile, &WatchingFlush);
  ScopedRunJournal run(tree.root());
  struct Case {
    const char* name;
    FilePath moved;
    std::unique_ptr<Operation> operation;
  };
  Case cases[] = {
      {"delete", tree.WriteFile(L"a.txt", "a"),
       MakeDeleteFileOperation(tree.Path(L"a.txt"), false, false)},
      {"move", tree.WriteFile(L"b.txt", "b"),
       std::make_unique<MoveFileOperation>(tree.Path(L"b.txt"),
                                           tree.Path(L"c.txt"))},
  };
  for (Case& test : cases) {
    SCOPED_TRACE(test.name);
    g_watched = test.moved;
    g_watched_at_flush.clear();
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(std::move(test.operation)));
    EXPECT_EQ(std::vector<bool>{true}, g_watched_at_flush);
    EXPECT_FALSE(TempTree::Exists(g_watched));
    transaction.RollbackOperations();
  }
}

// A move out of the run's temporary package costs no flush of its own, yet
// its line is in the journal as any move's, for the recovery to read, and a
// rollback brings the file back; a move from a place that stays is flushed.
TEST(RunJournalTest, MoveOutOfTemporaryIsJournaledWithoutItsOwnFlush) {
  struct Case {
    const char* name;
    MoveFileOperation::Source source;
    int flushes;
  } const cases[] = {
      {"temporary", MoveFileOperation::Source::kTemporary, 0},
      {"kept", MoveFileOperation::Source::kKept, 1},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    tree.MakeDir(L"package");
    const FilePath source = tree.WriteFile(L"package\\a.bin", "a");
    const FilePath target = tree.Path(L"a.bin");
    ScopedJournalFileCalls counted(&::WriteFile, &CountedFlush);
    ScopedRunJournal run(tree.root());
    g_flushes = 0;
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(std::make_unique<MoveFileOperation>(
        source, target, MoveFileOperation::Reach::kSameVolume, test.source)));
    EXPECT_EQ(test.flushes, g_flushes);
    EXPECT_EQ("a", TempTree::ReadFile(target));
    std::vector<RunJournal::Entry> entries;
    ASSERT_TRUE(RunJournal::Read(JournalIn(tree.root()), &entries));
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(RunJournal::Kind::kMoved, entries[0].kind);
    EXPECT_EQ(source, entries[0].path);
    EXPECT_EQ(target, entries[0].aside);
    transaction.RollbackOperations();
    EXPECT_EQ("a", TempTree::ReadFile(source));
    EXPECT_FALSE(TempTree::Exists(target));
  }
}

// Files (below the tree, the journal left out) and the test key's values,
// as text.
std::string Listing(const FilePath& folder) {
  std::string text;
  base::FileEnumerator listing(
      folder, true,
      base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, L"");
  for (FilePath path = listing.Next(); !path.empty(); path = listing.Next()) {
    if (base::EndsWithWide(path.value(), RunJournal::kExtension,
                           base::CASE_SENSITIVE)) {
      continue;
    }
    text += path.AsUTF8() + "=" + TempTree::ReadFile(path) + "\n";
  }
  return text;
}

std::string Listing(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "";
  std::string text = base::WideToUtf8(path) + "\n";
  wchar_t name[256];
  BYTE data[256];
  for (DWORD index = 0;; ++index) {
    DWORD name_length = 256;
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (::RegEnumValueW(key, index, name, &name_length, nullptr, &type, data,
                        &size) != ERROR_SUCCESS) {
      break;
    }
    text += base::WideToUtf8(std::wstring(name, name_length)) + ":" +
            std::to_string(type) + ":" +
            std::string(reinterpret_cast<char*>(data), size) + "\n";
  }
  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    DWORD name_length = 256;
    if (::RegEnumKeyExW(key, index, name, &name_length, nullptr, nullptr,
                        nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(name, name_length);
  }
  ::RegCloseKey(key);
  for (const std::wstring& subkey : subkeys)
    text += Listing(root, path + L"\\" + subkey);
  return text;
}

// Each operation that records fails when its line cannot be written, and
// leaves the files and the registry as they were: also when the lines of
// what it needed first (a folder, a file in the way) were written.
TEST(RunJournalTest, OperationWhoseLineIsLostFailsAndChangesNothing) {
  constexpr wchar_t kData[] = L"new";
  struct Case {
    const char* name;
    int lines_with_room;
    std::function<std::unique_ptr<Operation>(const TempTree&,
                                             const test::ScopedTestKey&)>
        make;
  } const cases[] = {
      {"copy over a file", 0,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return std::make_unique<CopyFileOperation>(
             tree.WriteFile(L"package\\app.exe", "new"),
             tree.WriteFile(L"app\\app.exe", "old"));
       }},
      {"copy over a file set aside", 1,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return std::make_unique<CopyFileOperation>(
             tree.WriteFile(L"package\\app.exe", "new"),
             tree.WriteFile(L"app\\app.exe", "old"));
       }},
      {"copy into a new folder", 0,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return std::make_unique<CopyFileOperation>(
             tree.WriteFile(L"package\\app.exe", "new"),
             tree.Path(L"app\\bin\\app.exe"));
       }},
      {"copy into a folder made", 1,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return std::make_unique<CopyFileOperation>(
             tree.WriteFile(L"package\\app.exe", "new"),
             tree.Path(L"app\\bin\\app.exe"));
       }},
      {"move", 0,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return std::make_unique<MoveFileOperation>(
             tree.WriteFile(L"package\\app.exe", "new"),
             tree.Path(L"app\\app.exe"), MoveFileOperation::Reach::kSameVolume);
       }},
      {"delete", 0,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return MakeDeleteFileOperation(tree.WriteFile(L"app\\app.exe", "old"),
                                        true, true);
       }},
      {"create folder", 1,
       [](const TempTree& tree, const test::ScopedTestKey&) {
         return MakeCreateFolderOperation(tree.Path(L"app\\profiles\\default"));
       }},
      {"create key", 0,
       [](const TempTree&, const test::ScopedTestKey& key) {
         return std::make_unique<CreateRegKeyOperation>(
             HKEY_CURRENT_USER, key.Child(L"Created\\Deeper"), 0);
       }},
      {"change value", 0,
       [&](const TempTree&, const test::ScopedTestKey& key) {
         return std::make_unique<ChangeRegValueOperation>(
             HKEY_CURRENT_USER, key.path(), L"Existing", kData, REG_SZ,
             static_cast<DWORD>(sizeof(kData)), 0);
       }},
      {"set a value in a key made", 1,
       [&](const TempTree&, const test::ScopedTestKey& key) {
         return std::make_unique<ChangeRegValueOperation>(
             HKEY_CURRENT_USER, key.Child(L"New"), L"Value", kData, REG_SZ,
             static_cast<DWORD>(sizeof(kData)), 0);
       }},
      {"delete key", 1,
       [](const TempTree&, const test::ScopedTestKey& key) {
         return std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER,
                                                        key.Child(L"Old"), 0);
       }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempTree tree;
    test::ScopedTestKey key(HKEY_CURRENT_USER, 0);
    ASSERT_TRUE(key.valid());
    HKEY old_key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, key.Child(L"Old").c_str(),
                                0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &old_key, nullptr));
    ::RegSetValueExW(old_key, L"Kept", 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(L"old"), sizeof(L"old"));
    ::RegCloseKey(old_key);
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetKeyValueW(HKEY_CURRENT_USER, key.path().c_str(),
                                L"Existing", REG_SZ, L"old", sizeof(L"old")));
    tree.MakeDir(L"app");
    std::unique_ptr<Operation> operation = test.make(tree, key);
    const std::string files_before = Listing(tree.root());
    const std::string keys_before = Listing(HKEY_CURRENT_USER, key.path());

    ScopedRunJournal run(tree.root());
    ScopedJournalFileCalls filling(&WriteUntilDiskFull, &::FlushFileBuffers);
    g_lines_with_room = test.lines_with_room;
    Transaction transaction;
    EXPECT_FALSE(transaction.ExecuteOperation(std::move(operation)));

    EXPECT_TRUE(transaction.empty());
    EXPECT_EQ(files_before, Listing(tree.root()));
    EXPECT_EQ(keys_before, Listing(HKEY_CURRENT_USER, key.path()));
  }
}

}  // namespace
}  // namespace installer

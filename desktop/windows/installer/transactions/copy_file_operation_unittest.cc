#include "desktop/windows/installer/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/log_message.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/ended_process.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"
#include "desktop/windows/installer/transactions/held_folder_tree.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

// Copies and moves on real folders, read-only sources among them, are
// covered end to end (tests/e2e/test_file_operations.py).

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

TEST(CopyFileOperationTest, MissingSourceFailsAndLeavesNoFolderBehind) {
  TempTree tree;
  base::ScopedLogCapture log;
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
      tree.Path(L"missing.dll"), tree.Path(L"app\\bin\\missing.dll"))));
  EXPECT_EQ(log.lines().back(),
            "File copy failed " +
                base::SystemErrorCodeToString(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(transaction.empty());
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"app")));
}

TEST(CopyFileOperationTest, FailedCopyOverAFileGivesItBack) {
  TempTree tree;
  const FilePath target = tree.WriteFile(L"app.exe", "installed");
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
      tree.Path(L"missing.exe"), target)));
  EXPECT_EQ("installed", TempTree::ReadFile(target));
}

// The journal the copy wrote, as a run killed in the middle of the copy
// leaves it (the target cut short), leads the next run to remove the
// partial target and give back what was there.
TEST(CopyFileOperationTest, DeadRunsPartialCopyIsRemovedAndTheOldFileBack) {
  const base::Process ended = base::EndedProcess();
  ASSERT_TRUE(ended.IsValid());
  const struct {
    bool held;
    const char* existing;
  } kCases[] = {{false, "installed"}, {false, nullptr}, {true, "installed"},
                {true, nullptr}};
  for (const auto& [held, existing] : kCases) {
    SCOPED_TRACE(existing ? "over a file" : "new file");
    SCOPED_TRACE(held ? "into its held folder" : "by name");
    TempTree tree;
    const FilePath source = tree.WriteFile(L"big.pak", std::string(4096, 'n'));
    const FilePath folder = tree.MakeDir(L"Tarvo");
    const FilePath target = folder.Append(L"big.pak");
    if (existing)
      tree.WriteFile(L"Tarvo\\big.pak", existing);
    RunJournal::Get()->Start(folder);
    HeldFolderTree held_folders(folder);
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
        source, target, held ? &held_folders : nullptr)));
    tree.WriteFile(L"Tarvo\\big.pak", "nnn");
    base::FileEnumerator listing(folder, false, base::FileEnumerator::kFiles,
                                 L"*.journal");
    const FilePath live = listing.Next();
    ASSERT_FALSE(live.empty());
    const FilePath dead = folder.Append(L"installer_run_20261207204000_" +
                                        std::to_wstring(ended.Pid()) +
                                        L".journal");
    ASSERT_TRUE(::CopyFileW(live.value().c_str(), dead.value().c_str(), TRUE));

    EXPECT_TRUE(InterruptedRunRecovery::RecoverFolder(folder).complete());

    EXPECT_EQ(existing ? existing : "<missing>", TempTree::ReadFile(target));
    base::FileEnumerator asides(folder, false, base::FileEnumerator::kFiles,
                                L"*.old");
    EXPECT_TRUE(asides.Next().empty());
    transaction.DestroyOperations();
    RunJournal::Get()->Finish();
  }
}

// Into a held folder a copy is made only as a new plain file: whatever a
// user put on the way or at the name (a link to a file or folder only the
// administrators may write, a second name of such a file, a staged source
// swapped for a link to one they may not read) is refused, and nothing
// outside changes; a plain file in the way is set aside and comes back
// with the rollback, which also takes away the folders the copy made.
TEST(CopyFileOperationTest, HeldCopyWritesOnlyThroughFoldersItHolds) {
  // kShortcutRoot: the target in a further root (a shortcut folder);
  // kShortcutRootLink: that root swapped for a link after it was added.
  enum class Planted { kNothing, kFile, kFileLink, kHardLink, kFolderLink,
                       kSourceLink, kShortcutRoot, kShortcutRootLink };
  const struct {
    const char* label;
    Planted planted;
    bool copied;
  } kCases[] = {
      {"free", Planted::kNothing, true},
      {"file in the way", Planted::kFile, true},
      {"link at the name", Planted::kFileLink, false},
      {"second name at the name", Planted::kHardLink, false},
      {"folder on the way a link", Planted::kFolderLink, false},
      {"source a link", Planted::kSourceLink, false},
      {"shortcut folder", Planted::kShortcutRoot, true},
      {"shortcut folder swapped for a link", Planted::kShortcutRootLink,
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    TempTree outside;
    const FilePath victim = outside.WriteFile(L"victim.pak", "victim");
    tree.MakeDir(L"package");
    FilePath source = tree.WriteFile(L"package\\a.pak", "payload");
    const FilePath root = tree.MakeDir(L"Tarvo");
    const FilePath desktop = tree.MakeDir(L"Desktop");
    const bool in_shortcut_root = c.planted == Planted::kShortcutRoot ||
                                  c.planted == Planted::kShortcutRootLink;
    const FilePath target =
        in_shortcut_root ? desktop.Append(L"a.pak")
                         : tree.Path(L"Tarvo\\1.0\\res\\a.pak");
    HeldFolderTree held_folders(root);
    held_folders.AddRoot(desktop);
    std::unique_ptr<base::ScopedUnixLink> link;
    switch (c.planted) {
      case Planted::kNothing:
        break;
      case Planted::kFile:
        tree.MakeDir(L"Tarvo\\1.0\\res");
        tree.WriteFile(L"Tarvo\\1.0\\res\\a.pak", "old");
        break;
      case Planted::kFileLink:
        tree.MakeDir(L"Tarvo\\1.0\\res");
        link = std::make_unique<base::ScopedUnixLink>(target, victim);
        break;
      case Planted::kHardLink:
        tree.MakeDir(L"Tarvo\\1.0\\res");
        ASSERT_TRUE(::CreateHardLinkW(target.value().c_str(),
                                      victim.value().c_str(), nullptr));
        break;
      case Planted::kFolderLink:
        link = std::make_unique<base::ScopedUnixLink>(tree.Path(L"Tarvo\\1.0"),
                                                      outside.root());
        break;
      case Planted::kSourceLink:
        source = tree.Path(L"package\\staged.pak");
        link = std::make_unique<base::ScopedUnixLink>(source, victim);
        break;
      case Planted::kShortcutRoot:
        break;
      case Planted::kShortcutRootLink:
        ASSERT_TRUE(::MoveFileW(desktop.value().c_str(),
                                tree.Path(L"Desktop.moved").value().c_str()));
        link = std::make_unique<base::ScopedUnixLink>(desktop, outside.root());
        break;
    }
    ASSERT_TRUE(!link || link->made());
    Transaction transaction;

    EXPECT_EQ(c.copied,
              transaction.ExecuteOperation(std::make_unique<CopyFileOperation>(
                  source, target, &held_folders)));

    if (c.copied) {
      EXPECT_EQ("payload", TempTree::ReadFile(target));
      transaction.RollbackOperations();
    }
    EXPECT_EQ("victim", TempTree::ReadFile(victim));
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"res")));
    EXPECT_FALSE(TempTree::Exists(outside.Path(L"a.pak")));
    if (c.planted == Planted::kFile) {
      EXPECT_EQ("old", TempTree::ReadFile(target));
    } else if (c.planted == Planted::kNothing) {
      EXPECT_FALSE(TempTree::Exists(tree.Path(L"Tarvo\\1.0")));
    }
  }
}

}  // namespace
}  // namespace installer

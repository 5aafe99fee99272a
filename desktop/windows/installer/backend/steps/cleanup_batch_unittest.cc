#include "desktop/windows/installer/backend/steps/cleanup_batch.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/test/planted_link_tree.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/temp_tree.h"
#include "base/test/text_file.h"
#include "base/test/unix_link.h"
#include "desktop/windows/installer/backend/steps/leftover_remover.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Its reader reads back what it wrote: names in the OEM code page with "%"
// doubled, and it stops at the installation folder although the folder
// above is empty too.
TEST(CleanupBatchTest, ReaderDeletesNamesWithPercentAndAccentsUpToTheFolder) {
  base::ScopedTempFolder temp;
  const base::FilePath parent = temp.path().Append(L"parent");
  const base::FilePath folder = parent.Append(L"Tarvo %PATH% \u00e9t\u00e9");
  const base::FilePath version = folder.Append(L"1.2%3");
  const base::FilePath library = version.Append(L"lib%%\u00e9.dll");
  ASSERT_TRUE(base::CreateDirectory(version));
  ASSERT_TRUE(base::WriteTextFile(library, "in use"));

  CleanupBatch batch(folder);
  ASSERT_TRUE(batch.AddPath(library, true));
  const std::string text = batch.GetText();
  EXPECT_EQ(text.find("\xC3"), std::string::npos) << "not in UTF-8";
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"k.bat"), text));

  const LeftoverRemover::Outcome outcome =
      LeftoverRemover::RemoveListed(folder);

  // The library, the record, the version folder and the folder.
  EXPECT_EQ(outcome.deleted, 4u);
  EXPECT_EQ(outcome.refused, 0u);
  EXPECT_FALSE(base::PathExists(folder));
  EXPECT_TRUE(base::DirectoryExists(parent));
}

// The OEM code page has no such character: the short name stands in, and
// the reader still knows it for a name inside the folder.
TEST(CleanupBatchTest, NamesOutsideTheCodePageGoByTheirShortForm) {
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path().Append(L"Tarvo \u6587\u5b57");
  const base::FilePath library = folder.Append(L"\u6587.dll");
  ASSERT_TRUE(base::CreateDirectory(folder));
  ASSERT_TRUE(base::WriteTextFile(library, "in use"));

  CleanupBatch batch(folder);
  ASSERT_TRUE(batch.AddPath(library, true));
  const std::string text = batch.GetText();
  EXPECT_NE(std::string::npos, text.find("del \"")) << text;
  EXPECT_TRUE(CleanupBatch::IsWellFormed(text, folder)) << text;
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"k.bat"), text));

  EXPECT_EQ(LeftoverRemover::RemoveListed(folder).deleted, 3u);

  EXPECT_FALSE(base::PathExists(folder));
}

TEST(CleanupBatchTest, WaitsForEveryProcessAndNamesOnlyThoseGiven) {
  const base::FilePath folder(L"C:\\Program Files\\Tarvo");
  CleanupBatch batch(folder);
  batch.AddProcess(12);
  batch.AddProcess(0);
  batch.AddProcess(34);
  ASSERT_TRUE(batch.AddPath(folder.Append(L"v\\a.dll"), true));
  ASSERT_TRUE(batch.AddPath(folder.Append(L"launcher.exe"), false));
  EXPECT_EQ(batch.GetText(),
            "SET PID1_RUNNING=TRUE\n"
            "SET PID2_RUNNING=TRUE\n"
            ":again\n"
            "IF %PID1_RUNNING%==TRUE (\n"
            "TASKLIST /FI \"PID eq 12\" | FIND /c /i \".exe\"\n"
            "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\n"
            ")\n"
            "IF %PID2_RUNNING%==TRUE (\n"
            "TASKLIST /FI \"PID eq 34\" | FIND /c /i \".exe\"\n"
            "IF ERRORLEVEL 1 SET PID2_RUNNING=FALSE\n"
            ")\n"
            "ping -n 2 127.0.0.1\n"
            "IF %PID1_RUNNING%==TRUE GOTO :again\n"
            "IF %PID2_RUNNING%==TRUE GOTO :again\n"
            "del \"C:\\Program Files\\Tarvo\\v\\a.dll\"\n"
            "del \"C:\\Program Files\\Tarvo\\launcher.exe\"\n"
            "rmdir \"C:\\Program Files\\Tarvo\\v\"\n"
            "rmdir \"C:\\Program Files\\Tarvo\"\n"
            "del %0 & rmdir \"C:\\Program Files\\Tarvo\"");
  // Its reader gives back what was written, in the order to act on it.
  const std::optional<CleanupBatch::Contents> contents =
      CleanupBatch::Parse(batch.GetText(), folder);
  ASSERT_TRUE(contents);
  EXPECT_EQ(contents->process_ids, (std::vector<uint32_t>{12, 34}));
  EXPECT_EQ(contents->files,
            (std::vector<base::FilePath>{folder.Append(L"v\\a.dll"),
                                         folder.Append(L"launcher.exe")}));
  EXPECT_EQ(contents->folders,
            (std::vector<base::FilePath>{folder.Append(L"v"), folder}));
}

// Names from an install log: only those Windows opens inside the folder are
// taken, each in the spelling the batch then runs.
TEST(CleanupBatchTest, TakesOnlyPathsInsideTheFolderAsWindowsOpensThem) {
  const base::FilePath folder(L"C:\\Program Files\\Tarvo");
  struct {
    const wchar_t* path;
    const char* line;  // Empty: refused.
  } const kCases[] = {
      {L"C:\\Program Files\\Tarvo\\v\\a.dll",
       "del \"C:\\Program Files\\Tarvo\\v\\a.dll\""},
      {L"C:\\Program Files\\Tarvo/v/b.dll",
       "del \"C:\\Program Files\\Tarvo\\v\\b.dll\""},
      {L"C:\\Program Files\\Tarvo\\COM10",
       "del \"C:\\Program Files\\Tarvo\\COM10\""},
      {L"C:\\Program Files\\Tarvo\\COM1", ""},
      {L"C:\\Program Files\\Tarvo\\v\\nul .txt", ""},
      {L"C:\\Program Files\\Tarvo\\CONOUT$", ""},
      {L"C:\\Program Files\\Tarvo\\.", ""},
      {L"C:\\Program Files\\Tarvo\\ ", ""},
      {L"C:\\Program Files\\Tarvo", ""},
      {L"C:\\Program Files\\Tarvo\\a.dll:stream", ""},
      {L"C:\\Program Files\\Tarvo\\..\\Other\\x.dll", ""},
      {L"\\\\.\\C:\\Program Files\\Tarvo\\x.dll", ""},
      {L"C:\\Program Files\\Tarvo2\\x", ""},
      {L"C:\\Windows\\x.dll", ""},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(base::FilePath(test_case.path).AsUTF8());
    CleanupBatch batch(folder);
    const bool added = batch.AddPath(base::FilePath(test_case.path), false);
    EXPECT_EQ(*test_case.line != '\0', added);
    EXPECT_EQ(added, !batch.empty());
    if (added) {
      EXPECT_NE(std::string::npos,
                batch.GetText().find(std::string(test_case.line) + "\n"));
    }
  }
}

// An elevated process reads a record that a user could have written:
// anything but this class's own lines is refused.
TEST(CleanupBatchTest, OnlyItsOwnLinesAreWellFormed) {
  const base::FilePath folder(L"C:\\Program Files\\Tarvo");
  struct {
    const char* text;
    bool well_formed;
  } const kCases[] = {
      {"ping -n 2 127.0.0.1\ndel %0", true},
      {"del \"C:\\Program Files\\Tarvo\\a%%b.dll\"\ndel %0", true},
      {"rmdir \"C:\\Program Files\\Tarvo\"\ndel %0", true},
      {"TASKLIST /FI \"PID eq 7\" | FIND /c /i \".exe\"\ndel %0", true},
      {"ping -n 2 127.0.0.1\n", false},
      {"ping -n 2 127.0.0.1\r\ndel %0", false},
      {"start evil.exe\ndel %0", false},
      {"del \"C:\\Windows\\system32\\a.dll\"\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\..\\x\"\ndel %0", false},
      {"rmdir \"C:\\Program Files\"\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\%WINDIR%\"\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\a\" & evil\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\a\" \"C:\\b\"\ndel %0", false},
      {"TASKLIST /FI \"PID eq 7 & evil\" | FIND /c /i \".exe\"\ndel %0", false},
      {"ping -n 2 127.0.0.1\ndel %0 & rmdir \"C:\\Program Files\\Tarvo\"",
       true},
      {"ping -n 2 127.0.0.1\ndel %0 & rmdir \"C:\\Program Files\"", false},
      {"ping -n 2 127.0.0.1\ndel %0 & rmdir \"C:\\Program Files\\Tarvo\\x\"",
       false},
      {"ping -n 2 127.0.0.1\ndel %0 & evil & rmdir \"C:\\Program "
       "Files\\Tarvo\"",
       false},
      // Devices, the folder itself and other spellings than its own.
      {"del \"C:\\Program Files\\Tarvo\\COM1\"\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\COM10\"\ndel %0", true},
      {"del \"C:\\Program Files\\Tarvo\\v\\nul .txt\"\ndel %0", false},
      {"del \"C:\\Program Files\\Tarvo\\a.txt:s\"\ndel %0", false},
      {"rmdir \"C:\\Program Files\\Tarvo\\.\"\ndel %0", false},
      {"rmdir \"C:\\Program Files\\Tarvo\\ \"\ndel %0", false},
      {"rmdir \"C:\\Program Files\\Tarvo\\v\"\ndel %0", true},
      {"del \"C:\\Program Files\\Tarvo/a.dll\"\ndel %0", false},
      {"del \"\\\\?\\C:\\Program Files\\Tarvo\\a.dll\"\ndel %0", false},
      {"ping -n 2 127.0.0.1\ndel %0 & rmdir \"C:\\Program Files\\Tarvo\\.\"",
       false},
  };
  for (const auto& test_case : kCases) {
    EXPECT_EQ(CleanupBatch::IsWellFormed(test_case.text, folder),
              test_case.well_formed)
        << test_case.text;
  }
}

TEST(CleanupBatchTest, TakeOverKeepsOnlyAWellFormedFile) {
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path();
  CleanupBatch batch(folder);
  ASSERT_TRUE(batch.AddPath(folder.Append(L"v\\a.dll"), true));
  const base::FilePath batch_file = folder.Append(L"k.bat");
  ASSERT_TRUE(base::WriteTextFile(batch_file, batch.GetText()));
  EXPECT_TRUE(CleanupBatch::TakeOver(batch_file, folder));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(batch_file, &text));
  EXPECT_EQ(batch.GetText(), text);

  ASSERT_TRUE(base::WriteTextFile(batch_file, text + "\nstart evil.exe"));
  EXPECT_FALSE(CleanupBatch::TakeOver(batch_file, folder));
}

// The record names no link, nor anything behind one. One swapped in after
// it was written is still a name inside the folder as written: its reader
// judges each entry when it acts on it (LeftoverRemover).
TEST(CleanupBatchTest, NamesNoLinkNorWhatLiesBehindOne) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const base::FilePath folder = tree.Path(L"inst");
  CleanupBatch batch(folder);
  for (const wchar_t* path : {L"inst\\dirlink", L"inst\\filelink",
                              L"inst\\inlink", L"inst\\dirlink\\c.txt",
                              L"inst\\sub\\nested\\canary.txt"}) {
    SCOPED_TRACE(base::FilePath(path).AsUTF8());
    EXPECT_FALSE(batch.AddPath(tree.Path(path), true));
  }
  EXPECT_TRUE(batch.AddPath(tree.Path(L"inst\\inlink\\a.txt"), true));
  EXPECT_TRUE(CleanupBatch::IsWellFormed(batch.GetText(), folder));
  // A line for the link's own path, as a tampered batch would name it,
  // beside the same line for a plain file.
  const base::FilePath spelled = InsideFolderCheck(folder).folder();
  const auto del_line = [&spelled](const wchar_t* name) {
    return "del \"" + spelled.Append(name).AsUTF8() + "\"\ndel %0";
  };
  EXPECT_TRUE(CleanupBatch::IsWellFormed(del_line(L"plain.txt"), folder));
  EXPECT_TRUE(CleanupBatch::IsWellFormed(del_line(L"filelink"), folder));
}

// The installation folder may be the user's to write while the writer is
// elevated: a record left there is replaced, but a link planted under its
// name is never written through (nor anything else made in its stead).
TEST(CleanupBatchTest, WritesTheRecordAnewNeverThroughALink) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const base::FilePath folder = tree.Path(L"inst");
  CleanupBatch batch(folder);
  batch.AddProcess(7);
  ASSERT_TRUE(batch.AddPath(tree.Path(L"inst\\plain.txt"), false));
  const base::FilePath record = tree.Path(L"inst\\k.bat");
  ASSERT_TRUE(base::WriteTextFile(record, "an older record"));

  EXPECT_TRUE(batch.Write(record));
  EXPECT_FALSE(batch.Write(tree.Path(L"inst\\filelink")));

  std::string text;
  ASSERT_TRUE(
      base::NewFileInFolder::ReadToString(record.value(), 1 << 20, &text));
  EXPECT_EQ(text, batch.GetText());
  EXPECT_TRUE(tree.CanariesKept());
  EXPECT_FALSE(base::PathExists(tree.Path(L"inst\\filelink_2")));
}

// The record lies where the user may write and its reader may run
// elevated: only a file of its own under its name, no longer than any
// record, is read; a link, a second name of a file elsewhere, a folder or
// a padded file is refused, whatever it holds.
TEST(CleanupBatchTest, ReadsOnlyARecordOfItsOwnWithinItsBound) {
  enum class Place { kPlain, kHardLink, kUnixLink, kFolder, kOversized };
  const struct {
    Place place;
    bool read;
  } kCases[] = {
      {Place::kPlain, true},     {Place::kHardLink, false},
      {Place::kUnixLink, false}, {Place::kFolder, false},
      {Place::kOversized, false},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(static_cast<int>(test_case.place));
    base::TempTree tree;
    const base::FilePath folder = tree.MakeDir(L"inst");
    tree.MakeDir(L"out");
    CleanupBatch batch(folder);
    ASSERT_TRUE(batch.AddPath(folder.Append(L"v\\a.dll"), true));
    const std::string text = batch.GetText();
    const base::FilePath record = folder.Append(L"k.bat");
    const base::FilePath elsewhere = tree.Path(L"out\\k.bat");
    ASSERT_TRUE(base::WriteTextFile(elsewhere, text));
    std::unique_ptr<base::ScopedUnixLink> link;
    switch (test_case.place) {
      case Place::kPlain:
        ASSERT_TRUE(base::WriteTextFile(record, text));
        break;
      case Place::kHardLink:
        ASSERT_TRUE(::CreateHardLinkW(record.value().c_str(),
                                      elsewhere.value().c_str(), nullptr));
        break;
      case Place::kUnixLink:
        link = std::make_unique<base::ScopedUnixLink>(record, elsewhere);
        if (!link->made())
          continue;  // Not under Wine: no Unix link to plant.
        break;
      case Place::kFolder:
        ASSERT_TRUE(base::CreateDirectory(record));
        break;
      case Place::kOversized:
        // Lines a record may repeat, past 4 MiB in all.
        std::string padded;
        for (size_t i = 0; i < 2200000; ++i)
          padded += ")\n";
        ASSERT_TRUE(base::WriteTextFile(record, padded + text));
        ASSERT_TRUE(CleanupBatch::IsWellFormed(padded + text, folder));
        break;
    }

    EXPECT_EQ(CleanupBatch::Read(record, folder).has_value(), test_case.read);
    EXPECT_EQ(CleanupBatch::TakeOver(record, folder), test_case.read);
    EXPECT_TRUE(base::PathExists(record));
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/backend/steps/cleanup_batch.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/planted_link_tree.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/text_file.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::string BatchFor(std::initializer_list<uint32_t> ids) {
  CleanupBatch batch;
  for (uint32_t id : ids)
    batch.AddProcess(id);
  return batch.GetText();
}

std::string Replaced(std::string text,
                     const std::string& from,
                     const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? std::string()
                                 : text.replace(at, from.size(), to);
}

std::string LineWith(const std::string& text, const std::string& part) {
  const size_t at = text.find(part);
  if (at == std::string::npos)
    return std::string();
  const size_t start = text.rfind('\n', at) + 1;
  return text.substr(start, text.find('\n', at) - start);
}

// The real cmd runs the batch as the elevated side starts it: from the
// system folder, so that programs planted in the installation's folder or
// the one above are never run, and it deletes nothing but itself.
TEST(CleanupBatchTest, CmdRunsTheSystemsProgramsAndDeletesOnlyItself) {
  base::ScopedTempFolder temp;
  const base::FilePath parent = temp.path().Append(L"parent");
  const base::FilePath folder = parent.Append(L"Tarvo (x86) & co");
  const base::FilePath library = folder.Append(L"v\\a.dll");
  ASSERT_TRUE(base::CreateDirectory(library.DirName()));
  ASSERT_TRUE(base::WriteTextFile(library, "in use"));
  const base::FilePath marker = temp.path().Append(L"planted ran.txt");
  for (const base::FilePath& where : {parent, folder}) {
    for (const wchar_t* name : {L"ping.bat", L"tasklist.bat", L"find.bat"}) {
      ASSERT_TRUE(base::WriteTextFile(
          where.Append(name), "@echo ran>\"" + marker.AsUTF8() + "\"\r\n"));
    }
  }
  const base::FilePath batch_file = folder.Append(L"k.bat");
  // A process long gone: cmd looks it up once and goes on.
  ASSERT_TRUE(base::WriteTextFile(batch_file, BatchFor({4000000001u})));

  EXPECT_TRUE(StartCleanupBatch(batch_file, true));

  EXPECT_FALSE(base::PathExists(batch_file));
  EXPECT_FALSE(base::PathExists(marker));
  EXPECT_TRUE(base::PathExists(library));
}

// An elevated process runs a batch file that a user could have written:
// only the exact text this class writes for some processes is taken.
TEST(CleanupBatchTest, OnlyItsOwnTextIsWellFormed) {
  const base::FilePath folder(L"C:\\Program Files\\Tarvo");
  base::FilePath system;
  ASSERT_TRUE(base::GetPathForKey(base::kSystemDir, &system));
  const std::string ping = "\"" + system.AsUTF8() + "\\ping.exe\"";
  const std::string own = BatchFor({12, 34});
  ASSERT_NE(std::string::npos, own.find(ping + " -n 2 127.0.0.1\n")) << own;
  ASSERT_NE(std::string::npos, own.find(" /FI \"PID eq 34\" | \"")) << own;
  ASSERT_TRUE(own.ends_with("\ndel %0")) << own;
  const std::string three = BatchFor({1, 2, 3});
  const std::string fourth_check = LineWith(BatchFor({4}), "PID eq 4");
  const std::string four_ids =
      Replaced(three, LineWith(three, "PID eq 3"),
               LineWith(three, "PID eq 3") + "\n" + fourth_check);
  struct {
    std::string text;
    bool well_formed;
  } const kCases[] = {
      {BatchFor({}), true},
      {BatchFor({7}), true},
      {own, true},
      {BatchFor({1, 2, 3}), true},
      {BatchFor({4294967295u}), true},
      {Replaced(own, "\n", "\r\n"), false},
      {own + "\nstart evil.exe", false},
      {Replaced(own, ping, "ping"), false},
      {Replaced(own, "del %0", "del %0 & rmdir \"" + folder.AsUTF8() + "\""),
       false},
      {Replaced(own, "del %0",
                "del \"" + folder.AsUTF8() + "\\v\\a.dll\"\ndel %0"),
       false},
      {Replaced(own, "PID eq 12", "PID eq 12 & evil"), false},
      {Replaced(own, "PID eq 12", "PID eq 4294967296"), false},
      {Replaced(own, "SET PID2_RUNNING=TRUE\n", ""), false},
      {four_ids, false},
      {"ping -n 2 127.0.0.1\ndel %0", false},
      {"", false},
  };
  for (const auto& test_case : kCases) {
    EXPECT_EQ(CleanupBatch::IsWellFormed(test_case.text, folder),
              test_case.well_formed)
        << test_case.text;
  }
  EXPECT_FALSE(CleanupBatch::IsWellFormed(own, base::FilePath(L"Tarvo")));
}

TEST(CleanupBatchTest, TakeOverKeepsOnlyItsOwnFileInTheFolder) {
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path();
  const std::string text = BatchFor({12});
  const base::FilePath batch_file = folder.Append(L"k.bat");
  ASSERT_TRUE(base::WriteTextFile(batch_file, text));
  EXPECT_TRUE(CleanupBatch::TakeOver(batch_file, folder));
  EXPECT_EQ(text, base::ReadTextFile(batch_file));

  ASSERT_TRUE(base::WriteTextFile(batch_file, text + "\nstart evil.exe"));
  EXPECT_FALSE(CleanupBatch::TakeOver(batch_file, folder));
  // Below the folder is not where the uninstallation writes it.
  const base::FilePath nested = folder.Append(L"v\\k.bat");
  ASSERT_TRUE(base::CreateDirectory(nested.DirName()));
  ASSERT_TRUE(base::WriteTextFile(nested, text));
  EXPECT_FALSE(CleanupBatch::TakeOver(nested, folder));
  EXPECT_TRUE(base::PathExists(nested));
}

// A link in place of the batch file: neither taken over nor run, nor is what
// it leads to deleted; and a batch that is not well formed is not run.
TEST(CleanupBatchTest, NeitherTakesOverNorRunsALinkOrAForeignBatch) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const base::FilePath folder = tree.Path(L"inst");
  const base::FilePath link = tree.Path(L"inst\\filelink");
  const base::FilePath canary = tree.Path(L"out\\canary.txt");
  ASSERT_TRUE(base::WriteTextFile(canary, BatchFor({12})));

  EXPECT_FALSE(CleanupBatch::TakeOver(link, folder));
  EXPECT_FALSE(StartCleanupBatch(link, true));
  EXPECT_EQ(BatchFor({12}), base::ReadTextFile(canary));

  const base::FilePath foreign = tree.Path(L"inst\\k.bat");
  const base::FilePath marker = tree.Path(L"inst\\marker.txt");
  ASSERT_TRUE(base::WriteTextFile(foreign, "@echo ran>\"%~dp0marker.txt\""));
  EXPECT_FALSE(StartCleanupBatch(foreign, true));
  EXPECT_FALSE(base::PathExists(marker));
  EXPECT_TRUE(base::PathExists(foreign));
}

}  // namespace
}  // namespace installer

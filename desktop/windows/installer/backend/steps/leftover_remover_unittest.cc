#include "desktop/windows/installer/backend/steps/leftover_remover.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/rand_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/planted_link_tree.h"
#include "base/test/scoped_temp_folder.h"
#include "base/test/temp_tree.h"
#include "base/test/text_file.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend/steps/cleanup_batch.h"
#include "desktop/windows/installer/paths/inside_folder_check.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/system/private_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A record written while the entries were plain, read after links were
// swapped in (the planted tree stands for both states): only what is still
// the folder's own goes, every other entry is refused, and nothing outside
// changes. A folder holding what stays is left.
TEST(LeftoverRemoverTest, DeletesOnlyWhatIsStillItsOwnInsideTheFolder) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const base::FilePath folder = tree.Path(L"inst");
  CleanupBatch batch(folder);
  batch.AddProcess(7);
  ASSERT_TRUE(batch.AddPath(tree.Path(L"inst\\plain.txt"), false));
  ASSERT_TRUE(batch.AddPath(tree.Path(L"inst\\sub\\a.txt"), true));
  // The lines the writer gave these names before they became links.
  const base::FilePath spelled = InsideFolderCheck(folder).folder();
  std::string swapped;
  for (const wchar_t* file : {L"filelink", L"dirlink\\c.txt",
                              L"sub\\nested\\canary.txt", L"fileinlink"}) {
    swapped += "del \"" + spelled.Append(file).AsUTF8() + "\"\n";
  }
  for (const wchar_t* link : {L"dirlink", L"sub\\nested"})
    swapped += "rmdir \"" + spelled.Append(link).AsUTF8() + "\"\n";
  std::string text = batch.GetText();
  text.insert(text.find("del \""), swapped);
  ASSERT_TRUE(CleanupBatch::IsWellFormed(text, folder)) << text;
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"k.bat"), text));

  const LeftoverRemover::Outcome outcome =
      LeftoverRemover::RemoveListed(folder);

  EXPECT_TRUE(tree.CanariesKept());
  EXPECT_EQ(outcome.refused, 6u);
  // plain.txt, sub\a.txt and the record; sub holds a link, inst the rest.
  EXPECT_EQ(outcome.deleted, 3u);
  EXPECT_FALSE(base::PathExists(tree.Path(L"inst\\plain.txt")));
  EXPECT_FALSE(base::PathExists(tree.Path(L"inst\\sub\\a.txt")));
  EXPECT_FALSE(base::PathExists(folder.Append(L"k.bat")));
  EXPECT_TRUE(base::DirectoryExists(tree.Path(L"inst\\sub")));
}

// The record is the user's when the folder is: one that is not this
// class's own deletes nothing, not even itself.
TEST(LeftoverRemoverTest, ARecordNotItsOwnDeletesNothing) {
  base::ScopedTempFolder temp;
  const base::FilePath folder = temp.path();
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"a.dll"), "a"));
  CleanupBatch batch(folder);
  ASSERT_TRUE(batch.AddPath(folder.Append(L"a.dll"), false));
  ASSERT_TRUE(base::WriteTextFile(folder.Append(L"k.bat"),
                                  "start evil.exe\n" + batch.GetText()));

  const LeftoverRemover::Outcome outcome =
      LeftoverRemover::RemoveListed(folder);

  EXPECT_EQ(outcome.deleted, 0u);
  EXPECT_TRUE(base::PathExists(folder.Append(L"a.dll")));
  EXPECT_TRUE(base::PathExists(folder.Append(L"k.bat")));
}

// The handles it waits on come from its starter's command line: only
// handles to processes are taken, and no pseudo handle.
TEST(LeftoverRemoverTest, TakesOnlyHandlesToProcesses) {
  HANDLE process = nullptr;
  ASSERT_TRUE(::DuplicateHandle(
      ::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(),
      &process, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0));
  const base::win::ScopedHandle event(
      ::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const std::string process_value =
      std::to_string(reinterpret_cast<uintptr_t>(process));
  const std::string event_value =
      std::to_string(reinterpret_cast<uintptr_t>(event.Get()));
  base::CommandLine command_line(base::FilePath(L"installer.exe"));
  command_line.AppendSwitchASCII(switches::kWaitForProcesses,
                                 "0,18446744073709551615,x," + event_value +
                                     "," + process_value +
                                     ",12abc,99999999999999999999");

  const std::vector<base::win::ScopedHandle> taken =
      LeftoverRemover::TakeInheritedProcesses(command_line);

  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].Get(), process);
  EXPECT_EQ(::WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT);
}

// cmd removes the copy's folder whole: only a fresh name directly in a
// temporary folder, holding the program and library alone beside the mark
// every private folder has.
TEST(LeftoverRemoverTest, OnlyTheCopysOwnFolderIsTheCopysFolder) {
  constexpr const wchar_t* kMark = PrivateTempFolder::kMarkName;
  base::FilePath user_temp;
  ASSERT_TRUE(base::GetPathForKey(base::kTempDir, &user_temp));
  const base::FilePath fresh =
      user_temp.Append(base::Utf8ToWide(base::GenerateGuidText()));
  base::ScopedTempFolder elsewhere;
  const base::FilePath nested =
      elsewhere.path().Append(base::Utf8ToWide(base::GenerateGuidText()));
  struct {
    base::FilePath folder;
    std::vector<const wchar_t*> files;
    bool is_copy_folder;
  } const kCases[] = {
      {fresh, {L"installer.exe", L"tarvo_installer.dll", kMark}, true},
      {fresh, {L"installer.exe", L"tarvo_installer.dll", kMark, L"x.txt"},
       false},
      {fresh, {L"installer.exe", kMark}, false},
      {nested, {L"installer.exe", L"tarvo_installer.dll", kMark}, false},
      {user_temp.Append(L"not-" + base::Utf8ToWide(base::GenerateGuidText())),
       {L"installer.exe", L"tarvo_installer.dll", kMark},
       false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.folder.AsUTF8());
    // Its run live, so that no run beside this test takes it for a dead
    // copy's and removes it.
    const base::win::ScopedHandle live_run(::CreateEventW(
        nullptr, TRUE, FALSE,
        PrivateTempFolder::GetLiveRunEventName(test.folder.BaseName().value())
            .c_str()));
    ASSERT_TRUE(live_run.IsValid());
    ASSERT_TRUE(base::CreateDirectory(test.folder));
    for (const wchar_t* file : test.files)
      ASSERT_TRUE(base::WriteTextFile(test.folder.Append(file), "x"));
    EXPECT_EQ(LeftoverRemover::IsCopyFolder(test.folder), test.is_copy_folder);
    EXPECT_TRUE(base::DeletePath(test.folder, true));
  }
}

}  // namespace
}  // namespace installer

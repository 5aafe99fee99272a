#include "desktop/windows/installer/entry/executable_directory.h"

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kFolderName[] = L"Tarvo Installer";
constexpr wchar_t kExecutableName[] = L"probe_me.exe";
// The caller needs no room below the folder.
constexpr size_t kNoRoom = 0;

// Path-service overrides cannot be taken back: the original answer is put
// back as one.
class ScopedPathOverride {
 public:
  ScopedPathOverride(int key, const base::FilePath& path) : key_(key) {
    base::GetPathForKey(key_, &original_);
    base::SetPathOverride(key_, path, true, true);
  }
  ~ScopedPathOverride() { base::SetPathOverride(key_, original_, true, false); }

 private:
  const int key_;
  base::FilePath original_;
};

// Wine runs executables from every folder, so a fake launch stands in where
// a folder must refuse them: only copies below `g_runnable_root` start. A
// launch without its copy on disk or without "--version" is recorded empty.
std::vector<base::FilePath> g_launches;
base::FilePath g_runnable_root;

bool FakeRunAndWait(const base::CommandLine& command_line) {
  const base::FilePath program = command_line.GetProgram();
  const bool proper =
      base::PathExists(program) && command_line.HasSwitch("version");
  g_launches.push_back(proper ? program : base::FilePath());
  return g_runnable_root.IsParent(program);
}

// Every place the probe tries lies in one temporary folder; the Downloads
// known folder is redirected there through the shell's per-user setting. It
// is made beforehand: Wine's shell makes a missing Downloads a link to the
// user's home folder, which every run on the machine shares.
class ExecutableDirectoryTest : public testing::Test {
 protected:
  ExecutableDirectoryTest()
      : temp_override_(base::kTempDir, Place(L"temp")),
        home_override_(base::kHomeDir, Place(L"home")),
        exe_override_(base::kExeDir, Place(L"exe")),
        registry_(HKEY_CURRENT_USER) {}
  ~ExecutableDirectoryTest() override {
    internal::SetRunAndWaitForTesting(nullptr);
    base::DeletePath(root_.path(), true);
  }

  void SetUp() override {
    base::win::RegistryKey shell_folders(
        HKEY_CURRENT_USER,
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        L"User Shell Folders",
        KEY_SET_VALUE);
    ASSERT_EQ(
        shell_folders.WriteString(L"{374DE290-123F-4565-9164-39C4925E467B}",
                                  Place(L"downloads").value().c_str()),
        ERROR_SUCCESS);
    ASSERT_TRUE(base::CreateDirectory(Place(L"downloads")));
  }

  base::FilePath Place(const wchar_t* name) const {
    return root_.path().Append(name);
  }
  // The probe's folders, in the order they are tried.
  std::vector<base::FilePath> Candidates() const {
    std::vector<base::FilePath> folders;
    for (const wchar_t* place : {L"temp", L"downloads", L"home", L"exe"})
      folders.push_back(Place(place).Append(kFolderName));
    return folders;
  }
  void FakeLaunch(const base::FilePath& runnable_root) {
    g_launches.clear();
    g_runnable_root = runnable_root;
    internal::SetRunAndWaitForTesting(&FakeRunAndWait);
  }
  base::FilePath WriteExecutable(const std::string& contents) {
    const base::FilePath path = Place(kExecutableName);
    base::WriteBufferToFile(path, contents.data(),
                            static_cast<int>(contents.size()));
    return path;
  }

  base::ScopedTempFolder root_;
  ScopedPathOverride temp_override_;
  ScopedPathOverride home_override_;
  ScopedPathOverride exe_override_;
  base::win::ScopedRegistryOverride registry_;
};

TEST_F(ExecutableDirectoryTest, RealLaunchSucceedsInTempFolder) {
  base::FilePath exe_file;
  ASSERT_TRUE(base::GetPathForKey(base::kExeFile, &exe_file));
  const base::FilePath program =
      exe_file.DirName().Append(L"installer").Append(L"checksum_tool.exe");
  const base::FilePath executable = Place(kExecutableName);
  ASSERT_TRUE(base::CopyFileChecked(program, executable));

  base::FilePath folder;
  ASSERT_TRUE(FindExecutableDirectory(kFolderName, executable, kNoRoom, &folder));

  EXPECT_EQ(folder, Candidates()[0]);
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_FALSE(base::PathExists(folder.Append(kExecutableName)));
  EXPECT_FALSE(base::PathExists(Candidates()[1]));
}

TEST_F(ExecutableDirectoryTest, FoldersWhereLaunchFailsAreRemovedInOrder) {
  const base::FilePath executable = WriteExecutable("program");
  FakeLaunch(Place(L"exe"));

  base::FilePath folder;
  ASSERT_TRUE(FindExecutableDirectory(kFolderName, executable, kNoRoom, &folder));

  std::vector<base::FilePath> expected_launches;
  for (const base::FilePath& candidate : Candidates())
    expected_launches.push_back(candidate.Append(kExecutableName));
  EXPECT_EQ(g_launches, expected_launches);
  EXPECT_EQ(folder, Candidates()[3]);
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_FALSE(base::PathExists(expected_launches[3]));
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(base::PathExists(Candidates()[i])) << i;
}

// No fake: a file that is no program fails to start for real.
TEST_F(ExecutableDirectoryTest, ProgramThatCannotStartLeavesNothingBehind) {
  const base::FilePath executable = WriteExecutable("not a program");
  const base::FilePath untouched(L"C:\\untouched");

  base::FilePath folder = untouched;
  EXPECT_FALSE(FindExecutableDirectory(kFolderName, executable, kNoRoom, &folder));

  EXPECT_EQ(folder, untouched);
  for (const base::FilePath& candidate : Candidates())
    EXPECT_FALSE(base::PathExists(candidate)) << candidate.AsUTF8();
}

// Another holds the refused copy, sharing its deletion, past the probe's
// end (the platform's check of the start on its own handle, a scanner):
// the copy is deleted once it is let go, and its folder goes all the same,
// whoever lets go first.
std::vector<base::win::ScopedHandle> g_held_copies;

bool HoldCopyAndRefuse(const base::CommandLine& command_line) {
  g_held_copies.emplace_back(::CreateFileW(
      command_line.GetProgram().value().c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr));
  return false;
}

TEST_F(ExecutableDirectoryTest, RefusedCopyStillHeldLeavesNoFolder) {
  const base::FilePath executable = WriteExecutable("program");
  internal::SetRunAndWaitForTesting(&HoldCopyAndRefuse);

  base::FilePath folder;
  EXPECT_FALSE(FindExecutableDirectory(kFolderName, executable, kNoRoom, &folder));

  ASSERT_EQ(g_held_copies.size(), Candidates().size());
  for (const base::win::ScopedHandle& held : g_held_copies)
    EXPECT_TRUE(held.IsValid());
  for (const base::FilePath& candidate : Candidates())
    EXPECT_FALSE(base::PathExists(candidate)) << candidate.AsUTF8();
  g_held_copies.clear();
  // Let go, the copies are gone too.
  for (const wchar_t* place : {L"temp", L"downloads", L"home", L"exe"}) {
    base::FileEnumerator left(Place(place), false, base::FileEnumerator::kFiles,
                              std::wstring(kExecutableName) + L"*");
    const base::FilePath found = left.Next();
    EXPECT_TRUE(found.empty()) << found.AsUTF8();
  }
}

TEST_F(ExecutableDirectoryTest, EmptyExecutableOnlyCreatesFolder) {
  FakeLaunch(Place(L"exe"));

  base::FilePath folder;
  ASSERT_TRUE(FindExecutableDirectory(kFolderName, base::FilePath(), kNoRoom,
                                      &folder));

  EXPECT_EQ(folder, Candidates()[0]);
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_TRUE(g_launches.empty());
}

// The copy onto itself fails; the executable must survive that failure.
TEST_F(ExecutableDirectoryTest, ExecutableAlreadyInFolderIsKept) {
  const base::FilePath executable = Candidates()[0].Append(kExecutableName);
  ASSERT_TRUE(base::CreateDirectory(Candidates()[0]));
  ASSERT_EQ(base::WriteBufferToFile(executable, "program", 7), 7);
  FakeLaunch(Place(L"temp"));

  base::FilePath parent = Place(L"temp");
  EXPECT_FALSE(TryExecutableDirectory(kFolderName, executable, kNoRoom, &parent));

  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(executable, &contents));
  EXPECT_EQ(contents, "program");
}

// A folder is passed over, uncreated and untried, once the caller's paths
// below it would reach MAX_PATH: one character less of room and it is taken.
// Of the places here, Downloads is longer than temp, home as long, and only
// exe shorter.
TEST_F(ExecutableDirectoryTest, FolderWithoutRoomBelowIsPassedOver) {
  const base::FilePath executable = WriteExecutable("program");
  const size_t fitting_room = MAX_PATH - 1 - Candidates()[0].value().size();
  struct Case {
    size_t room_below;
    size_t chosen;
  };
  for (const Case& test : {Case{fitting_room, 0}, Case{fitting_room + 1, 3}}) {
    SCOPED_TRACE(test.room_below);
    FakeLaunch(root_.path());
    base::FilePath folder;
    ASSERT_TRUE(FindExecutableDirectory(kFolderName, executable,
                                        test.room_below, &folder));

    EXPECT_EQ(folder, Candidates()[test.chosen]);
    EXPECT_EQ(g_launches, std::vector<base::FilePath>{
                              folder.Append(kExecutableName)});
    EXPECT_EQ(base::PathExists(Candidates()[0]), test.chosen == 0);
    base::DeletePath(folder, true);
  }
}

}  // namespace
}  // namespace installer

#include "base/files/new_file_in_folder.h"

#include <string>

#include "base/test/temp_tree.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// What a name can already hold; links are planted from Linux, so their
// cases are in tests/e2e/test_logging.py.
enum class Occupant { kNothing, kFile, kFolder };

void Occupy(const TempTree& tree, const std::wstring& name, Occupant occupant) {
  if (occupant == Occupant::kFile)
    tree.WriteFile(name.c_str(), "earlier");
  if (occupant == Occupant::kFolder)
    tree.MakeDir(name.c_str());
}

std::string WriteLine(HANDLE file) {
  DWORD written = 0;
  return ::WriteFile(file, "new", 3, &written, nullptr) && written == 3
             ? "new"
             : "unwritten";
}

TEST(NewFileInFolderCreate, TakenNamesGiveWayAndStayUntouched) {
  const struct {
    const char* label;
    int taken;  // how many names, from the first, are taken
    Occupant occupant;
    const wchar_t* expected;  // null: no file made
    int name_tries = NewFileInFolder::kNameTries;
  } kCases[] = {
      {"free", 0, Occupant::kNothing, L"a.log"},
      {"file", 1, Occupant::kFile, L"a_2.log"},
      {"folder", 1, Occupant::kFolder, L"a_2.log"},
      {"several files", 3, Occupant::kFile, L"a_4.log"},
      {"every name", NewFileInFolder::kNameTries, Occupant::kFile, nullptr},
      // The one name its caller told someone else, or nothing.
      {"own name free", 0, Occupant::kNothing, L"a.log", 1},
      {"own name taken", 1, Occupant::kFile, nullptr, 1},
      {"one more name", 1, Occupant::kFolder, L"a_2.log", 2},
      {"two names taken", 2, Occupant::kFile, nullptr, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    TempTree tree;
    for (int i = 1; i <= c.taken; ++i)
      Occupy(tree, NewFileInFolder::NameOfTry(L"a.log", i), c.occupant);

    NewFileInFolder::Result made = NewFileInFolder::Create(
        tree.Path(L"a.log").value(), NewFileInFolder::OldFile::kKeep,
        FILE_APPEND_DATA, c.name_tries);

    if (!c.expected) {
      EXPECT_FALSE(made.file.IsValid());
      EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), made.error);
    } else {
      ASSERT_TRUE(made.file.IsValid()) << made.error;
      EXPECT_EQ(tree.Path(c.expected).value(), made.path);
      EXPECT_EQ("new", WriteLine(made.file.Get()));
      made.file.Close();
      EXPECT_EQ("new", TempTree::ReadFile(FilePath(made.path)));
    }
    for (int i = 1; i <= c.taken && c.occupant == Occupant::kFile; ++i) {
      EXPECT_EQ("earlier", TempTree::ReadFile(tree.Path(
                               NewFileInFolder::NameOfTry(L"a.log", i).c_str())));
    }
  }
}

TEST(NewFileInFolderCreate, DeletedOldFileFreesItsNameUnlessStillInUse) {
  for (const bool in_use : {false, true}) {
    SCOPED_TRACE(in_use ? "in use" : "left");
    TempTree tree;
    const FilePath old = tree.WriteFile(L"a.log", "earlier");
    // A live process's log, opened as the logging opens it.
    win::ScopedHandle held;
    if (in_use) {
      held.Set(::CreateFileW(old.value().c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    }

    NewFileInFolder::Result made = NewFileInFolder::Create(
        old.value(), NewFileInFolder::OldFile::kDelete);

    ASSERT_TRUE(made.file.IsValid()) << made.error;
    EXPECT_EQ(tree.Path(in_use ? L"a_2.log" : L"a.log").value(), made.path);
    held.Close();
    made.file.Close();
    EXPECT_EQ(in_use ? "earlier" : "", TempTree::ReadFile(old));
  }
}

TEST(NewFileInFolderCreate, MissingFolderMakesNothing) {
  TempTree tree;
  NewFileInFolder::Result made =
      NewFileInFolder::Create(tree.Path(L"missing\\a.log").value());
  EXPECT_FALSE(made.file.IsValid());
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), made.error);
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"missing")));
}

TEST(NewFileInFolderCreate, RelativeNameIsMadeInTheCurrentFolder) {
  TempTree tree;
  wchar_t previous[MAX_PATH];
  ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, previous));
  ASSERT_TRUE(::SetCurrentDirectoryW(tree.root().value().c_str()));
  NewFileInFolder::Result made = NewFileInFolder::Create(L"debug.log");
  ::SetCurrentDirectoryW(previous);
  ASSERT_TRUE(made.file.IsValid()) << made.error;
  EXPECT_EQ(tree.Path(L"debug.log").value(), made.path);
}

// What a user's own process tries while Create or OpenToRead holds the
// folder: to rename a folder on the way away and put one of its own in its
// place. Windows refuses renaming a folder above an open one, and so does
// the hold from the drive root (Wine refuses only the held folder's own
// rename); the file lands in the folder that was checked.
struct Swap {
  std::wstring from;  // empty: nothing tried
  std::wstring to;
  DWORD error = ERROR_SUCCESS;
};
Swap g_swap;

void SwapFolderOnTheWay(const std::wstring& /*folder*/) {
  if (g_swap.from.empty())
    return;
  if (!::MoveFileExW(g_swap.from.c_str(), g_swap.to.c_str(), 0)) {
    g_swap.error = ::GetLastError();
    return;
  }
  ::CreateDirectoryW(g_swap.from.c_str(), nullptr);
  ::CreateDirectoryW((g_swap.from + L"\\b").c_str(), nullptr);
}

TEST(NewFileInFolderCreate, NoFolderOnTheWayIsSwappedBeforeTheCreate) {
  const struct {
    const char* label;
    const wchar_t* swapped;  // null: nothing tried
  } kCases[] = {
      {"nothing swapped", nullptr},
      {"the folder itself", L"a\\b"},
      {"a folder above it", L"a"},
  };
  for (const auto& c : kCases) {
    for (const bool reading : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.label << (reading ? ", read" : ""));
      TempTree tree;
      tree.MakeDir(L"a\\b");
      if (reading)
        tree.WriteFile(L"a\\b\\x.log", "earlier");
      g_swap = Swap();
      if (c.swapped) {
        g_swap.from = tree.Path(c.swapped).value();
        g_swap.to = tree.Path(L"moved").value();
      }
      const NewFileInFolder::FolderHeldHook previous =
          NewFileInFolder::SetFolderHeldHookForTesting(&SwapFolderOnTheWay);
      const std::wstring path = tree.Path(L"a\\b\\x.log").value();
      win::ScopedHandle file;
      if (reading) {
        file = NewFileInFolder::OpenToRead(path);
      } else {
        file = std::move(NewFileInFolder::Create(path).file);
        EXPECT_EQ("new", WriteLine(file.Get()));
      }
      NewFileInFolder::SetFolderHeldHookForTesting(previous);
      ASSERT_TRUE(file.IsValid());
      file.Close();

      if (c.swapped) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), g_swap.error);
      }
      EXPECT_FALSE(TempTree::Exists(tree.Path(L"moved")));
      EXPECT_EQ(reading ? "earlier" : "new", TempTree::ReadFile(FilePath(path)));
    }
  }
}

// A file read back by the name it was made under: refused where the name
// now holds a folder, a device, or a file with a second name (a hard link
// to a file elsewhere, whose writes the reader would send on). Links
// planted from Linux are in tests/e2e/test_crash_upload.py.
TEST(NewFileInFolderOpenToRead, ReadsOnlyAFileOfOneNameInItsPlace) {
  TempTree tree;
  tree.WriteFile(L"made.txt", "made");
  tree.MakeDir(L"folder.txt");
  tree.WriteFile(L"elsewhere.txt", "another's");
  ASSERT_TRUE(::CreateHardLinkW(tree.Path(L"linked.txt").value().c_str(),
                                tree.Path(L"elsewhere.txt").value().c_str(),
                                nullptr));
  const struct {
    const wchar_t* name;
    bool opened;
  } kCases[] = {
      {L"made.txt", true},
      {L"folder.txt", false},
      {L"linked.txt", false},
      {L"missing.txt", false},
      {L"nul", false},
  };
  for (const auto& test : kCases) {
    const win::ScopedHandle file =
        NewFileInFolder::OpenToRead(tree.Path(test.name).value());
    EXPECT_EQ(test.opened, file.IsValid()) << test.name;
  }
}

TEST(NewFileInFolderNames, SuffixGoesBeforeTheExtension) {
  const struct {
    const wchar_t* path;
    int try_number;
    const wchar_t* expected;
  } kCases[] = {
      {L"C:\\t\\tarvo_installer_20261206153120_4.log", 1,
       L"C:\\t\\tarvo_installer_20261206153120_4.log"},
      {L"C:\\t\\tarvo_installer_20261206153120_4.log", 2,
       L"C:\\t\\tarvo_installer_20261206153120_4_2.log"},
      {L"C:\\t\\debug", 10, L"C:\\t\\debug_10"},
      {L"C:\\t.d\\debug", 3, L"C:\\t.d\\debug_3"},
      {L"debug.log", 2, L"debug_2.log"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, NewFileInFolder::NameOfTry(c.path, c.try_number));
}

TEST(NewFileInFolderNames, SamePlaceIgnoresPrefixCaseAndTrailingSeparator) {
  const struct {
    const wchar_t* final_path;
    const wchar_t* path;
    bool expected;
  } kCases[] = {
      {L"\\\\?\\C:\\Users\\u\\Temp", L"C:\\users\\U\\TEMP\\", true},
      {L"\\\\?\\UNC\\server\\share\\logs", L"\\\\server\\share\\logs", true},
      {L"\\\\?\\C:\\", L"C:\\", true},
      // A folder link on the way resolves elsewhere.
      {L"\\\\?\\Z:\\tmp\\outside\\a.log", L"C:\\users\\u\\Temp\\a.log", false},
      {L"\\\\?\\C:\\Temp\\a.log", L"C:\\Temp\\a.lo", false},
      {L"", L"C:\\Temp", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, NewFileInFolder::IsSamePlace(c.final_path, c.path))
        << c.final_path;
  }
}

}  // namespace
}  // namespace base

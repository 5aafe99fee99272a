#include "base/files/file_util.h"

#include <string>
#include <thread>

#include "base/test/temp_tree.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// A path of exactly `length` characters below `root`.
FilePath PathOfLength(const FilePath& root, size_t length) {
  const size_t name_length = length - root.value().size() - 1;
  return root.Append(std::wstring(name_length, L'x'));
}

bool IsReadOnly(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) & FILE_ATTRIBUTE_READONLY;
}

// Holds the file open the way another process using it would: without
// sharing anything.
win::ScopedHandle OpenExclusively(const FilePath& path) {
  return win::ScopedHandle(::CreateFileW(path.value().c_str(), GENERIC_READ, 0,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST(FileUtilDelete, TrivialAndRefusedPaths) {
  TempTree tree;
  const struct {
    FilePath path;
    bool expected;
    DWORD expected_error;  // 0: not checked
  } kCases[] = {
      {FilePath(), true, 0},
      {tree.Path(L"missing"), true, 0},
      {tree.Path(L"missing\\deeper"), true, 0},
      {PathOfLength(tree.root(), MAX_PATH), false, 0},
      // The attributes cannot be read, but not because the path is absent:
      // the entry must not be reported as gone.
      {tree.Path(L"bad<name"), false, ERROR_INVALID_NAME},
  };
  for (const auto& c : kCases) {
    ::SetLastError(0);
    EXPECT_EQ(c.expected, DeletePath(c.path, true)) << c.path.AsUTF8();
    if (c.expected_error) {
      EXPECT_EQ(c.expected_error, ::GetLastError()) << c.path.AsUTF8();
    }
  }
}

TEST(FileUtilDelete, RemovesReadOnlyFilesAndTrees) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"ro.txt", "x", FILE_ATTRIBUTE_READONLY);
  tree.MakeDir(L"top\\a\\b");
  tree.WriteFile(L"top\\a\\b\\deep.txt", "deep", FILE_ATTRIBUTE_READONLY);
  tree.WriteFile(L"top\\plain.txt", "plain");
  ::SetFileAttributesW(tree.Path(L"top\\a").value().c_str(),
                       FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(DeletePath(file, false));
  EXPECT_FALSE(TempTree::Exists(file));
  EXPECT_FALSE(DeletePath(tree.Path(L"top"), false)) << "not empty";
  EXPECT_TRUE(TempTree::Exists(tree.Path(L"top\\plain.txt")));
  EXPECT_TRUE(DeletePath(tree.Path(L"top"), true));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"top")));
}

TEST(FileUtilDelete, FileInUseStaysAndFails) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"busy.dat", "data");
  tree.MakeDir(L"dir");
  const FilePath inner = tree.WriteFile(L"dir\\busy.dat", "data");
  {
    win::ScopedHandle holder = OpenExclusively(file);
    win::ScopedHandle inner_holder = OpenExclusively(inner);
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(DeletePath(file, false));
    EXPECT_FALSE(DeletePath(tree.Path(L"dir"), true));
  }
  EXPECT_EQ("data", TempTree::ReadFile(file));
  EXPECT_EQ("data", TempTree::ReadFile(inner));
  EXPECT_TRUE(DeletePath(file, false));
  EXPECT_TRUE(DeletePath(tree.Path(L"dir"), true));
}

TEST(FileUtilDelete, OnceReleasedWaitsForTheHolderWithinItsTries) {
  TempTree tree;
  tree.MakeDir(L"package");
  const FilePath inner = tree.WriteFile(L"package\\library.dll", "data");
  win::ScopedHandle holder = OpenExclusively(inner);
  ASSERT_TRUE(holder.IsValid());
  EXPECT_FALSE(DeletePathOnceReleased(tree.Path(L"package"), true, 2, 1));
  EXPECT_TRUE(PathExists(inner));

  // Let go while the tries go on. Their limit (over half an hour) only
  // guards against a hang: a busy machine may start the releaser late, and
  // must not run the tries out first.
  std::thread releaser([&holder] {
    ::Sleep(200);
    holder.Close();
  });
  EXPECT_TRUE(DeletePathOnceReleased(tree.Path(L"package"), true, 200000, 10));
  releaser.join();
  EXPECT_FALSE(PathExists(tree.Path(L"package")));
}

// Short first, for a holder that has just ended (the common case), yet the
// tries still add up to the time their callers give a holder.
TEST(FileUtilDelete, OnceReleasedPausesGrowToTheirLimit) {
  struct Case {
    int tried;
    DWORD pause_ms;
    DWORD expected_ms;
  } const cases[] = {
      {1, 100, 12},  {2, 100, 24}, {3, 100, 48}, {4, 100, 96},
      {5, 100, 100}, {29, 100, 100}, {200000, 10, 10}, {1, 1, 1},
      {3, 1, 1},     {1, 0, 0},     {40, 0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected_ms, PauseAfterDeleteTry(c.tried, c.pause_ms))
        << c.tried << " tries of " << c.pause_ms << " ms";
  }
  uint64_t thirty_tries_ms = 0;
  for (int tried = 1; tried < 30; ++tried)
    thirty_tries_ms += PauseAfterDeleteTry(tried, 100);
  EXPECT_GE(thirty_tries_ms, 2500u);
  EXPECT_LE(thirty_tries_ms, 2900u);
}

TEST(FileUtilDelete, WildcardDeletesMatchingEntries) {
  for (const bool recursive : {false, true}) {
    TempTree tree;
    tree.WriteFile(L"a.tmp", "a");
    tree.WriteFile(L"b.TMP", "b", FILE_ATTRIBUTE_READONLY);
    tree.WriteFile(L"c.txt", "c");
    tree.MakeDir(L"dir.tmp\\inner.tmp");
    tree.WriteFile(L"dir.tmp\\inner.tmp\\x.tmp", "x");
    tree.MakeDir(L"sub");
    tree.WriteFile(L"sub\\d.tmp", "d");

    EXPECT_TRUE(DeletePath(tree.Path(L"*.tmp"), recursive)) << recursive;
    EXPECT_FALSE(TempTree::Exists(tree.Path(L"a.tmp")));
    EXPECT_FALSE(TempTree::Exists(tree.Path(L"b.TMP")));
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"c.txt")));
    EXPECT_TRUE(TempTree::Exists(tree.Path(L"sub\\d.tmp")));
    // Matching directories are left alone without recursion.
    EXPECT_EQ(!recursive, TempTree::Exists(tree.Path(L"dir.tmp"))) << recursive;
  }
}

TEST(FileUtilDelete, WildcardKeepsDirectoryWithOtherEntries) {
  TempTree tree;
  tree.MakeDir(L"keep.tmp");
  tree.WriteFile(L"keep.tmp\\inner.txt", "kept");
  tree.WriteFile(L"keep.tmp\\inner.tmp", "x");
  // The pattern applies inside matching directories too, so one that keeps a
  // non-matching entry cannot be removed.
  EXPECT_FALSE(DeletePath(tree.Path(L"*.tmp"), true));
  EXPECT_EQ("kept", TempTree::ReadFile(tree.Path(L"keep.tmp\\inner.txt")));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"keep.tmp\\inner.tmp")));
}

TEST(FileUtilDelete, WildcardInMissingDirectoryCountsAsDeleted) {
  TempTree tree;
  EXPECT_TRUE(DeletePath(tree.Path(L"missing\\*.tmp"), true));
}

TEST(FileUtilCopy, CopyFileCheckedRefusesAndClearsReadOnly) {
  TempTree tree;
  const FilePath source =
      tree.WriteFile(L"src.txt", "payload", FILE_ATTRIBUTE_READONLY);
  const FilePath long_target = PathOfLength(tree.root(), MAX_PATH);
  // Not an error a copy can give: the refusals before any system call leave
  // the last error as it was.
  constexpr DWORD kUntouched = 0x2000ABCD;
  const struct {
    FilePath from;
    FilePath to;
    bool expected;
    DWORD error;
  } kCases[] = {
      {source, tree.Path(L"copy.txt"), true, kUntouched},
      {source, tree.Path(L"sub\\..\\copy2.txt"), false, kUntouched},
      {tree.Path(L"x\\..\\src.txt"), tree.Path(L"copy3.txt"), false,
       kUntouched},
      {source, long_target, false, kUntouched},
      // The errors the system gave stay, also where the disk is not full.
      {tree.Path(L"missing.txt"), tree.Path(L"copy4.txt"), false,
       ERROR_FILE_NOT_FOUND},
      {source, tree.Path(L"missing\\copy5.txt"), false, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& c : kCases) {
    ::SetLastError(kUntouched);
    EXPECT_EQ(c.expected, CopyFileChecked(c.from, c.to)) << c.to.AsUTF8();
    if (!c.expected) {
      EXPECT_EQ(c.error, ::GetLastError()) << c.to.AsUTF8();
    }
    EXPECT_EQ(c.expected, TempTree::Exists(c.to)) << c.to.AsUTF8();
  }
  EXPECT_EQ("payload", TempTree::ReadFile(tree.Path(L"copy.txt")));
  EXPECT_FALSE(IsReadOnly(tree.Path(L"copy.txt")));
  EXPECT_TRUE(IsReadOnly(source));
}

TEST(FileUtilCopy, CopyDirectoryIntoItselfIsRefused) {
  TempTree tree;
  tree.MakeDir(L"Src\\inner");
  tree.WriteFile(L"Src\\inner\\f.txt", "f");
  // The file system ignores case, so neither may the guard.
  const wchar_t* kTargets[] = {
      L"Src",          L"src",        L"Src\\copy",
      L"SRC\\copy",    L"src\\inner", L"SRC\\INNER\\deeper",
      L"Src\\.\\copy",
  };
  for (const wchar_t* target : kTargets) {
    EXPECT_FALSE(CopyDirectory(tree.Path(L"Src"), tree.Path(target))) << target;
  }
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"Src\\copy")));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"Src\\Src")));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"Src\\inner\\Src")));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"Src\\inner\\deeper")));
}

TEST(FileUtilCopy, CopyDirectoryPlacesTree) {
  const struct {
    bool target_exists;
    const wchar_t* copied_file;
  } kCases[] = {
      {false, L"dest\\a\\b\\f.txt"},
      // Into an existing directory the source goes under its own name.
      {true, L"dest\\src\\a\\b\\f.txt"},
  };
  for (const auto& c : kCases) {
    TempTree tree;
    tree.MakeDir(L"src\\a\\b");
    tree.MakeDir(L"src\\empty");
    tree.WriteFile(L"src\\a\\b\\f.txt", "deep", FILE_ATTRIBUTE_READONLY);
    tree.WriteFile(L"src\\top.txt", "top");
    if (c.target_exists)
      tree.MakeDir(L"dest");
    ASSERT_TRUE(CopyDirectory(tree.Path(L"src"), tree.Path(L"dest")));
    const FilePath copied = tree.Path(c.copied_file);
    EXPECT_EQ("deep", TempTree::ReadFile(copied));
    EXPECT_FALSE(IsReadOnly(copied));
    const FilePath copy_root = copied.DirName().DirName().DirName();
    EXPECT_EQ("top", TempTree::ReadFile(copy_root.Append(L"top.txt")));
    EXPECT_TRUE(DirectoryExists(copy_root.Append(L"empty")));
  }
}

TEST(FileUtilCopy, CopyDirectoryOfMissingSourceFails) {
  TempTree tree;
  EXPECT_FALSE(CopyDirectory(tree.Path(L"missing"), tree.Path(L"dest")));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"dest")));
}

TEST(FileUtilCopy, CopyDirectoryStopsAtLockedFile) {
  TempTree tree;
  tree.MakeDir(L"src");
  const FilePath locked = tree.WriteFile(L"src\\locked.bin", "x");
  win::ScopedHandle holder = OpenExclusively(locked);
  EXPECT_FALSE(CopyDirectory(tree.Path(L"src"), tree.Path(L"dest")));
}

TEST(FileUtilMove, MovesFilesAndDirectories) {
  TempTree tree;
  tree.WriteFile(L"old.txt", "old");
  const FilePath fresh = tree.WriteFile(L"new.txt", "new");
  tree.MakeDir(L"dir\\sub");
  tree.WriteFile(L"dir\\sub\\f.txt", "f");

  EXPECT_TRUE(MovePath(fresh, tree.Path(L"old.txt")));
  EXPECT_EQ("new", TempTree::ReadFile(tree.Path(L"old.txt")));
  EXPECT_FALSE(TempTree::Exists(fresh));
  EXPECT_TRUE(MovePath(tree.Path(L"dir"), tree.Path(L"moved")));
  EXPECT_EQ("f", TempTree::ReadFile(tree.Path(L"moved\\sub\\f.txt")));
  EXPECT_FALSE(MovePath(tree.Path(L"moved\\..\\old.txt"), tree.Path(L"x.txt")));
  EXPECT_TRUE(TempTree::Exists(tree.Path(L"old.txt")));
}

TEST(FileUtilMove, FailedMoveKeepsRenameError) {
  TempTree tree;
  ::SetLastError(0);
  EXPECT_FALSE(MovePath(tree.Path(L"missing"), tree.Path(L"x")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
}

TEST(FileUtilMove, ReplaceFileReplacesOrRenames) {
  TempTree tree;
  const FilePath first = tree.WriteFile(L"first.txt", "1");
  const FilePath second = tree.WriteFile(L"second.txt", "2");
  EXPECT_TRUE(ReplaceFile(first, tree.Path(L"target.txt")));
  EXPECT_TRUE(ReplaceFile(second, tree.Path(L"target.txt")));
  EXPECT_EQ("2", TempTree::ReadFile(tree.Path(L"target.txt")));
  EXPECT_FALSE(TempTree::Exists(first));
  EXPECT_FALSE(TempTree::Exists(second));
}

TEST(FileUtilCreate, CreateDirectoryAndGetError) {
  TempTree tree;
  tree.WriteFile(L"file", "x");
  const struct {
    const wchar_t* path;
    bool expected;
    FileError expected_error;
  } kCases[] = {
      {L"a\\b\\c", true, FileError::kOk},
      {L"a\\b", true, FileError::kOk},
      {L"file", false, FileError::kNotADirectory},
      {L"file\\sub\\deeper", false, FileError::kNotADirectory},
  };
  for (const auto& c : kCases) {
    FileError error = FileError::kOk;
    EXPECT_EQ(c.expected, CreateDirectoryAndGetError(tree.Path(c.path), &error))
        << c.path;
    EXPECT_EQ(c.expected_error, error) << c.path;
  }
  EXPECT_TRUE(DirectoryExists(tree.Path(L"a\\b\\c")));
  FileError error = FileError::kOk;
  EXPECT_FALSE(CreateDirectoryAndGetError(FilePath(L"Q:\\"), &error));
  EXPECT_EQ(FileError::kNotFound, error);
}

TEST(FileUtilCreate, TemporaryFileIsNewAndEmpty) {
  TempTree tree;
  FilePath first;
  FilePath second;
  ASSERT_TRUE(CreateTemporaryFileInDir(tree.root(), &first));
  ASSERT_TRUE(CreateTemporaryFileInDir(tree.root(), &second));
  EXPECT_NE(first, second);
  EXPECT_EQ(FilePath::CompareIgnoreCase(tree.root(), first.DirName()), 0);
  int64_t size = -1;
  EXPECT_TRUE(GetFileSize(first, &size));
  EXPECT_EQ(0, size);
  EXPECT_FALSE(CreateTemporaryFileInDir(tree.Path(L"missing"), &first));

  FilePath in_temp;
  ASSERT_TRUE(CreateTemporaryFile(&in_temp));
  EXPECT_TRUE(TempTree::Exists(in_temp));
  ::DeleteFileW(in_temp.value().c_str());
}

TEST(FileUtilQuery, ExistenceWritabilityAndInfo) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"f.bin", std::string(1234, 'x'));
  const FilePath busy = tree.WriteFile(L"busy.bin", "r");
  const FilePath missing = tree.Path(L"missing");
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(DirectoryExists(tree.root()));
  EXPECT_FALSE(PathExists(missing));
  EXPECT_TRUE(IsPathWritable(file));
  EXPECT_TRUE(IsPathWritable(tree.root()));
  // Wine running as root opens read-only files for writing, so a file held
  // without sharing stands for the unwritable one.
  win::ScopedHandle holder = OpenExclusively(busy);
  EXPECT_FALSE(IsPathWritable(busy));
  EXPECT_FALSE(IsPathWritable(missing));

  File::Info info;
  ASSERT_TRUE(GetFileInfo(file, &info));
  EXPECT_EQ(1234, info.size);
  EXPECT_FALSE(info.is_directory);
  EXPECT_FALSE(info.last_modified.is_null());
  ASSERT_TRUE(GetFileInfo(tree.root(), &info));
  EXPECT_TRUE(info.is_directory);
  int64_t size = 0;
  EXPECT_FALSE(GetFileSize(missing, &size));
}

TEST(FileUtilQuery, SystemFoldersHaveNoTrailingSeparator) {
  FilePath temp;
  ASSERT_TRUE(GetTempDir(&temp));
  EXPECT_TRUE(DirectoryExists(temp));
  EXPECT_FALSE(FilePath::IsSeparator(temp.value().back()));
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectory(&current));
  EXPECT_TRUE(DirectoryExists(current));
  EXPECT_TRUE(DirectoryExists(GetHomeDir()));
}

TEST(FileUtilReadWrite, ReadFileToStringWithMaxSize) {
  TempTree tree;
  const FilePath ten = tree.WriteFile(L"ten.txt", "0123456789");
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7);
  const FilePath large = tree.WriteFile(L"large.bin", big);
  const struct {
    FilePath path;
    size_t max_size;
    bool expected;
    std::string contents;
  } kCases[] = {
      {ten, 4, false, "0123"},
      {ten, 10, true, "0123456789"},
      {ten, 0, false, ""},
      {large, SIZE_MAX, true, big},
      {large, 65536, false, big.substr(0, 65536)},
      {large, 65537, false, big.substr(0, 65537)},
      {tree.Path(L"missing"), 100, false, ""},
      {tree.Path(L"x\\..\\ten.txt"), 100, false, ""},
  };
  for (const auto& c : kCases) {
    std::string contents = "stale";
    EXPECT_EQ(c.expected,
              ReadFileToStringWithMaxSize(c.path, &contents, c.max_size))
        << c.path.AsUTF8() << " " << c.max_size;
    EXPECT_EQ(c.contents, contents) << c.path.AsUTF8() << " " << c.max_size;
    EXPECT_EQ(c.expected,
              ReadFileToStringWithMaxSize(c.path, nullptr, c.max_size));
  }
}

TEST(FileUtilReadWrite, ReadsFileOthersHaveOpenForWriting) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"log.txt", "line\n");
  win::ScopedHandle writer(::CreateFileW(file.value().c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer.IsValid());
  std::string contents;
  EXPECT_TRUE(ReadFileToString(file, &contents));
  EXPECT_EQ("line\n", contents);
  char buffer[16];
  EXPECT_EQ(5, ReadFileToBuffer(file, buffer, sizeof(buffer)));
  EXPECT_EQ(2, ReadFileToBuffer(file, buffer, 2));
  EXPECT_EQ(-1, ReadFileToBuffer(tree.Path(L"missing"), buffer, 2));
}

TEST(FileUtilReadWrite, WriteReplacesAndAppendNeedsFile) {
  TempTree tree;
  const FilePath file = tree.WriteFile(L"w.txt", "a much longer old text");
  EXPECT_EQ(3, WriteBufferToFile(file, "new", 3));
  EXPECT_EQ("new", TempTree::ReadFile(file));
  EXPECT_TRUE(AppendToFile(file, "+more", 5));
  EXPECT_EQ("new+more", TempTree::ReadFile(file));
  EXPECT_FALSE(AppendToFile(tree.Path(L"missing.txt"), "x", 1));
  EXPECT_FALSE(TempTree::Exists(tree.Path(L"missing.txt")));
  EXPECT_EQ(-1, WriteBufferToFile(file, "x", -1));
  EXPECT_EQ(-1, WriteBufferToFile(tree.Path(L"no\\dir.txt"), "x", 1));

  win::ScopedHandle holder = OpenExclusively(file);
  EXPECT_EQ(-1, WriteBufferToFile(file, "x", 1));
  EXPECT_FALSE(AppendToFile(file, "x", 1));
}

}  // namespace
}  // namespace base

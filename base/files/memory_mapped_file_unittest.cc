#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/test/open_handle_count.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class MappedFileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }

  FilePath MakeFile(const wchar_t* name, const std::string& contents) {
    FilePath path = temp_.path().Append(name);
    File file(path, File::kCreateAlways | File::kWrite);
    EXPECT_EQ(
        static_cast<int>(contents.size()),
        file.Write(0, contents.data(), static_cast<int>(contents.size())));
    return path;
  }

  std::string ReadBack(const FilePath& path) {
    File file(path, File::kOpen | File::kRead);
    std::string contents(static_cast<size_t>(file.GetLength()), '\0');
    EXPECT_EQ(static_cast<int>(contents.size()),
              file.ReadAtCurrentPos(contents.data(),
                                    static_cast<int>(contents.size())));
    return contents;
  }

  // A file can be deleted only once every handle to it, the mapping's
  // included, is gone.
  bool CanDelete(const FilePath& path) {
    return ::DeleteFileW(path.value().c_str()) != 0;
  }

  ScopedTempFolder temp_;
};

TEST_F(MappedFileTest, ReadOnlyViewShowsTheContents) {
  std::string contents(10000, '\0');
  for (size_t i = 0; i < contents.size(); ++i)
    contents[i] = static_cast<char>(i * 7);
  FilePath path = MakeFile(L"read.bin", contents);
  MappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(path, MappedFile::kReadOnly));
  ASSERT_EQ(10000, mapped.length());
  EXPECT_EQ(0, std::memcmp(contents.data(), mapped.data(), contents.size()));
}

TEST_F(MappedFileTest, ReadWriteViewChangesTheFile) {
  FilePath path = MakeFile(L"write.bin", "hello world");
  {
    MappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(path, MappedFile::kReadWrite));
    std::memcpy(mapped.data(), "HELLO", 5);
  }
  EXPECT_EQ("HELLO world", ReadBack(path));
  EXPECT_TRUE(CanDelete(path));
}

TEST_F(MappedFileTest, UnmappableFilesFailAndReleaseEverything) {
  FilePath empty = MakeFile(L"empty.bin", "");
  FilePath folder = temp_.path();
  struct Case {
    const char* name;
    FilePath path;
    int access;
  };
  const Case kCases[] = {
      {"empty file", empty, MappedFile::kReadOnly},
      {"empty file for writing", empty, MappedFile::kReadWrite},
      {"missing file", temp_.path().Append(L"missing.bin"),
       MappedFile::kReadOnly},
      {"folder", folder, MappedFile::kReadOnly},
      {"unknown access", empty, 2},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    MappedFile mapped;
    EXPECT_FALSE(
        mapped.Initialize(c.path, static_cast<MappedFile::Access>(c.access)));
    EXPECT_EQ(nullptr, mapped.data());
    EXPECT_EQ(0, mapped.length());
  }
  EXPECT_TRUE(CanDelete(empty));
}

TEST_F(MappedFileTest, FileOf2GiBIsRefused) {
  FilePath path = temp_.path().Append(L"huge.bin");
  {
    File file(path, File::kCreate | File::kWrite);
    ASSERT_TRUE(file.SetLength(int64_t{0x80000000}));
  }
  MappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(path, MappedFile::kReadOnly));
  EXPECT_EQ(nullptr, mapped.data());
  EXPECT_TRUE(CanDelete(path));
}

TEST_F(MappedFileTest, SecondInitializeFailsUntilClosed) {
  FilePath first = MakeFile(L"first.bin", "first");
  FilePath second = MakeFile(L"second.bin", "second!");
  MappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(first, MappedFile::kReadOnly));
  EXPECT_FALSE(mapped.Initialize(second, MappedFile::kReadOnly));
  EXPECT_EQ(5, mapped.length());
  EXPECT_EQ(0, std::memcmp("first", mapped.data(), 5));

  const uint8_t* old_view = mapped.data();
  mapped.CloseHandles();
  MEMORY_BASIC_INFORMATION region;
  ASSERT_NE(0u, ::VirtualQuery(old_view, &region, sizeof(region)));
  EXPECT_EQ(static_cast<DWORD>(MEM_FREE), region.State);
  EXPECT_EQ(nullptr, mapped.data());
  EXPECT_EQ(0, mapped.length());
  EXPECT_TRUE(CanDelete(first));
  ASSERT_TRUE(mapped.Initialize(second, MappedFile::kReadOnly));
  EXPECT_EQ(7, mapped.length());
}

TEST_F(MappedFileTest, MappedFileCannotBeTruncated) {
  FilePath path = MakeFile(L"busy.bin", "0123456789");
  MappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(path, MappedFile::kReadOnly));
  File other(path, File::kOpen | File::kWrite);
  ASSERT_TRUE(other.IsValid());
  EXPECT_FALSE(other.SetLength(2));
  EXPECT_EQ(FileError::kInvalidRequest,
            File::OSErrorToFileError(::GetLastError()));
}

TEST_F(MappedFileTest, MappingAndClosingLeaksNoHandles) {
  // Counts only what refers to these files, so the test's own leaks are
  // seen and other threads' handles are not.
  FilePath path = MakeFile(L"leak.bin", "abc");
  FilePath empty = MakeFile(L"empty.bin", "");
  for (int i = 0; i < 100; ++i) {
    MappedFile mapped;
    ASSERT_TRUE(mapped.Initialize(path, MappedFile::kReadWrite));
    MappedFile failed;
    ASSERT_FALSE(failed.Initialize(empty, MappedFile::kReadOnly));
  }
  EXPECT_EQ(0, CountHandlesToFile(path));
  EXPECT_EQ(0, CountHandlesToFile(empty));
  // No mapping or view is left either: a mapped file cannot be truncated.
  File writer(path, File::kOpen | File::kWrite);
  ASSERT_TRUE(writer.IsValid());
  EXPECT_TRUE(writer.SetLength(2));
}

}  // namespace
}  // namespace base

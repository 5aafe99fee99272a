#include "base/files/file.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/metrics/sparse_histogram.h"
#include "base/test/histogram_counts.h"
#include "base/test/open_handle_count.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Written and read through the plain Windows calls, so that File is checked
// against the system rather than against itself.
bool WriteWholeFile(const FilePath& path, const std::string& contents) {
  win::ScopedHandle handle(::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0,
                                         nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return handle.IsValid() &&
         ::WriteFile(handle.Get(), contents.data(),
                     static_cast<DWORD>(contents.size()), &written, nullptr) &&
         written == contents.size();
}

std::string ReadWholeFile(const FilePath& path) {
  win::ScopedHandle handle(::CreateFileW(path.value().c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
  std::string contents;
  char buffer[4096];
  DWORD read = 0;
  while (handle.IsValid() &&
         ::ReadFile(handle.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read > 0) {
    contents.append(buffer, read);
  }
  return contents;
}

bool Exists(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

class FileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_.path().empty()); }
  FilePath PathOf(const wchar_t* name) const {
    return temp_.path().Append(name);
  }

  ScopedTempFolder temp_;
};

TEST_F(FileTest, OpenDispositionsOnExistingAndMissingFiles) {
  struct Case {
    const char* name;
    uint32_t flags;
    bool exists_before;
    FileError error;
    bool created;
    const char* contents_after;  // Null when the file should not exist.
  };
  const Case kCases[] = {
      {"open missing", File::kOpen | File::kRead, false, FileError::kNotFound,
       false, nullptr},
      {"open existing", File::kOpen | File::kRead, true, FileError::kOk, false,
       "old"},
      {"create missing", File::kCreate | File::kWrite, false, FileError::kOk,
       true, ""},
      {"create existing", File::kCreate | File::kWrite, true,
       FileError::kExists, false, "old"},
      {"open always missing", File::kOpenAlways | File::kWrite, false,
       FileError::kOk, true, ""},
      {"open always existing", File::kOpenAlways | File::kWrite, true,
       FileError::kOk, false, "old"},
      {"create always existing", File::kCreateAlways | File::kWrite, true,
       FileError::kOk, true, ""},
      {"truncate existing", File::kOpenTruncated | File::kWrite, true,
       FileError::kOk, false, ""},
      {"truncate missing", File::kOpenTruncated | File::kWrite, false,
       FileError::kNotFound, false, nullptr},
      // Truncation outranks every other disposition bit.
      {"truncate beats open always",
       File::kOpenAlways | File::kOpenTruncated | File::kWrite, true,
       FileError::kOk, false, ""},
      {"open always beats create",
       File::kCreate | File::kOpenAlways | File::kRead, true, FileError::kOk,
       false, "old"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    FilePath path = PathOf(L"disposition.txt");
    ::DeleteFileW(path.value().c_str());
    if (c.exists_before) {
      ASSERT_TRUE(WriteWholeFile(path, "old"));
    }
    {
      File file(path, c.flags);
      EXPECT_EQ(c.error, file.error());
      EXPECT_EQ(c.error == FileError::kOk, file.IsValid());
      EXPECT_EQ(c.created, file.created());
    }
    EXPECT_EQ(c.contents_after != nullptr, Exists(path));
    if (c.contents_after) {
      EXPECT_EQ(c.contents_after, ReadWholeFile(path));
    }
  }
}

TEST_F(FileTest, FlagsWithoutDispositionOpenNothing) {
  FilePath path = PathOf(L"a.txt");
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  File file(path, File::kRead | File::kWrite);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(nullptr, File().GetPlatformFile());
  EXPECT_EQ(FileError::kFailed, File().error());
}

TEST_F(FileTest, ParentReferenceIsRefusedWithoutTouchingTheDisk) {
  FilePath target = PathOf(L"escaped.txt");
  FilePath path =
      temp_.path().Append(L"sub").Append(L"..").Append(L"escaped.txt");
  File file(path, File::kCreateAlways | File::kWrite);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(FileError::kAccessDenied, file.error());
  EXPECT_FALSE(Exists(target));
}

TEST_F(FileTest, OpenErrorsFromRealConditions) {
  FilePath locked = PathOf(L"locked.txt");
  File holder(locked, File::kCreate | File::kWrite | File::kExclusiveRead |
                          File::kExclusiveWrite);
  ASSERT_TRUE(holder.IsValid());

  struct Case {
    const char* name;
    FilePath path;
    uint32_t flags;
    FileError error;
  };
  const Case kCases[] = {
      {"missing folder", temp_.path().Append(L"none").Append(L"a.txt"),
       File::kOpen | File::kRead, FileError::kNotFound},
      {"second handle on exclusive file", locked, File::kOpen | File::kRead,
       FileError::kInUse},
      {"folder opened as a file", temp_.path(), File::kOpen | File::kRead,
       FileError::kAccessDenied},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    File file(c.path, c.flags);
    EXPECT_EQ(c.error, file.error());
    EXPECT_EQ(c.error == FileError::kOk, file.IsValid());
  }
}

TEST_F(FileTest, ReadOnlyFileIsRefusedForWritingLikeTheSystemDoes) {
  FilePath path = PathOf(L"read_only.txt");
  ASSERT_TRUE(WriteWholeFile(path, "keep"));
  ASSERT_TRUE(
      ::SetFileAttributesW(path.value().c_str(), FILE_ATTRIBUTE_READONLY));
  // Windows refuses with error 5; Wine run as root opens the file anyway, so
  // the answer is compared with a plain CreateFileW rather than fixed.
  win::ScopedHandle probe(::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
  DWORD probe_error = ::GetLastError();
  bool system_allows_writing = probe.IsValid();
  probe.Close();

  File writer(path, File::kOpen | File::kWrite);
  EXPECT_EQ(system_allows_writing, writer.IsValid());
  if (!writer.IsValid()) {
    EXPECT_EQ(ERROR_ACCESS_DENIED, probe_error);
    EXPECT_EQ(FileError::kAccessDenied, writer.error());
  }
  writer.Close();
  File reader(path, File::kOpen | File::kRead);
  EXPECT_TRUE(reader.IsValid());
  char buffer[8];
  EXPECT_EQ(4, reader.ReadAtCurrentPos(buffer, sizeof(buffer)));
  EXPECT_EQ("keep", ReadWholeFile(path));
}

TEST_F(FileTest, SharedHandlesSeeEachOthersWrites) {
  FilePath path = PathOf(L"shared.txt");
  File writer(path, File::kCreate | File::kWrite);
  File reader(path, File::kOpen | File::kRead);
  ASSERT_TRUE(reader.IsValid());
  ASSERT_EQ(5, writer.Write(0, "hello", 5));
  char buffer[8];
  EXPECT_EQ(5, reader.ReadAtCurrentPos(buffer, sizeof(buffer)));
  EXPECT_EQ("hello", std::string(buffer, 5));
}

TEST_F(FileTest, FailedReopenDoesNotKeepThePreviousFile) {
  File file(PathOf(L"first.txt"), File::kCreate | File::kWrite);
  ASSERT_TRUE(file.IsValid());
  file.Initialize(PathOf(L"missing.txt"), File::kOpen | File::kRead);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(FileError::kNotFound, file.error());
}

TEST_F(FileTest, WriteAtOffsetsAndReadBack) {
  FilePath path = PathOf(L"data.bin");
  File file(path, File::kCreate | File::kRead | File::kWrite);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(6, file.Write(0, "abcdef", 6));
  EXPECT_EQ(2, file.Write(2, "XY", 2));
  // Past the end: the gap reads as zeros.
  EXPECT_EQ(1, file.Write(8, "z", 1));
  EXPECT_EQ(0, file.Write(0, "", 0));
  EXPECT_EQ(-1, file.Write(0, "abc", -1));
  EXPECT_EQ(-1, file.Write(-1, "abc", 3));
  EXPECT_EQ(std::string("abXYef\0\0z", 9), ReadWholeFile(path));

  char buffer[16];
  ASSERT_EQ(0, file.Seek(File::kFromBegin, 0));
  EXPECT_EQ(4, file.ReadAtCurrentPos(buffer, 4));
  EXPECT_EQ("abXY", std::string(buffer, 4));
  EXPECT_EQ(5, file.ReadAtCurrentPos(buffer, sizeof(buffer)));
  EXPECT_EQ(0, file.ReadAtCurrentPos(buffer, sizeof(buffer)));
  EXPECT_EQ(-1, file.ReadAtCurrentPos(buffer, -1));
}

TEST_F(FileTest, WriteOffsetUsesItsHighHalf) {
  FilePath path = PathOf(L"sparse.bin");
  File file(path, File::kCreate | File::kRead | File::kWrite);
  ASSERT_TRUE(file.IsValid());
  const int64_t kFarOffset = (int64_t{1} << 32) + 5;
  ASSERT_EQ(1, file.Write(kFarOffset, "q", 1));
  EXPECT_EQ(kFarOffset + 1, file.GetLength());
  ASSERT_EQ(kFarOffset, file.Seek(File::kFromBegin, kFarOffset));
  char c = 0;
  EXPECT_EQ(1, file.ReadAtCurrentPos(&c, 1));
  EXPECT_EQ('q', c);
}

TEST_F(FileTest, SeekFromEachOrigin) {
  FilePath path = PathOf(L"seek.bin");
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  File file(path, File::kOpen | File::kRead);
  struct Case {
    File::Whence whence;
    int64_t offset;
    int64_t position;
  };
  const Case kCases[] = {
      {File::kFromBegin, 3, 3},    {File::kFromCurrent, 4, 7},
      {File::kFromCurrent, -2, 5}, {File::kFromEnd, -1, 9},
      {File::kFromEnd, 5, 15},     {File::kFromBegin, -1, -1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(c.position, file.Seek(c.whence, c.offset));
  }
  EXPECT_EQ(-1, File().Seek(File::kFromBegin, 0));
}

TEST_F(FileTest, SetLengthKeepsThePosition) {
  FilePath path = PathOf(L"length.bin");
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  File file(path, File::kOpen | File::kRead | File::kWrite);
  ASSERT_EQ(4, file.Seek(File::kFromBegin, 4));

  ASSERT_TRUE(file.SetLength(6));
  EXPECT_EQ(4, file.Seek(File::kFromCurrent, 0));
  EXPECT_EQ("012345", ReadWholeFile(path));

  ASSERT_TRUE(file.SetLength(8));
  EXPECT_EQ(std::string("012345\0\0", 8), ReadWholeFile(path));
  EXPECT_EQ(8, file.GetLength());

  EXPECT_FALSE(file.SetLength(-1));
  EXPECT_EQ(4, file.Seek(File::kFromCurrent, 0));
  EXPECT_EQ(8, file.GetLength());
}

TEST_F(FileTest, GetInfoMatchesTheSystemsAttributes) {
  FilePath path = PathOf(L"info.txt");
  ASSERT_TRUE(WriteWholeFile(path, std::string(1234, 'i')));
  File file(path, File::kOpen | File::kRead | File::kWriteAttributes);
  // A fixed modification time, 2020-01-02 in 100 ns units.
  FILETIME modified = {0x2B1C0000, 0x01D5C0F6};
  ASSERT_TRUE(
      ::SetFileTime(file.GetPlatformFile(), nullptr, nullptr, &modified));

  File::Info info;
  ASSERT_TRUE(file.GetInfo(&info));
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  ASSERT_TRUE(::GetFileAttributesExW(path.value().c_str(),
                                     GetFileExInfoStandard, &attributes));
  EXPECT_EQ(1234, info.size);
  EXPECT_EQ(1234, file.GetLength());
  EXPECT_FALSE(info.is_directory);
  EXPECT_FALSE(info.is_symbolic_link);
  EXPECT_EQ(Time::FromFileTime(modified), info.last_modified);
  EXPECT_EQ(Time::FromFileTime(attributes.ftLastAccessTime),
            info.last_accessed);
  EXPECT_EQ(Time::FromFileTime(attributes.ftCreationTime), info.creation_time);

  File folder(temp_.path(), File::kOpen | File::kRead | File::kBackupSemantics);
  ASSERT_TRUE(folder.IsValid());
  ASSERT_TRUE(folder.GetInfo(&info));
  EXPECT_TRUE(info.is_directory);
  EXPECT_FALSE(File().GetInfo(&info));
  EXPECT_EQ(-1, File().GetLength());
}

TEST_F(FileTest, HiddenFlagReachesTheFile) {
  // kTemporary is passed the same way, but Wine does not keep that attribute.
  FilePath path = PathOf(L"hidden.txt");
  { File file(path, File::kCreate | File::kWrite | File::kHidden); }
  DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(FileTest, DeleteOnCloseRemovesTheFile) {
  FilePath path = PathOf(L"scratch.txt");
  File file(path, File::kCreate | File::kWrite | File::kDeleteOnClose |
                      File::kCanDeleteOnClose);
  ASSERT_TRUE(file.IsValid());
  EXPECT_TRUE(Exists(path));
  file.Close();
  EXPECT_FALSE(Exists(path));
}

TEST_F(FileTest, WriteRefusesAsynchronousHandles) {
  FilePath path = PathOf(L"async.bin");
  File file(path, File::kCreate | File::kWrite | File::kAsync);
  ASSERT_TRUE(file.IsValid());
  EXPECT_TRUE(file.async());
  EXPECT_EQ(-1, file.Write(0, "abc", 3));
  file.Close();
  EXPECT_EQ("", ReadWholeFile(path));
}

TEST_F(FileTest, FlushAndCloseAreSafeOnEveryState) {
  File file(PathOf(L"flush.txt"), File::kCreate | File::kWrite);
  EXPECT_EQ(3, file.Write(0, "abc", 3));
  EXPECT_TRUE(file.Flush());
  file.Close();
  file.Close();
  EXPECT_FALSE(file.IsValid());
  EXPECT_FALSE(file.Flush());
  EXPECT_EQ(-1, file.Write(0, "abc", 3));
}

TEST_F(FileTest, OpeningAndClosingLeaksNoHandles) {
  FilePath path = PathOf(L"leak.txt");
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  // Counts only handles to this file: other threads' handles come and go.
  for (int i = 0; i < 200; ++i) {
    File file(path, File::kOpen | File::kRead);
    File missing(PathOf(L"missing.txt"), File::kOpen | File::kRead);
    file.Initialize(path, File::kOpenAlways | File::kWrite);
    ASSERT_EQ(1, CountHandlesToFile(path));
  }
  EXPECT_EQ(0, CountHandlesToFile(path));
}

TEST(FileErrorTest, OnlyUnknownCodesAreCounted) {
  HistogramBase* histogram =
      SparseHistogram::GetOrCreate("PlatformFile.UnknownErrors.Windows");
  int64_t unknown_before = CountOf(histogram, ERROR_BAD_NETPATH);
  int64_t total_before = TotalCountOf(histogram);
  File::OSErrorToFileError(ERROR_BAD_NETPATH);
  File::OSErrorToFileError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(unknown_before + 1, CountOf(histogram, ERROR_BAD_NETPATH));
  EXPECT_EQ(total_before + 1, TotalCountOf(histogram));
}

}  // namespace
}  // namespace base

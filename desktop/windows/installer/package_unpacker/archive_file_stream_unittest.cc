#include "desktop/windows/installer/package_unpacker/archive_file_stream.h"

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr char kContents[] = "0123456789";
constexpr size_t kLength = sizeof(kContents) - 1;

class ArchiveFileStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_.path().Append(L"archive.7z");
    ASSERT_EQ(base::WriteBufferToFile(path_, kContents, kLength), kLength);
  }

  base::win::ScopedHandle Open(DWORD access) {
    return base::win::ScopedHandle(
        ::CreateFileW(path_.value().c_str(), access, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  base::ScopedTempFolder temp_;
  base::FilePath path_;
};

TEST_F(ArchiveFileStreamTest, EndOfFileIsAShortReadThatSucceeds) {
  base::win::ScopedHandle file = Open(GENERIC_READ);
  ArchiveFileStream stream(file.Get());
  char buffer[64] = {};
  size_t size = 4;
  EXPECT_EQ(ISeekInStream_Read(stream.stream(), buffer, &size), SZ_OK);
  EXPECT_EQ(std::string(buffer, size), "0123");

  size = sizeof(buffer);
  EXPECT_EQ(ISeekInStream_Read(stream.stream(), buffer, &size), SZ_OK);
  EXPECT_EQ(std::string(buffer, size), "456789");

  size = sizeof(buffer);
  EXPECT_EQ(ISeekInStream_Read(stream.stream(), buffer, &size), SZ_OK);
  EXPECT_EQ(size, 0u);
}

TEST_F(ArchiveFileStreamTest, FailedReadIsAnError) {
  base::win::ScopedHandle file = Open(GENERIC_WRITE);
  ArchiveFileStream stream(file.Get());
  char buffer[8];
  size_t size = sizeof(buffer);
  EXPECT_EQ(ISeekInStream_Read(stream.stream(), buffer, &size), SZ_ERROR_READ);
  EXPECT_EQ(size, 0u);
}

TEST_F(ArchiveFileStreamTest, SeeksFromEachOrigin) {
  base::win::ScopedHandle file = Open(GENERIC_READ);
  ArchiveFileStream stream(file.Get());
  Int64 position = 3;
  EXPECT_EQ(ISeekInStream_Seek(stream.stream(), &position, SZ_SEEK_SET), SZ_OK);
  EXPECT_EQ(position, 3);
  position = 2;
  EXPECT_EQ(ISeekInStream_Seek(stream.stream(), &position, SZ_SEEK_CUR), SZ_OK);
  EXPECT_EQ(position, 5);
  position = -1;
  EXPECT_EQ(ISeekInStream_Seek(stream.stream(), &position, SZ_SEEK_END), SZ_OK);
  EXPECT_EQ(position, static_cast<Int64>(kLength - 1));
  char last = 0;
  size_t size = 1;
  EXPECT_EQ(ISeekInStream_Read(stream.stream(), &last, &size), SZ_OK);
  EXPECT_EQ(last, '9');

  position = -100;
  EXPECT_EQ(ISeekInStream_Seek(stream.stream(), &position, SZ_SEEK_SET),
            SZ_ERROR_FAIL);
  position = 0;
  EXPECT_EQ(
      ISeekInStream_Seek(stream.stream(), &position, static_cast<ESzSeek>(3)),
      SZ_ERROR_PARAM);
}

// A package inside its installer file: the window "2345" of the file.
TEST_F(ArchiveFileStreamTest, WindowCountsFromItsStartAndEndsAtItsEnd) {
  base::win::ScopedHandle file = Open(GENERIC_READ);
  ArchiveFileStream stream(file.Get(), 2, 4);
  struct Case {
    Int64 offset;
    ESzSeek origin;
    Int64 position;
    const char* read;
  };
  const Case kCases[] = {
      {0, SZ_SEEK_SET, 0, "2345"},
      {1, SZ_SEEK_SET, 1, "345"},
      {-1, SZ_SEEK_END, 3, "5"},
      {0, SZ_SEEK_END, 4, ""},
      {6, SZ_SEEK_SET, 6, ""},
  };
  for (const Case& test : kCases) {
    Int64 position = test.offset;
    ASSERT_EQ(ISeekInStream_Seek(stream.stream(), &position, test.origin),
              SZ_OK);
    EXPECT_EQ(position, test.position);
    char buffer[64] = {};
    size_t size = sizeof(buffer);
    EXPECT_EQ(ISeekInStream_Read(stream.stream(), buffer, &size), SZ_OK);
    EXPECT_EQ(std::string(buffer, size), test.read) << test.offset;
  }
  Int64 position = -1;
  EXPECT_EQ(ISeekInStream_Seek(stream.stream(), &position, SZ_SEEK_SET),
            SZ_ERROR_FAIL);
}

}  // namespace
}  // namespace installer

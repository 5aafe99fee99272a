#include "desktop/windows/installer/checksum.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr char kEmptyChecksum[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Windows cannot map a file of no bytes; it must still match the checksum of
// nothing rather than count as unreadable.
TEST(ChecksumTest, EmptyFileMatchesChecksumOfNoBytes) {
  base::ScopedTempFolder temp;
  const base::FilePath path = temp.path().Append(L"empty.bin");
  ASSERT_EQ(base::WriteBufferToFile(path, "", 0), 0);

  base::ScopedLogCapture log;
  EXPECT_EQ(ComputeChecksum(nullptr, 0), kEmptyChecksum);
  EXPECT_TRUE(ChecksumMatches(path, kEmptyChecksum));
  EXPECT_TRUE(log.lines().empty());
}

TEST(ChecksumTest, UnreadablePathIsLoggedAndNeverMatches) {
  base::ScopedTempFolder temp;
  const base::FilePath missing = temp.path().Append(L"missing.bin");
  for (const base::FilePath& path : {missing, temp.path()}) {
    base::ScopedLogCapture log;
    EXPECT_FALSE(ChecksumMatches(path, kEmptyChecksum));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "Unable to read " + path.AsUTF8());
  }
}

}  // namespace
}  // namespace installer

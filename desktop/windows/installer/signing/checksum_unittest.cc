#include "desktop/windows/installer/signing/checksum.h"

#include "base/files/file_path.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ChecksumTest, UnreadablePathIsLoggedAndNeverMatches) {
  base::ScopedTempFolder temp;
  const std::string empty_checksum = ComputeChecksum(nullptr, 0);
  for (const base::FilePath& path :
       {temp.path().Append(L"missing"), temp.path()}) {
    base::ScopedLogCapture log;
    EXPECT_FALSE(ChecksumMatches(path, empty_checksum));
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"Unable to read " + path.AsUTF8()});
  }
}

}  // namespace
}  // namespace installer

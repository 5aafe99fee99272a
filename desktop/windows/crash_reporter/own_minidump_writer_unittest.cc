#include "desktop/windows/crash_reporter/own_minidump_writer.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/crash_processor.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/served_crash.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr ULONG kVersionStreamType = 0x10000;
constexpr ULONG kAssertionStreamType = 0x10001;

struct Dump {
  uint64_t limit;
  bool written = false;
  int64_t size = 0;
  bool exists = false;
};

// The dump of a real crashed process, at two limits: the first dump fits
// the first; at the second the normal dump is tried too and nothing is
// left. Wine writes the same dump for both types (about 750 KB), so a
// normal dump that fits where the first did not cannot be shown here. Read
// back with the system's own dump reader.
TEST(OwnMinidumpWriterTest, DumpOfACrashedProcessKeepsWithinItsLimit) {
  const base::ScopedTempFolder folder;
  std::vector<Dump> dumps = {{64 << 20}, {1000}};
  DWORD exit_code = 0;
  const std::vector<std::string> lines = test::RunServedCrash(
      L"invalid-parameter",
      [&](const PipeClientRecord& client) {
        for (size_t i = 0; i < dumps.size(); ++i) {
          const base::FilePath path =
              folder.path().Append(std::to_wstring(i) + L".dmp");
          dumps[i].written = WriteMinidumpFromClientInfo(
              client.process_id(), client.thread_id_address(),
              client.exception_pointers_address(), client.assertion_address(),
              path, dumps[i].limit);
          dumps[i].exists = base::GetFileSize(path, &dumps[i].size);
        }
      },
      &exit_code);
  ASSERT_EQ(exit_code, 0xC000000Du);

  EXPECT_TRUE(dumps[0].written);
  EXPECT_FALSE(dumps[1].written);
  EXPECT_FALSE(dumps[1].exists);
  {
    const test::MinidumpFile dump(folder.path().Append(L"0.dmp").value());
    DWORD thread = 0;
    DWORD code = 0;
    ASSERT_TRUE(dump.ReadException(&thread, &code));
    EXPECT_EQ(std::to_string(thread), test::ValueOfLine(lines, "thread"));
    EXPECT_EQ(code, 0xC000000Du);
    std::vector<uint8_t> version;
    ASSERT_TRUE(dump.ReadStream(kVersionStreamType, &version));
    EXPECT_EQ(std::string(version.begin(), version.end()),
              GetVersionString() + " " + std::to_string(GetBuildNumber()));
    std::vector<uint8_t> assertion;
    ASSERT_TRUE(dump.ReadStream(kAssertionStreamType, &assertion));
    ASSERT_EQ(assertion.size(), sizeof(AssertionRecord));
    const auto* record = reinterpret_cast<const AssertionRecord*>(assertion.data());
    EXPECT_STREQ(record->expression, L"buffer != nullptr");
    EXPECT_EQ(record->line, 42u);
  }
}

}  // namespace
}  // namespace installer

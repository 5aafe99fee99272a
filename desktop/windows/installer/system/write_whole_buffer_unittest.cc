#include "desktop/windows/installer/system/write_whole_buffer.h"

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(WriteWholeBufferTest, ShortWriteWithoutAnErrorFails) {
  // A non-blocking pipe takes what fits in its buffer and reports success.
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 4096));
  base::win::ScopedHandle reader(read_end);
  base::win::ScopedHandle writer(write_end);
  DWORD mode = PIPE_NOWAIT;
  ASSERT_TRUE(::SetNamedPipeHandleState(writer.Get(), &mode, nullptr, nullptr));
  const std::string data(1 << 20, 'x');
  EXPECT_EQ(WriteWholeBuffer(writer.Get(), data.data(), data.size()),
            static_cast<DWORD>(ERROR_WRITE_FAULT));
}

TEST(WriteWholeBufferTest, FailedWriteGivesItsError) {
  base::ScopedTempFolder temp;
  const base::FilePath path = temp.path().Append(L"read_only.bin");
  ASSERT_EQ(base::WriteBufferToFile(path, "x", 1), 1);
  base::win::ScopedHandle file(::CreateFileW(path.value().c_str(), GENERIC_READ,
                                             0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(WriteWholeBuffer(file.Get(), "data", 4),
            static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace installer

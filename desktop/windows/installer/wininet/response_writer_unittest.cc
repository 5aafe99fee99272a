#include "desktop/windows/installer/wininet/response_writer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/wininet/discarding_response_writer.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/string_response_writer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Writes blocks of `sizes` in turn; the number of blocks taken before the
// first refusal.
size_t WriteBlocks(ResponseWriter* writer, const std::vector<size_t>& sizes) {
  size_t taken = 0;
  for (size_t size : sizes) {
    const std::string block(size, 'x');
    if (!writer->Write(block.data(), block.size()))
      break;
    ++taken;
  }
  return taken;
}

TEST(ResponseWriterTest, BodyStopsAtTheSizeLimitWithNothingOfTheLastBlock) {
  constexpr size_t kMax = static_cast<size_t>(kMaxAnswerSize);
  const struct {
    const char* name;
    std::vector<size_t> blocks;
    size_t taken;
    size_t kept;
  } kCases[] = {
      {"one block to the limit", {kMax}, 1, kMax},
      {"one byte over", {kMax + 1}, 0, 0},
      {"blocks to the limit", {kMax / 2, kMax / 2, 0}, 3, kMax},
      {"a block past it", {kMax - 10, 11, 1}, 1, kMax - 10},
      {"one byte after the limit", {kMax, 1}, 1, kMax},
      {"endless blocks", std::vector<size_t>(100, 1024 * 1024), 4,
       4 * 1024 * 1024},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    std::string body;
    StringResponseWriter writer(&body);
    EXPECT_EQ(WriteBlocks(&writer, test.blocks), test.taken);
    EXPECT_EQ(body.size(), test.kept);
    EXPECT_EQ(writer.exceeded_size_limit(), test.taken < test.blocks.size());
  }
}

TEST(ResponseWriterTest, EveryWriterHasItsLimitAndARestartFreesIt) {
  base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"download");
  std::string body;
  const struct {
    const char* name;
    std::function<std::unique_ptr<ResponseWriter>()> make;
    int64_t limit;
  } kCases[] = {
      {"string",
       [&] { return std::make_unique<StringResponseWriter>(&body); },
       kMaxAnswerSize},
      {"discarding", [] { return std::make_unique<DiscardingResponseWriter>(); },
       kMaxAnswerSize},
      {"file",
       [&] {
         auto writer = std::make_unique<FileResponseWriter>(1000);
         EXPECT_TRUE(writer->Open(path));
         return writer;
       },
       1000},
      {"package file", [] { return std::make_unique<FileResponseWriter>(); },
       kMaxFileSize},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    std::unique_ptr<ResponseWriter> writer = test.make();
    EXPECT_EQ(writer->size_limit(), test.limit);
  }
  // A server that answers a resume with the whole body again starts the
  // count afresh: the limit is of the body kept, not of all that came.
  FileResponseWriter writer(1000);
  ASSERT_TRUE(writer.Open(path));
  EXPECT_EQ(WriteBlocks(&writer, {600, 600}), 1u);
  ASSERT_TRUE(writer.Restart());
  EXPECT_EQ(WriteBlocks(&writer, {400, 600, 1}), 2u);
  writer.Finish();
  int64_t size = 0;
  ASSERT_TRUE(base::GetFileSize(path, &size));
  EXPECT_EQ(size, 1000);
}

}  // namespace
}  // namespace installer

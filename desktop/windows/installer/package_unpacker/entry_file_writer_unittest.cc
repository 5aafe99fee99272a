#include "desktop/windows/installer/package_unpacker/entry_file_writer.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "desktop/windows/installer/package_unpacker/in_turn_entry_file_writer.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/package_unpacker/threaded_entry_file_writer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Every writer gives the same outcome: each test runs against both.
std::unique_ptr<EntryFileWriter> MakeWriter(bool threaded) {
  if (!threaded)
    return std::make_unique<InTurnEntryFileWriter>();
  auto writer = std::make_unique<ThreadedEntryFileWriter>();
  EXPECT_TRUE(writer->Start());
  return writer;
}

class EntryFileWriterTest : public ::testing::TestWithParam<bool> {
 protected:
  std::unique_ptr<EntryFileWriter> MakeWriter() {
    return installer::MakeWriter(GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Writers,
                         EntryFileWriterTest,
                         ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Threaded" : "InTurn";
                         });

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

uint64_t LastWriteOf(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard,
                              &data)) {
    return 0;
  }
  return (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

// Buffers taken from the writer come back once their piece was written; one
// still waiting must never be handed out again. Each piece is filled after
// it was taken, as the decoder does, with bytes of its own, and the pieces
// vary in size so that a reused buffer grows and shrinks.
TEST_P(EntryFileWriterTest, ReusedBuffersKeepEveryPieceIntact) {
  base::TempTree tree;
  std::string expected;
  {
    const std::unique_ptr<EntryFileWriter> writer = MakeWriter();
    writer->Open(tree.Path(L"pieces.bin"));
    for (int i = 0; i < 40; ++i) {
      const size_t size = (i % 3 == 0) ? (300 << 10) : (1 << 20);
      std::vector<uint8_t> piece = writer->TakeBuffer(size);
      ASSERT_EQ(size, piece.size());
      for (size_t j = 0; j < size; ++j)
        piece[j] = static_cast<uint8_t>(i * 7 + j / 4096);
      expected.append(piece.begin(), piece.end());
      writer->Write(std::move(piece));
    }
    writer->Close(nullptr);
    EntryFileWriter::Failure failure;
    EXPECT_TRUE(writer->Finish(&failure));
  }
  EXPECT_TRUE(expected == base::TempTree::ReadFile(tree.Path(L"pieces.bin")));
}

// More data than may wait for the thread at once: the caller is held back,
// and every file still ends with its pieces in order and its time.
TEST_P(EntryFileWriterTest, WritesFilesInPiecesWithTheirTimes) {
  base::TempTree tree;
  const FILETIME time = {0x5a5a0000, 0x01d5a5a5};
  const std::string piece(1 << 20, 'x');
  {
    const std::unique_ptr<EntryFileWriter> writer = MakeWriter();
    writer->Open(tree.Path(L"big.bin"));
    for (int i = 0; i < 20; ++i)
      writer->Write(Bytes(piece + std::to_string(i % 10)));
    writer->Close(&time);
    writer->Open(tree.Path(L"small.txt"));
    writer->Write(Bytes("small"));
    writer->Close(nullptr);
    writer->Open(tree.Path(L"empty.txt"));
    writer->Close(&time);
    EntryFileWriter::Failure failure;
    EXPECT_TRUE(writer->Finish(&failure));
  }
  std::string expected;
  for (int i = 0; i < 20; ++i)
    expected += piece + std::to_string(i % 10);
  EXPECT_EQ(expected, base::TempTree::ReadFile(tree.Path(L"big.bin")));
  EXPECT_EQ("small", base::TempTree::ReadFile(tree.Path(L"small.txt")));
  EXPECT_EQ("", base::TempTree::ReadFile(tree.Path(L"empty.txt")));
  const uint64_t expected_time =
      (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  EXPECT_EQ(expected_time, LastWriteOf(tree.Path(L"big.bin")));
  EXPECT_EQ(expected_time, LastWriteOf(tree.Path(L"empty.txt")));
  EXPECT_NE(expected_time, LastWriteOf(tree.Path(L"small.txt")));
}

// Files are made side by side, yet the failure reported is that of the
// earliest file that failed, with its Windows error, whichever thread met
// it first; the files before it are whole.
TEST_P(EntryFileWriterTest, EarliestFailureIsReported) {
  base::TempTree tree;
  const std::unique_ptr<EntryFileWriter> writer = MakeWriter();
  for (int i = 0; i < 50; ++i) {
    writer->Open(tree.Path((L"before_" + std::to_wstring(i)).c_str()));
    writer->Write(Bytes("before"));
    writer->Close(nullptr);
  }
  const base::FilePath missing = tree.Path(L"no_folder\\file.txt");
  const base::FilePath bad_name = tree.Path(L"bad|name.txt");
  for (const base::FilePath& path : {missing, bad_name}) {
    writer->Open(path);
    writer->Write(Bytes("lost"));
    writer->Close(nullptr);
  }
  EntryFileWriter::Failure failure;
  ASSERT_FALSE(writer->Finish(&failure));
  EXPECT_EQ(PackageUnpacker::kCreateFileFailed, failure.state);
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, failure.result);
  EXPECT_EQ(missing.value(), failure.path.value());
  EXPECT_TRUE(writer->failed());
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ("before", base::TempTree::ReadFile(tree.Path(
                            (L"before_" + std::to_wstring(i)).c_str())));
  }
}

// Two entries may name one file in different cases (packed on a system
// whose names keep case apart). Given close together the threads would
// make both at once; with other files between, one after the other. Either
// way, every time, the later file is the one that stays, whole, as when
// the files are made in turn.
TEST_P(EntryFileWriterTest, LaterFileOfTheSamePathWinsWhateverTheTiming) {
  const struct {
    const char* name;
    int files_between;
    int rounds;
  } kCases[] = {{"close together", 0, 200}, {"far apart", 40, 20}};
  const std::string earlier(300 << 10, 'e');
  const std::string later = "later";
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::TempTree tree;
    for (int round = 0; round < test_case.rounds; ++round) {
      const std::unique_ptr<EntryFileWriter> writer = MakeWriter();
      writer->Open(tree.Path(L"Readme.txt"));
      writer->Write(Bytes(earlier));
      writer->Close(nullptr);
      for (int i = 0; i < test_case.files_between; ++i) {
        writer->Open(tree.Path((L"between_" + std::to_wstring(i)).c_str()));
        writer->Write(Bytes("between"));
        writer->Close(nullptr);
      }
      writer->Open(tree.Path(L"README.TXT"));
      writer->Write(Bytes(later));
      writer->Close(nullptr);
      EntryFileWriter::Failure failure;
      ASSERT_TRUE(writer->Finish(&failure))
          << "round " << round << ": " << failure.result;
      ASSERT_EQ(later, base::TempTree::ReadFile(tree.Path(L"readme.txt")))
          << "round " << round;
    }
  }
}

}  // namespace
}  // namespace installer

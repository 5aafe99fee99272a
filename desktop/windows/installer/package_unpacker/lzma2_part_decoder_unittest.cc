#include "desktop/windows/installer/package_unpacker/lzma2_part_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/test/temp_tree.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The property byte of a 1 MiB dictionary; stored chunks do not use it.
constexpr Byte kProperties = 18;

// An LZMA2 stream made of stored chunks, as a packer writes bytes it cannot
// compress: each part starts with a chunk that resets the dictionary.
struct Stream {
  std::string packed;
  std::string unpacked;
  std::vector<uint64_t> part_sizes;

  void AddStored(bool resets, size_t size) {
    packed += static_cast<char>(resets ? 1 : 2);
    packed += static_cast<char>((size - 1) >> 8);
    packed += static_cast<char>((size - 1) & 0xFF);
    std::string data;
    for (size_t i = 0; i < size; ++i)
      data += static_cast<char>((unpacked.size() + i) * 131 / 7);
    packed += data;
    unpacked += data;
    if (resets)
      part_sizes.push_back(0);
    part_sizes.back() += size;
  }
  void AddPart(const std::vector<size_t>& chunks) {
    for (size_t i = 0; i < chunks.size(); ++i)
      AddStored(i == 0, chunks[i]);
  }
  // A compressed chunk that resets everything but whose data cannot be
  // decoded: a range coder's first byte is always 0.
  void AddUndecodablePart(size_t size) {
    const size_t packed_size = 64;
    packed += static_cast<char>(0xE0 | ((size - 1) >> 16));
    packed += static_cast<char>(((size - 1) >> 8) & 0xFF);
    packed += static_cast<char>((size - 1) & 0xFF);
    packed += static_cast<char>((packed_size - 1) >> 8);
    packed += static_cast<char>((packed_size - 1) & 0xFF);
    packed += static_cast<char>(0x5D);
    packed += std::string(packed_size, '\xFF');
    unpacked += std::string(size, '?');
    part_sizes.push_back(size);
  }
  void End() { packed += '\0'; }
};

// Everything `Read` gives, in pieces of an odd size; the last result.
SRes ReadAll(Lzma2PartDecoder* decoder, std::string* out) {
  for (;;) {
    std::string piece(7777, '\0');
    size_t size = piece.size();
    const SRes result =
        decoder->Read(reinterpret_cast<uint8_t*>(piece.data()), &size);
    out->append(piece, 0, size);
    if (result != SZ_OK || size == 0)
      return result;
  }
}

// More parts than threads, of unlike sizes, the stream alone in its file or
// inside a larger one: each later part comes back whole and in order.
TEST(Lzma2PartDecoderTest, HandsLaterPartsBackInOrder) {
  struct {
    const char* name;
    size_t offset;
    std::vector<std::vector<size_t>> parts;
  } const kCases[] = {
      {"many_parts", 0,
       {{65536, 1000}, {3000}, {65536, 65536, 17}, {1}, {40000, 2},
        {65536}, {5, 5, 5}, {30000}}},
      {"inside_a_file", 4096, {{2000}, {65536, 9}, {100}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Stream stream;
    for (const auto& part : c.parts)
      stream.AddPart(part);
    stream.End();
    base::TempTree tree;
    const base::FilePath file = tree.WriteFile(
        L"archive", std::string(c.offset, 'x') + stream.packed + "tail");

    Lzma2PartDecoder decoder;
    ASSERT_TRUE(decoder.Start(file, c.offset, stream.packed.size(),
                              stream.unpacked.size(), kProperties));
    EXPECT_EQ(stream.part_sizes[0], decoder.first_part_size());
    std::string later;
    EXPECT_EQ(SZ_OK, ReadAll(&decoder, &later));
    EXPECT_TRUE(later == stream.unpacked.substr(stream.part_sizes[0]));
  }
}

// Streams whose parts cannot be told, or whose headers do not add up, are
// left to the caller's own decoding, which reports the damage.
TEST(Lzma2PartDecoderTest, LeavesStreamsWithoutTrustworthyPartsToTheCaller) {
  struct {
    const char* name;
    std::string packed;
    uint64_t unpacked_size;
  } kCases[] = {
      {"one_part", "", 6000},
      {"no_end_mark", "", 3000},
      {"sizes_do_not_add_up", "", 3001},
      {"bad_control_byte", "", 3000},
      {"first_chunk_keeps_dictionary", "", 3000},
  };
  Stream one_part;
  one_part.AddPart({1000, 2000, 3000});
  one_part.End();
  kCases[0].packed = one_part.packed;
  Stream two_parts;
  two_parts.AddPart({1000});
  two_parts.AddPart({2000});
  kCases[1].packed = two_parts.packed;
  two_parts.End();
  kCases[2].packed = two_parts.packed;
  kCases[3].packed = two_parts.packed;
  // The second part's control byte: no chunk starts with 0x40.
  kCases[3].packed[3 + 1000] = '\x40';
  kCases[4].packed = two_parts.packed;
  kCases[4].packed[0] = '\x02';
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    base::TempTree tree;
    const base::FilePath file = tree.WriteFile(L"archive", c.packed);

    Lzma2PartDecoder decoder;
    EXPECT_FALSE(decoder.Start(file, 0, c.packed.size(), c.unpacked_size,
                               kProperties));
  }
}

// A damaged later part fails the read where it begins; the parts before it
// came back intact.
TEST(Lzma2PartDecoderTest, UndecodableLaterPartFailsTheRead) {
  Stream stream;
  stream.AddPart({4000});
  stream.AddPart({65536, 100});
  stream.AddUndecodablePart(5000);
  stream.AddPart({3000});
  stream.End();
  base::TempTree tree;
  const base::FilePath file = tree.WriteFile(L"archive", stream.packed);

  Lzma2PartDecoder decoder;
  ASSERT_TRUE(decoder.Start(file, 0, stream.packed.size(),
                            stream.unpacked.size(), kProperties));
  std::string later;
  EXPECT_NE(SZ_OK, ReadAll(&decoder, &later));
  EXPECT_TRUE(later == stream.unpacked.substr(4000, 65536 + 100));
}

}  // namespace
}  // namespace installer

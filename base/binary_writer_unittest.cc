#include "base/binary_writer.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/binary_reader.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::vector<uint8_t> Bytes(const BinaryWriter& writer) {
  return std::vector<uint8_t>(writer.data(), writer.data() + writer.size());
}

TEST(BinaryWriterTest, WireLayouts) {
  struct Case {
    const char* name;
    void (*write)(BinaryWriter*);
    std::vector<uint8_t> expected;
  };
  const Case kCases[] = {
      {"new", [](BinaryWriter*) {}, {0, 0, 0, 0}},
      {"abc", [](BinaryWriter* w) { w->WriteString("abc"); },
       {8, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"abcd", [](BinaryWriter* w) { w->WriteString("abcd"); },
       {8, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 'd'}},
      {"empty", [](BinaryWriter* w) { w->WriteString(""); },
       {4, 0, 0, 0, 0, 0, 0, 0}},
      {"wide", [](BinaryWriter* w) { w->WriteWideString(L"x\u00e9z"); },
       {12, 0, 0, 0, 3, 0, 0, 0, 'x', 0, 0xE9, 0, 'z', 0, 0, 0}},
      {"uint32", [](BinaryWriter* w) { w->WriteUint32(0xDEADBEEF); },
       {4, 0, 0, 0, 0xEF, 0xBE, 0xAD, 0xDE}},
      {"negative", [](BinaryWriter* w) { w->WriteUint32(uint32_t(-2)); },
       {4, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"claimed bool",
       [](BinaryWriter* w) { *w->ClaimBytes(1) = 1; },
       {4, 0, 0, 0, 1, 0, 0, 0}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BinaryWriter writer;
    c.write(&writer);
    EXPECT_EQ(c.expected, Bytes(writer));
    EXPECT_EQ(c.expected.size() - 4, writer.payload_size());
  }
}

TEST(BinaryWriterTest, FieldsRoundTrip) {
  BinaryWriter writer;
  writer.WriteUint32(1);  // true
  writer.WriteUint32(0);  // false
  writer.WriteUint32(0x80000001);
  writer.WriteString("hello");
  writer.WriteString("");
  writer.WriteWideString(L"C:\\Program Files\\\u0422\u0430\u0440\u0432\u043e");
  writer.WriteWideString(L"");
  writer.WriteString(std::string("nul\0inside", 10));

  BinaryReader reader(writer);
  bool flag = false;
  uint32_t number = 0;
  std::string text;
  std::wstring wide;
  EXPECT_TRUE(reader.ReadBool(&flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(reader.ReadBool(&flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(reader.ReadUint32(&number));
  EXPECT_EQ(0x80000001u, number);
  EXPECT_TRUE(reader.ReadString(&text));
  EXPECT_EQ("hello", text);
  EXPECT_TRUE(reader.ReadString(&text));
  EXPECT_EQ("", text);
  EXPECT_TRUE(reader.ReadWideString(&wide));
  EXPECT_EQ(L"C:\\Program Files\\\u0422\u0430\u0440\u0432\u043e", wide);
  EXPECT_TRUE(reader.ReadWideString(&wide));
  EXPECT_EQ(L"", wide);
  EXPECT_TRUE(reader.ReadString(&text));
  EXPECT_EQ(std::string("nul\0inside", 10), text);
  EXPECT_FALSE(reader.ReadUint32(&number));
}

TEST(BinaryWriterTest, CapacityGrowsByDoublingThenByPages) {
  BinaryWriter writer;
  std::vector<int64_t> capacities = {writer.capacity()};
  while (writer.payload_size() < 20000) {
    writer.WriteUint32(writer.payload_size());
    if (writer.capacity() != capacities.back())
      capacities.push_back(writer.capacity());
  }
  const std::vector<int64_t> kExpected = {64,   128,  256,  512,   1024,
                                          2048, 4096, 8128, 16320, 32704};
  EXPECT_EQ(kExpected, capacities);
  // Nothing was lost on the way.
  BinaryReader reader(writer);
  for (uint32_t expected = 0; expected < 20000; expected += 4) {
    uint32_t value = 0;
    ASSERT_TRUE(reader.ReadUint32(&value));
    ASSERT_EQ(expected, value);
  }
}

TEST(BinaryWriterTest, LargeClaimGrowsToFit) {
  BinaryWriter writer;
  memset(writer.ClaimBytes(10001), 0x11, 10001);
  EXPECT_EQ(10048, writer.capacity());
  EXPECT_EQ(10004u, writer.payload_size());
  EXPECT_EQ(0, writer.payload()[10001]);  // padding is zeroed
  EXPECT_EQ(0, writer.payload()[10003]);
}

// Builds received bytes from a header value and a payload.
std::vector<uint8_t> Received(uint32_t claimed, std::vector<uint8_t> rest) {
  std::vector<uint8_t> bytes(4 + rest.size());
  memcpy(bytes.data(), &claimed, 4);
  if (!rest.empty())
    memcpy(bytes.data() + 4, rest.data(), rest.size());
  return bytes;
}

TEST(BinaryWriterTest, ReadOnlyViewChecksHeader) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int length;
    uint32_t expected_payload_size;
    int64_t expected_value;  // first uint32 of the payload, or -1 for none
  };
  const Case kCases[] = {
      {"consistent", Received(4, {7, 0, 0, 0}), 8, 4, 7},
      {"claims more", Received(12, {7, 0, 0, 0}), 8, 0, -1},
      {"claims far more", Received(0xFFFFFFF0, {7, 0, 0, 0}), 8, 0, -1},
      {"header not 4-aligned", Received(2, {7, 0, 0, 0}), 8, 0, -1},
      {"no room for header", Received(8, {7, 0, 0, 0}), 8, 0, -1},
      {"length shorter than header", {4, 0, 0}, 3, 0, -1},
      {"larger header", Received(4, {9, 9, 9, 9, 7, 0, 0, 0}), 12, 4, 7},
      {"payload not 4-aligned", Received(5, {7, 0, 0, 0, 1}), 9, 5, 7},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BinaryWriter view(c.bytes.data(), c.length);
    EXPECT_EQ(-1, view.capacity());
    EXPECT_EQ(c.expected_payload_size, view.payload_size());
    BinaryReader reader(view);
    uint32_t value = 0;
    EXPECT_EQ(c.expected_value >= 0, reader.ReadUint32(&value));
    if (c.expected_value >= 0) {
      EXPECT_EQ(c.expected_value, value);
    }
  }
}

TEST(BinaryWriterTest, CopyOfViewOwnsItsBytes) {
  BinaryWriter original;
  original.WriteString("signature");
  original.WriteUint32(5);
  std::vector<uint8_t> received = Bytes(original);

  BinaryWriter view(received.data(), static_cast<int>(received.size()));
  BinaryWriter copy(view);
  memset(received.data(), 0xCC, received.size());
  EXPECT_EQ(Bytes(original), Bytes(copy));
  EXPECT_EQ(64, copy.capacity());

  // The copy is writable.
  copy.WriteUint32(6);
  BinaryReader reader(copy);
  std::string text;
  uint32_t value = 0;
  EXPECT_TRUE(reader.ReadString(&text));
  EXPECT_EQ("signature", text);
  EXPECT_TRUE(reader.ReadUint32(&value));
  EXPECT_TRUE(reader.ReadUint32(&value));
  EXPECT_EQ(6u, value);

  // So is the copy of an empty view.
  BinaryWriter empty_view(received.data(), 2);
  BinaryWriter empty_copy(empty_view);
  EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 0}), Bytes(empty_copy));
  empty_copy.WriteUint32(1);
  EXPECT_EQ(4u, empty_copy.payload_size());
}

TEST(BinaryReaderTest, FailuresAreStickyAndLeaveOutputAlone) {
  struct Case {
    const char* name;
    std::vector<uint8_t> payload;
    bool wide;
  };
  const Case kCases[] = {
      {"length beyond payload", {9, 0, 0, 0, 'a', 'b', 'c', 'd', 1, 0, 0, 0}},
      {"negative length", {0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0}},
      {"wide length beyond payload", {5, 0, 0, 0, 'a', 0, 'b', 0, 1, 0, 0, 0},
       true},
      // Twice the count overflows int32.
      {"wide length overflow", {0, 0, 0, 0x40, 1, 0, 0, 0, 1, 0, 0, 0}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes =
        Received(static_cast<uint32_t>(c.payload.size()), c.payload);
    BinaryWriter view(bytes.data(), static_cast<int>(bytes.size()));
    BinaryReader reader(view);
    std::string text = "untouched";
    std::wstring wide = L"untouched";
    EXPECT_FALSE(c.wide ? reader.ReadWideString(&wide)
                        : reader.ReadString(&text));
    EXPECT_EQ("untouched", text);
    EXPECT_EQ(L"untouched", wide);
    // Four readable bytes remain, yet the cursor is at the end.
    uint32_t value = 7;
    EXPECT_FALSE(reader.ReadUint32(&value));
    EXPECT_EQ(7u, value);
    bool flag = true;
    EXPECT_FALSE(reader.ReadBool(&flag));
  }
}

TEST(BinaryReaderTest, BoolInShortTailReadsFirstByte) {
  for (int tail = 1; tail <= 3; ++tail) {
    std::vector<uint8_t> payload = {1, 0, 0, 0};
    payload.resize(4 + tail, 0);
    payload[4] = 1;
    std::vector<uint8_t> bytes =
        Received(static_cast<uint32_t>(payload.size()), payload);
    BinaryWriter view(bytes.data(), static_cast<int>(bytes.size()));
    BinaryReader reader(view);
    uint32_t value = 0;
    bool flag = false;
    EXPECT_TRUE(reader.ReadUint32(&value));
    EXPECT_TRUE(reader.ReadBool(&flag)) << tail;
    EXPECT_TRUE(flag);
    EXPECT_FALSE(reader.ReadBool(&flag)) << tail;
  }
}

// Places bytes right before a no-access page, so that reading one byte past
// them faults.
class GuardedBytes {
 public:
  GuardedBytes() {
    pages_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT,
                     PAGE_READWRITE));
    DWORD old_protection;
    VirtualProtect(pages_ + kPage, kPage, PAGE_NOACCESS, &old_protection);
  }
  ~GuardedBytes() { VirtualFree(pages_, 0, MEM_RELEASE); }
  const uint8_t* Place(const std::vector<uint8_t>& bytes, size_t length) {
    uint8_t* start = pages_ + kPage - length;
    memcpy(start, bytes.data(), length);
    return start;
  }

 private:
  static constexpr size_t kPage = 4096;
  uint8_t* pages_;
};

// Reads the fields of the sample message in order; once one fails, every
// later one must fail too.
int ReadSample(const BinaryWriter& message) {
  BinaryReader reader(message);
  std::string text;
  std::wstring wide;
  uint32_t number;
  bool flag;
  const bool results[] = {
      reader.ReadString(&text),     reader.ReadUint32(&number),
      reader.ReadUint32(&number),   reader.ReadWideString(&wide),
      reader.ReadString(&text),     reader.ReadBool(&flag),
      reader.ReadWideString(&wide), reader.ReadUint32(&number),
  };
  int succeeded = 0;
  while (succeeded < 8 && results[succeeded])
    ++succeeded;
  for (int i = succeeded; i < 8; ++i)
    EXPECT_FALSE(results[i]) << "read " << i << " after a failure";
  return succeeded;
}

TEST(BinaryReaderTest, DamagedMessagesNeverReadOutOfBounds) {
  BinaryWriter writer;
  writer.WriteString(":Installer message:");
  writer.WriteUint32(5);
  writer.WriteUint32(37055);
  writer.WriteWideString(L"C:\\Users\\x\\AppData\\Local\\Tarvo");
  writer.WriteString("could not create folder");
  writer.WriteUint32(1);
  writer.WriteWideString(L"ab");
  writer.WriteUint32(9);
  const std::vector<uint8_t> message = Bytes(writer);
  ASSERT_EQ(8, ReadSample(writer));

  GuardedBytes guarded;
  int previous = 0;
  for (size_t length = 4; length <= message.size(); ++length) {
    // A cut message whose header was fixed up to match what arrived.
    std::vector<uint8_t> cut = message;
    const uint32_t payload = static_cast<uint32_t>(length - 4);
    memcpy(cut.data(), &payload, 4);
    BinaryWriter view(guarded.Place(cut, length), static_cast<int>(length));
    const int fields = ReadSample(view);
    EXPECT_GE(fields, previous) << length;
    previous = fields;
    // Unfixed, the header claims more than arrived: nothing is read.
    BinaryWriter unfixed(guarded.Place(message, length),
                         static_cast<int>(length));
    EXPECT_EQ(length == message.size() ? 8 : 0, ReadSample(unfixed));
  }

  // Random damage anywhere, header included.
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1664525 + 1013904223; };
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> damaged = message;
    for (int flips = 1 + next() % 4; flips > 0; --flips)
      damaged[next() % damaged.size()] = static_cast<uint8_t>(next() >> 24);
    const size_t length = next() % (damaged.size() + 1);
    BinaryWriter view(guarded.Place(damaged, length),
                      static_cast<int>(length));
    ReadSample(view);
  }
}

TEST(BinaryWriterDeathTest, BadWritesEndProcess) {
  std::vector<uint8_t> received = {4, 0, 0, 0, 1, 0, 0, 0};
  BinaryWriter view(received.data(), static_cast<int>(received.size()));
  EXPECT_DEATH(view.WriteUint32(1), "");
  BinaryWriter writer;
  writer.WriteUint32(1);
  // Sizes that would wrap the 32-bit payload size to something small.
  EXPECT_DEATH(writer.ClaimBytes((size_t{1} << 32) - 4), "");
  EXPECT_DEATH(writer.ClaimBytes(SIZE_MAX), "");
  EXPECT_DEATH(writer.ClaimBytes(0x7FFFFFFC), "");
}

}  // namespace
}  // namespace base

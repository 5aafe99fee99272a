#include "desktop/windows/installer/signing/pe_image.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/signing/authenticode_digest.h"
#include "desktop/windows/installer/signing/held_file_registry.h"
#include "desktop/windows/installer/signing/held_image_file.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr size_t kPeOffset = 0x80;
constexpr size_t kOptionalHeader = kPeOffset + 24;
constexpr uint16_t kOptionalHeaderSize = 240;  // PE32+, 16 directories
constexpr size_t kSectionTable = kOptionalHeader + kOptionalHeaderSize;
constexpr size_t kChecksum = kOptionalHeader + 64;
constexpr size_t kTableEntry = kOptionalHeader + 112 + 4 * 8;
constexpr size_t kSizeOfHeaders = 0x400;
constexpr size_t kSectionSize = 0x200;
constexpr size_t kSectionCount = 3;
constexpr size_t kEndOfSections = kSizeOfHeaders + kSectionCount * kSectionSize;
constexpr size_t kTableSize = 0x20;

void Put16(std::string* image, size_t offset, uint16_t value) {
  std::memcpy(image->data() + offset, &value, sizeof(value));
}
void Put32(std::string* image, size_t offset, uint32_t value) {
  std::memcpy(image->data() + offset, &value, sizeof(value));
}
size_t SectionHeader(size_t index) {
  return kSectionTable + index * 40;
}
void PutSection(std::string* image, size_t index, uint32_t offset,
                uint32_t size) {
  Put32(image, SectionHeader(index) + 16, size);
  Put32(image, SectionHeader(index) + 20, offset);
}

// A PE32+ image as a linker and a signing tool lay it out: headers, three
// sections back to back (.text, .data, .rsrc), then the certificate table
// with one attribute certificate. Every byte but the header fields is its
// offset's low byte, so that a range left out or hashed twice shows.
std::string SignedImage() {
  std::string image(kEndOfSections + kTableSize, '\0');
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<char>(i);
  std::memset(image.data(), 0, kSectionTable + kSectionCount * 40);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPeOffset);
  std::memcpy(image.data() + kPeOffset, "PE\0\0", 4);
  Put16(&image, kPeOffset + 4, 0x8664);
  Put16(&image, kPeOffset + 6, kSectionCount);
  Put16(&image, kPeOffset + 20, kOptionalHeaderSize);
  Put16(&image, kOptionalHeader, 0x20b);
  Put32(&image, kOptionalHeader + 60, kSizeOfHeaders);
  Put32(&image, kChecksum, 0x12345678);
  Put32(&image, kOptionalHeader + 108, 16);
  for (size_t i = 0; i < kSectionCount; ++i)
    PutSection(&image, i, kSizeOfHeaders + i * kSectionSize, kSectionSize);
  Put32(&image, kTableEntry, kEndOfSections);
  Put32(&image, kTableEntry + 4, kTableSize);
  // WIN_CERTIFICATE: length, revision 2.0, type PKCS #7 signed data.
  Put32(&image, kEndOfSections, kTableSize);
  Put16(&image, kEndOfSections + 4, 0x0200);
  Put16(&image, kEndOfSections + 6, 2);
  return image;
}

std::string Unsigned() {
  std::string image = SignedImage();
  image.resize(kEndOfSections);
  Put32(&image, kTableEntry, 0);
  Put32(&image, kTableEntry + 4, 0);
  return image;
}

std::string Changed(std::function<void(std::string*)> change) {
  std::string image = SignedImage();
  change(&image);
  return image;
}

// The certificate table moved to the start of a section's raw data, the
// section's own bytes shifted behind it as a tool that moves it would.
std::string TableInSection(size_t index) {
  std::string image = SignedImage();
  const size_t at = kSizeOfHeaders + index * kSectionSize;
  const std::string table = image.substr(kEndOfSections, kTableSize);
  image.resize(kEndOfSections);
  image.insert(at, table);
  for (size_t i = index; i < kSectionCount; ++i) {
    PutSection(&image, i,
               static_cast<uint32_t>(kSizeOfHeaders + i * kSectionSize +
                                     (i == index ? 0 : kTableSize)),
               static_cast<uint32_t>(kSectionSize + (i == index ? kTableSize : 0)));
  }
  Put32(&image, kTableEntry, static_cast<uint32_t>(at));
  return image;
}

std::span<const uint8_t> AsBytes(const std::string& image) {
  return {reinterpret_cast<const uint8_t*>(image.data()), image.size()};
}

struct LayoutCase {
  const char* name;
  std::string image;
  bool digested;
  // Whether the attribute certificate can still be read.
  bool signature_read;
};

// The bytes the digest leaves out of `image`, as [begin, end) pairs.
std::vector<std::pair<size_t, size_t>> LeftOut(
    const std::vector<PeImage::Range>& ranges,
    size_t size) {
  std::vector<std::pair<size_t, size_t>> gaps;
  size_t at = 0;
  for (const PeImage::Range& range : ranges) {
    EXPECT_LE(at, range.begin);
    EXPECT_LE(range.begin, range.end);
    if (range.begin > at)
      gaps.emplace_back(at, range.begin);
    at = range.end;
  }
  if (at < size)
    gaps.emplace_back(at, size);
  return gaps;
}

TEST(PeImageTest, DigestCoversAllButChecksumEntryAndTrailingTable) {
  const std::string signed_image = SignedImage();
  std::optional<PeImage> image = PeImage::Parse(AsBytes(signed_image));
  ASSERT_TRUE(image);
  using Gaps = std::vector<std::pair<size_t, size_t>>;
  EXPECT_EQ(LeftOut(image->GetDigestedRanges(), signed_image.size()),
            (Gaps{{kChecksum, kChecksum + 4},
                  {kTableEntry, kTableEntry + 8},
                  {kEndOfSections, kEndOfSections + kTableSize}}));

  const std::string unsigned_image = Unsigned();
  image = PeImage::Parse(AsBytes(unsigned_image));
  ASSERT_TRUE(image);
  EXPECT_EQ(LeftOut(image->GetDigestedRanges(), unsigned_image.size()),
            (Gaps{{kChecksum, kChecksum + 4}, {kTableEntry, kTableEntry + 8}}));
}

// A held file's digest is read through its handle a bounded piece at a
// time: over a file of several pieces it is the digest of what the view
// holds, each byte once and in order, and a byte changed past the first
// piece shows in it. Read once while the file is held, it stands for a
// reading through another handle; once the hold has ended, a file
// rewritten with its size and last write kept is read anew.
// Writes `contents` to `file`, its last write set to `last_write` when that
// was read before, else read into it.
bool RewriteKeepingLastWrite(const base::FilePath& file,
                             const std::string& contents,
                             FILETIME* last_write) {
  const base::win::ScopedHandle writer(::CreateFileW(
      file.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
      nullptr));
  DWORD written = 0;
  return writer.IsValid() &&
         ::WriteFile(writer.Get(), contents.data(),
                     static_cast<DWORD>(contents.size()), &written, nullptr) &&
         written == contents.size() &&
         (last_write->dwHighDateTime || last_write->dwLowDateTime
              ? ::SetFileTime(writer.Get(), nullptr, nullptr, last_write)
              : ::GetFileTime(writer.Get(), nullptr, nullptr, last_write));
}

TEST(PeImageTest, HeldFileDigestReadsWhatTheViewHolds) {
  std::string image = Unsigned();
  image.resize(kEndOfSections + (3 << 20) + 17);
  for (size_t i = kEndOfSections; i < image.size(); ++i)
    image[i] = static_cast<char>((i * 2654435761u) >> 13);
  const struct {
    const char* name;
    size_t changed_at;
    ALG_ID algorithm;
  } kCases[] = {
      {"as in memory", 0, CALG_SHA_256},
      {"as in memory", 0, CALG_SHA1},
      {"a byte changed past the first piece", (2 << 20) + 5, CALG_SHA_256},
      {"a byte changed past the first piece", (2 << 20) + 5, CALG_SHA1},
  };
  const base::ScopedTempFolder folder;
  const base::FilePath file = folder.path().Append(L"image.exe");
  FILETIME last_write = {};
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    std::string on_disk = image;
    if (test_case.changed_at)
      on_disk[test_case.changed_at] ^= 1;
    ASSERT_TRUE(RewriteKeepingLastWrite(file, on_disk, &last_write));
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ComputeAuthenticodeDigest(*PeImage::Parse(AsBytes(image)),
                                          test_case.algorithm, &expected));
    HeldImageFile held;
    ASSERT_EQ(held.Open(file.value().c_str()), 0u);
    std::vector<uint8_t> read;
    ASSERT_TRUE(ComputeAuthenticodeDigest(
        *PeImage::Parse(held.bytes(), held.handle()), test_case.algorithm,
        &read));
    EXPECT_EQ(read == expected, test_case.changed_at == 0);
    ASSERT_TRUE(held.identity());
    EXPECT_EQ(HeldFileRegistry::Get().FindDigest(*held.identity(),
                                                 test_case.algorithm),
              read);
    const base::win::ScopedHandle other(
        ::CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<uint8_t> again;
    ASSERT_TRUE(ComputeAuthenticodeDigest(
        *PeImage::Parse(held.bytes(), other.Get()), test_case.algorithm,
        &again));
    EXPECT_EQ(again, read);
  }
}

TEST(PeImageTest, RefusesLayoutsTheFormatDoesNotHash) {
  const LayoutCase cases[] = {
      {"as signed", SignedImage(), true, true},
      {"unsigned", Unsigned(), true, false},
      {"sections listed out of file order", Changed([](std::string* image) {
         PutSection(image, 0, kSizeOfHeaders + 2 * kSectionSize, kSectionSize);
         PutSection(image, 2, kSizeOfHeaders, kSectionSize);
       }), true, true},
      {"uninitialised data without raw bytes", Changed([](std::string* image) {
         Put16(image, kPeOffset + 6, kSectionCount + 1);
         PutSection(image, kSectionCount, 0, 0);
       }), true, true},
      {"table in .text", TableInSection(0), false, false},
      {"table in .data", TableInSection(1), false, false},
      {"table in .rsrc", TableInSection(2), false, false},
      {"table in the headers", Changed([](std::string* image) {
         Put32(image, kTableEntry, kSizeOfHeaders - kTableSize);
       }), false, false},
      {"table over the last section's end", Changed([](std::string* image) {
         Put32(image, kTableEntry, kEndOfSections - 8);
         Put32(image, kTableEntry + 4, kTableSize + 8);
       }), false, false},
      // Tracking data after a signature is covered by none: its signature
      // is still read, but nothing is proven of the file.
      {"bytes after the table", Changed([](std::string* image) {
         image->append("TRV", 3);
       }), false, true},
      {"table past the end", Changed([](std::string* image) {
         Put32(image, kTableEntry + 4, kTableSize + 8);
       }), false, false},
      {"table size wrapping", Changed([](std::string* image) {
         Put32(image, kTableEntry + 4, 0xFFFFFFFF);
       }), false, false},
      {"gap between sections", Changed([](std::string* image) {
         PutSection(image, 1, kSizeOfHeaders + kSectionSize + 8, kSectionSize - 8);
       }), false, false},
      {"overlapping sections", Changed([](std::string* image) {
         PutSection(image, 1, kSizeOfHeaders + kSectionSize - 8, kSectionSize + 8);
       }), false, false},
      {"gap after the headers", Changed([](std::string* image) {
         PutSection(image, 0, kSizeOfHeaders + 8, kSectionSize - 8);
       }), false, false},
      {"section past the end", Changed([](std::string* image) {
         PutSection(image, 2, kSizeOfHeaders + 2 * kSectionSize, 0x10000);
       }), false, false},
      {"section size wrapping", Changed([](std::string* image) {
         PutSection(image, 2, kSizeOfHeaders + 2 * kSectionSize, 0xFFFFFFF0);
       }), false, false},
      {"headers past the end", Changed([](std::string* image) {
         Put32(image, kOptionalHeader + 60, 0x7FFFFFF0);
       }), false, false},
      {"headers shorter than the section table", Changed([](std::string* image) {
         Put32(image, kOptionalHeader + 60, SectionHeader(2));
         PutSection(image, 0, SectionHeader(2), kSizeOfHeaders - SectionHeader(2) + kSectionSize);
       }), false, false},
      {"section table beyond the headers", Changed([](std::string* image) {
         Put16(image, kPeOffset + 6, 0xFFFF);
       }), false, false},
      // The loader finds the section table after the optional header's
      // stated size: a table entry there would hide a section's place.
      {"table entry inside the section table", Changed([](std::string* image) {
         Put16(image, kPeOffset + 20, 0x80);
       }), false, false},
  };
  for (const LayoutCase& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<PeImage> image = PeImage::Parse(AsBytes(test.image));
    ASSERT_TRUE(image);
    const std::vector<PeImage::Range> ranges = image->GetDigestedRanges();
    EXPECT_EQ(!ranges.empty(), test.digested);
    for (const PeImage::Range& range : ranges)
      EXPECT_LE(range.end, test.image.size());
    EXPECT_EQ(!image->GetEmbeddedSignature().empty(), test.signature_read);
  }
}

}  // namespace
}  // namespace installer

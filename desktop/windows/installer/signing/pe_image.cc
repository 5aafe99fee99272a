#include "desktop/windows/installer/signing/pe_image.h"

#include <cstring>

namespace installer {

namespace {

constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kNewHeaderOffsetField = 0x3C;
constexpr uint8_t kPeSignature[] = {'P', 'E', 0, 0};
// Signature plus the COFF file header.
constexpr size_t kOptionalHeaderOffset = 4 + 20;
constexpr size_t kCertificateDirectoryIndex = 4;
constexpr size_t kDirectoryEntrySize = 8;
constexpr uint16_t kCertificateTypePkcsSignedData = 2;
constexpr size_t kAttributeCertificateHeaderSize = 8;

// Where the fields we read lie in each kind of optional header.
struct OptionalHeaderLayout {
  uint16_t magic;
  size_t checksum;
  size_t directory_count;
  size_t directories;
};

constexpr OptionalHeaderLayout kOptionalHeaderLayouts[] = {
    {0x10b, 64, 92, 96},   // PE32
    {0x20b, 64, 108, 112}, // PE32+
};

const OptionalHeaderLayout* FindLayout(uint16_t magic) {
  for (const OptionalHeaderLayout& layout : kOptionalHeaderLayouts) {
    if (layout.magic == magic)
      return &layout;
  }
  return nullptr;
}

// Whether `length` bytes at `offset` lie within `bytes`, without overflow.
bool Fits(std::span<const uint8_t> bytes, uint64_t offset, uint64_t length) {
  return offset <= bytes.size() && length <= bytes.size() - offset;
}

template <typename T>
T ReadAt(std::span<const uint8_t> bytes, size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

}  // namespace

// static
bool PeImage::HasPeSignature(std::span<const uint8_t> bytes) {
  if (bytes.size() < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z')
    return false;
  const uint32_t pe_offset = ReadAt<uint32_t>(bytes, kNewHeaderOffsetField);
  return Fits(bytes, pe_offset, sizeof(kPeSignature)) &&
         std::memcmp(bytes.data() + pe_offset, kPeSignature,
                     sizeof(kPeSignature)) == 0;
}

// static
std::optional<PeImage> PeImage::Parse(std::span<const uint8_t> bytes) {
  if (!HasPeSignature(bytes))
    return std::nullopt;
  const uint32_t pe_offset = ReadAt<uint32_t>(bytes, kNewHeaderOffsetField);
  if (!Fits(bytes, pe_offset, kOptionalHeaderOffset + sizeof(uint16_t)))
    return std::nullopt;
  const size_t optional_header = pe_offset + kOptionalHeaderOffset;
  const OptionalHeaderLayout* layout =
      FindLayout(ReadAt<uint16_t>(bytes, optional_header));
  if (!layout || !Fits(bytes, optional_header, layout->directories))
    return std::nullopt;

  PeImage image(bytes);
  image.checksum_offset_ = optional_header + layout->checksum;
  const uint32_t directory_count =
      ReadAt<uint32_t>(bytes, optional_header + layout->directory_count);
  if (directory_count <= kCertificateDirectoryIndex)
    return image;
  const size_t entry = optional_header + layout->directories +
                       kCertificateDirectoryIndex * kDirectoryEntrySize;
  if (!Fits(bytes, entry, kDirectoryEntrySize))
    return std::nullopt;
  image.certificate_entry_offset_ = entry;
  image.certificate_table_offset_ = ReadAt<uint32_t>(bytes, entry);
  image.certificate_table_size_ = ReadAt<uint32_t>(bytes, entry + 4);
  return image;
}

std::optional<PeImage::Range> PeImage::GetCertificateTable() const {
  if (!has_certificate_table() || certificate_entry_offset_ == 0)
    return std::nullopt;
  // The table follows the headers; one reaching back into them would hide
  // header bytes from the digest.
  if (certificate_table_offset_ <
          certificate_entry_offset_ + kDirectoryEntrySize ||
      !Fits(bytes_, certificate_table_offset_, certificate_table_size_)) {
    return std::nullopt;
  }
  return Range{certificate_table_offset_,
               size_t{certificate_table_offset_} + certificate_table_size_};
}

std::span<const uint8_t> PeImage::GetEmbeddedSignature() const {
  const std::optional<Range> table = GetCertificateTable();
  if (!table || table->end - table->begin < kAttributeCertificateHeaderSize)
    return {};
  const uint32_t length = ReadAt<uint32_t>(bytes_, table->begin);
  const uint16_t type = ReadAt<uint16_t>(bytes_, table->begin + 6);
  if (length < kAttributeCertificateHeaderSize ||
      length > table->end - table->begin ||
      type != kCertificateTypePkcsSignedData) {
    return {};
  }
  return bytes_.subspan(table->begin + kAttributeCertificateHeaderSize,
                        length - kAttributeCertificateHeaderSize);
}

std::vector<PeImage::Range> PeImage::GetDigestedRanges() const {
  std::vector<Range> ranges;
  const size_t after_checksum = checksum_offset_ + sizeof(uint32_t);
  if (certificate_entry_offset_ == 0) {
    ranges.push_back({0, checksum_offset_});
    ranges.push_back({after_checksum, bytes_.size()});
    return ranges;
  }
  Range table{bytes_.size(), bytes_.size()};
  if (has_certificate_table()) {
    const std::optional<Range> checked = GetCertificateTable();
    if (!checked)
      return ranges;
    table = *checked;
  }
  ranges.push_back({0, checksum_offset_});
  ranges.push_back({after_checksum, certificate_entry_offset_});
  ranges.push_back({certificate_entry_offset_ + kDirectoryEntrySize, table.begin});
  ranges.push_back({table.end, bytes_.size()});
  return ranges;
}

}  // namespace installer

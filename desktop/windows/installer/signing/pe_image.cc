#include "desktop/windows/installer/signing/pe_image.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace installer {

namespace {

constexpr size_t kDosHeaderSize = 0x40;
constexpr size_t kNewHeaderOffsetField = 0x3C;
constexpr uint8_t kPeSignature[] = {'P', 'E', 0, 0};
// Signature plus the COFF file header.
constexpr size_t kOptionalHeaderOffset = 4 + 20;
// Fields of the COFF file header, counted from the PE signature.
constexpr size_t kSectionCountField = 4 + 2;
constexpr size_t kOptionalHeaderSizeField = 4 + 16;
// SizeOfHeaders, at the same place in both kinds of optional header.
constexpr size_t kSizeOfHeadersField = 60;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kRawDataSizeField = 16;
constexpr size_t kRawDataOffsetField = 20;
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
std::optional<PeImage> PeImage::Parse(std::span<const uint8_t> bytes,
                                     HANDLE held_file) {
  std::optional<PeImage> image = Parse(bytes);
  if (image)
    image->held_file_ = held_file;
  return image;
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
  image.size_of_headers_ =
      ReadAt<uint32_t>(bytes, optional_header + kSizeOfHeadersField);
  const uint16_t optional_header_size =
      ReadAt<uint16_t>(bytes, pe_offset + kOptionalHeaderSizeField);
  image.optional_header_end_ = optional_header + optional_header_size;
  image.section_count_ = ReadAt<uint16_t>(bytes, pe_offset + kSectionCountField);
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

std::optional<size_t> PeImage::GetEndOfSections() const {
  // The fields the digest leaves out must lie in the optional header that
  // the loader reads: an entry reaching into the section table would leave
  // a section's place unhashed.
  if (checksum_offset_ + sizeof(uint32_t) > optional_header_end_ ||
      (certificate_entry_offset_ != 0 &&
       certificate_entry_offset_ + kDirectoryEntrySize > optional_header_end_)) {
    return std::nullopt;
  }
  // The section table follows the optional header.
  const uint64_t section_table_end =
      optional_header_end_ + uint64_t{section_count_} * kSectionHeaderSize;
  if (section_table_end > size_of_headers_ || size_of_headers_ > bytes_.size())
    return std::nullopt;
  std::vector<std::pair<uint32_t, uint32_t>> raw_data;
  for (size_t i = 0; i < section_count_; ++i) {
    const size_t header = optional_header_end_ + i * kSectionHeaderSize;
    const uint32_t size = ReadAt<uint32_t>(bytes_, header + kRawDataSizeField);
    if (size != 0) {
      raw_data.emplace_back(
          ReadAt<uint32_t>(bytes_, header + kRawDataOffsetField), size);
    }
  }
  std::ranges::sort(raw_data);
  // The format hashes the sections' raw data and then what follows the
  // last one: a gap or an overlap between them would leave bytes unhashed
  // or hashed twice, so neither is taken.
  uint64_t end = size_of_headers_;
  for (const auto& [offset, size] : raw_data) {
    if (offset != end || !Fits(bytes_, offset, size))
      return std::nullopt;
    end += size;
  }
  return static_cast<size_t>(end);
}

std::optional<PeImage::Range> PeImage::GetCertificateTable() const {
  if (!has_certificate_table() || certificate_entry_offset_ == 0)
    return std::nullopt;
  // A table among the headers or the sections would be mapped as their
  // bytes while the digest leaves it out.
  const std::optional<size_t> end_of_sections = GetEndOfSections();
  if (!end_of_sections || certificate_table_offset_ < *end_of_sections ||
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
  const std::optional<size_t> end_of_sections = GetEndOfSections();
  if (!end_of_sections)
    return {};
  size_t hashed_end = bytes_.size();
  if (has_certificate_table() && certificate_entry_offset_ != 0) {
    // The format puts the table last: bytes after it would be covered by
    // no signature at all.
    const std::optional<Range> table = GetCertificateTable();
    if (!table || table->end != bytes_.size())
      return {};
    hashed_end = table->begin;
  }
  const size_t after_checksum = checksum_offset_ + sizeof(uint32_t);
  std::vector<Range> ranges;
  ranges.push_back({0, checksum_offset_});
  if (certificate_entry_offset_ == 0) {
    ranges.push_back({after_checksum, size_of_headers_});
  } else {
    ranges.push_back({after_checksum, certificate_entry_offset_});
    ranges.push_back(
        {certificate_entry_offset_ + kDirectoryEntrySize, size_of_headers_});
  }
  // The sections' raw data in the order of their offsets, back to back, and
  // what follows them: one run.
  ranges.push_back({size_of_headers_, hashed_end});
  return ranges;
}

}  // namespace installer

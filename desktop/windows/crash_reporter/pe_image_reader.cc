#include "desktop/windows/crash_reporter/pe_image_reader.h"

#include <algorithm>
#include <cstring>

namespace installer {

namespace {

constexpr uint16_t kDosSignature = 23117;  // "MZ"
constexpr uint32_t kPeSignature = 17744;   // "PE\0\0"
constexpr size_t kNewHeaderOffsetField = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kTimestampField = 4;
constexpr size_t kSectionCountField = 2;
constexpr size_t kOptionalHeaderSizeField = 16;

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kSizeOfCodeField = 4;
constexpr size_t kBaseOfCodeField = 20;
// Where the data directories and their count lie in each optional header.
constexpr size_t kPe32DirectoryCountField = 92;
constexpr size_t kPe32PlusDirectoryCountField = 108;
constexpr size_t kDirectoryEntrySize = 8;

constexpr size_t kSectionHeaderSize = 40;
// The reporter reads every module of a crashed process: a crafted one must
// not stall it. Real modules have a few dozen sections and a few resource
// entries per directory; past these bounds a module answers what it can.
constexpr uint32_t kMaxSections = 1024;
constexpr uint32_t kMaxResourceEntriesPerDirectory = 4096;
constexpr uint32_t kMaxResourceEntriesVisited = 8192;
constexpr size_t kSectionVirtualSizeField = 8;
constexpr size_t kSectionVirtualAddressField = 12;
constexpr size_t kSectionRawSizeField = 16;
constexpr size_t kSectionRawOffsetField = 20;

constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kResourceDirectory = 2;
constexpr size_t kExportDirectorySize = 40;
constexpr size_t kExportNameField = 12;

constexpr size_t kResourceDirectorySize = 16;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kNamedEntryCountField = 12;
constexpr size_t kIdEntryCountField = 14;
constexpr uint32_t kResourceNameIsString = 0x80000000;
constexpr uint32_t kResourceIsDirectory = 0x80000000;
constexpr size_t kResourceDataEntrySize = 16;
constexpr int32_t kVersionResourceType = 16;
constexpr int32_t kVersionResourceId = 1;
constexpr int32_t kFirstEntry = -1;

constexpr size_t kMaxText = 127;
constexpr char kOriginalFileNameKey[] = "ORIGINALFILENAME";
constexpr char kFileVersionKey[] = "FILEVERSION";

// A version String block is wLength, wValueLength, wType, then its key.
constexpr size_t kStringHeaderUnits = 3;

char ToUpperAscii(uint16_t unit) {
  return unit >= 'a' && unit <= 'z' ? static_cast<char>(unit - 'a' + 'A')
                                    : static_cast<char>(unit);
}

class Utf16Units {
 public:
  Utf16Units(const uint8_t* data, size_t size)
      : data_(data), count_(size / 2) {}

  size_t count() const { return count_; }
  uint16_t operator[](size_t index) const {
    return static_cast<uint16_t>(data_[2 * index] |
                                 (data_[2 * index + 1] << 8));
  }

  // Whether the key, followed by its terminating NUL, starts at `index`.
  bool KeyAt(size_t index, const char* key, size_t key_length) const {
    if (index + key_length + 1 > count_)
      return false;
    for (size_t i = 0; i < key_length; ++i) {
      const uint16_t unit = (*this)[index + i];
      if (unit > 0x7F || ToUpperAscii(unit) != key[i])
        return false;
    }
    return (*this)[index + key_length] == 0;
  }

 private:
  const uint8_t* const data_;
  const size_t count_;
};

}  // namespace

PeImageReader::PeImageReader(const uint8_t* data, size_t size)
    : data_(data), size_(size) {
  valid_ = ReadHeaders();
}

template <typename T>
bool PeImageReader::Read(uint64_t offset, T* value) const {
  if (offset > size_ || sizeof(T) > size_ - offset)
    return false;
  std::memcpy(value, data_ + offset, sizeof(T));
  return true;
}

bool PeImageReader::ReadHeaders() {
  uint16_t dos_signature = 0;
  uint32_t new_header = 0;
  uint32_t pe_signature = 0;
  if (!Read(0, &dos_signature) || dos_signature != kDosSignature ||
      !Read(kNewHeaderOffsetField, &new_header) ||
      !Read(new_header, &pe_signature) || pe_signature != kPeSignature) {
    return false;
  }
  const uint64_t file_header = uint64_t{new_header} + sizeof(pe_signature);
  uint16_t section_count = 0;
  uint16_t optional_size = 0;
  uint16_t magic = 0;
  uint32_t size_of_code = 0;
  uint32_t base_of_code = 0;
  const uint64_t optional = file_header + kFileHeaderSize;
  if (!Read(file_header + kTimestampField, &timestamp_) ||
      !Read(file_header + kSectionCountField, &section_count) ||
      !Read(file_header + kOptionalHeaderSizeField, &optional_size) ||
      optional_size < kBaseOfCodeField + sizeof(base_of_code) ||
      !Read(optional, &magic) ||
      !Read(optional + kSizeOfCodeField, &size_of_code) ||
      !Read(optional + kBaseOfCodeField, &base_of_code)) {
    return false;
  }
  code_end_ = uint64_t{base_of_code} + size_of_code;

  // Only sections wholly inside the data count.
  sections_offset_ = static_cast<size_t>(optional + optional_size);
  if (sections_offset_ <= size_) {
    section_count_ = static_cast<uint32_t>(std::min<uint64_t>(
        {section_count, (size_ - sections_offset_) / kSectionHeaderSize,
         kMaxSections}));
  }

  size_t count_field = 0;
  if (magic == kPe32Magic)
    count_field = kPe32DirectoryCountField;
  else if (magic == kPe32PlusMagic)
    count_field = kPe32PlusDirectoryCountField;
  uint32_t directory_count = 0;
  if (count_field && optional_size >= count_field + sizeof(directory_count) &&
      Read(optional + count_field, &directory_count)) {
    directories_offset_ =
        static_cast<size_t>(optional + count_field + sizeof(directory_count));
    // Directories past the optional header belong to the section table.
    const uint64_t room = (optional + optional_size - directories_offset_) /
                          kDirectoryEntrySize;
    directory_count_ =
        static_cast<uint32_t>(std::min<uint64_t>(directory_count, room));
  }
  return true;
}

bool PeImageReader::RvaToRange(uint64_t rva,
                               uint64_t size,
                               Range* range) const {
  for (uint32_t i = 0; i < section_count_; ++i) {
    const uint64_t header = sections_offset_ + uint64_t{i} * kSectionHeaderSize;
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_offset = 0;
    if (!Read(header + kSectionVirtualSizeField, &virtual_size) ||
        !Read(header + kSectionVirtualAddressField, &virtual_address) ||
        !Read(header + kSectionRawSizeField, &raw_size) ||
        !Read(header + kSectionRawOffsetField, &raw_offset)) {
      return false;
    }
    // Only the raw part of a section lies in the file.
    if (rva < virtual_address || rva - virtual_address >= raw_size)
      continue;
    const uint64_t offset = raw_offset + (rva - virtual_address);
    if (offset > size_ || size > size_ - offset ||
        size > uint64_t{raw_size} - (rva - virtual_address)) {
      return false;
    }
    range->offset = static_cast<size_t>(offset);
    range->size = static_cast<size_t>(size);
    return true;
  }
  return false;
}

bool PeImageReader::GetDataDirectory(uint32_t index,
                                     size_t needed,
                                     Range* range,
                                     uint32_t* rva) const {
  if (!valid_ || index >= directory_count_)
    return false;
  const uint64_t entry =
      directories_offset_ + uint64_t{index} * kDirectoryEntrySize;
  uint32_t size = 0;
  if (!Read(entry, rva) || !Read(entry + sizeof(*rva), &size) || *rva == 0 ||
      size < needed) {
    return false;
  }
  // What lies beyond the part read is reached through its own addresses.
  return RvaToRange(*rva, needed, range);
}

std::string PeImageReader::ReadString(size_t offset, size_t max_length) const {
  if (offset >= size_)
    return std::string();
  const char* begin = reinterpret_cast<const char*>(data_ + offset);
  const size_t limit = std::min(max_length, size_ - offset);
  return std::string(begin, strnlen(begin, limit));
}

bool PeImageReader::GetExportName(std::string* name) const {
  Range directory;
  uint32_t rva = 0;
  uint32_t name_rva = 0;
  Range name_range;
  if (!GetDataDirectory(kExportDirectory, kExportDirectorySize, &directory,
                        &rva) ||
      !Read(directory.offset + kExportNameField, &name_rva) ||
      !RvaToRange(name_rva, 1, &name_range)) {
    return false;
  }
  *name = ReadString(name_range.offset, kMaxText);
  return true;
}

bool PeImageReader::FindResourceEntry(uint32_t resources_rva,
                                      uint32_t directory_rva,
                                      int32_t id,
                                      bool want_directory,
                                      uint32_t* budget,
                                      uint32_t* entry_rva) const {
  Range directory;
  uint16_t named = 0;
  uint16_t ids = 0;
  if (!RvaToRange(directory_rva, kResourceDirectorySize, &directory) ||
      !Read(directory.offset + kNamedEntryCountField, &named) ||
      !Read(directory.offset + kIdEntryCountField, &ids)) {
    return false;
  }
  const uint32_t count = std::min(
      {uint32_t{named} + ids, kMaxResourceEntriesPerDirectory, *budget});
  *budget -= count;
  // The entries follow their directory in one piece: found once, not once
  // per entry through the whole section table.
  Range entries;
  if (count == 0 ||
      !RvaToRange(uint64_t{directory_rva} + kResourceDirectorySize,
                  uint64_t{count} * kResourceEntrySize, &entries)) {
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = entries.offset + size_t{i} * kResourceEntrySize;
    uint32_t name = 0;
    uint32_t target = 0;
    if (!Read(entry, &name) || !Read(entry + 4, &target))
      return false;
    if (id != kFirstEntry &&
        ((name & kResourceNameIsString) || name != static_cast<uint32_t>(id))) {
      continue;
    }
    const bool is_directory = (target & kResourceIsDirectory) != 0;
    if (is_directory != want_directory)
      return false;
    *entry_rva = resources_rva + (target & ~kResourceIsDirectory);
    return true;
  }
  return false;
}

PeImageReader::VersionResult PeImageReader::GetVersionStrings(
    std::string* original_file_name,
    std::string* file_version) const {
  Range resources;
  uint32_t resources_rva = 0;
  if (!GetDataDirectory(kResourceDirectory, kResourceDirectorySize, &resources,
                        &resources_rva)) {
    return VersionResult::kNoResourceDirectory;
  }
  uint32_t type_rva = 0;
  uint32_t id_rva = 0;
  uint32_t data_entry_rva = 0;
  uint32_t budget = kMaxResourceEntriesVisited;
  if (!FindResourceEntry(resources_rva, resources_rva, kVersionResourceType,
                         true, &budget, &type_rva) ||
      !FindResourceEntry(resources_rva, type_rva, kVersionResourceId, true,
                         &budget, &id_rva) ||
      !FindResourceEntry(resources_rva, id_rva, kFirstEntry, false, &budget,
                         &data_entry_rva)) {
    return VersionResult::kNoVersionResource;
  }
  Range data_entry;
  uint32_t data_rva = 0;
  uint32_t data_size = 0;
  Range data;
  if (!RvaToRange(data_entry_rva, kResourceDataEntrySize, &data_entry) ||
      !Read(data_entry.offset, &data_rva) ||
      !Read(data_entry.offset + 4, &data_size) ||
      !RvaToRange(data_rva, data_size, &data)) {
    return VersionResult::kNoVersionData;
  }
  *original_file_name =
      FindVersionString(data_ + data.offset, data.size, kOriginalFileNameKey);
  *file_version =
      FindVersionString(data_ + data.offset, data.size, kFileVersionKey);
  return VersionResult::kFound;
}

std::string FindVersionString(const uint8_t* data,
                              size_t size,
                              const char* key) {
  const Utf16Units units(data, size);
  const size_t key_length = std::strlen(key);
  for (size_t index = kStringHeaderUnits; index < units.count(); ++index) {
    if (!units.KeyAt(index, key, key_length))
      continue;
    // The block's header says how long it and its value are; the value
    // starts at the next 4-byte boundary after the key.
    const size_t block = index - kStringHeaderUnits;
    const size_t block_end = std::min<size_t>(block + units[block] / 2,
                                              units.count());
    const size_t value_length = units[block + 1];
    size_t value = index + key_length + 1;
    value += (value - block) % 2;
    std::string text;
    for (size_t i = value; i < block_end && i - value < value_length &&
                           text.size() < kMaxText && units[i] != 0;
         ++i) {
      text += static_cast<char>(units[i] & 0xFF);
    }
    return text;
  }
  return std::string();
}

}  // namespace installer

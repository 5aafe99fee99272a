#include "desktop/windows/installer/signing/mapped_image_check.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace installer {

namespace {

using Result = MappedImageCheck::Result;
using Parts = MappedImageCheck::Parts;

constexpr uint16_t kMagicPe32 = 0x10b;
constexpr uint16_t kMagicPe32Plus = 0x20b;
constexpr size_t kBaseRelocationDirectory = 5;
constexpr size_t kImportAddressTableDirectory = 12;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kRelocationBlockHeaderSize = 8;
constexpr uint16_t kRelocationAbsolute = 0;
constexpr uint16_t kRelocationHighLow = 3;
constexpr uint16_t kRelocationDir64 = 10;
// An image this large is no program of ours: refused rather than read.
constexpr uint64_t kMaxComparedSize = 512ull * 1024 * 1024;
// Where the process environment block keeps the program's image base.
constexpr uint64_t kPebImageBaseOffset = 0x10;
constexpr LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022);
constexpr int kProcessBasicInformation = 0;

// Where each kind of optional header keeps the fields read here.
struct OptionalHeaderLayout {
  uint16_t magic;
  size_t image_base;
  size_t image_base_size;
  size_t directory_count;
  size_t directories;
};
constexpr OptionalHeaderLayout kLayouts[] = {
    {kMagicPe32, 28, 4, 92, 96},
    {kMagicPe32Plus, 24, 8, 108, 112},
};
constexpr size_t kSizeOfImageField = 56;
constexpr size_t kSizeOfHeadersField = 60;

// A part of the image as the loader lays it out: `size` bytes at `rva`,
// the first `raw_size` of them the file's from `raw_offset`, zero after.
struct Region {
  uint32_t rva = 0;
  uint32_t size = 0;
  uint32_t raw_offset = 0;
  uint32_t raw_size = 0;
  bool writable = false;
};

struct Relocation {
  uint32_t rva;
  uint32_t width;
};

struct Layout {
  uint64_t preferred_base = 0;
  // The header's image base field, which the loader may set to the base
  // it chose.
  size_t image_base_field = 0;
  size_t image_base_size = 0;
  std::vector<Region> regions;
  uint32_t relocations_rva = 0;
  uint32_t relocations_size = 0;
  uint32_t import_table_rva = 0;
  uint32_t import_table_size = 0;
};

bool Fits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

template <typename T>
T ReadAt(std::span<const uint8_t> bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

const OptionalHeaderLayout* FindLayout(uint16_t magic) {
  for (const OptionalHeaderLayout& layout : kLayouts) {
    if (layout.magic == magic)
      return &layout;
  }
  return nullptr;
}

// The directory `index`'s entry, or none when the header lists fewer.
void ReadDirectory(std::span<const uint8_t> file,
                   size_t directories,
                   uint32_t count,
                   size_t index,
                   uint32_t* rva,
                   uint32_t* size) {
  if (index >= count)
    return;
  const size_t entry = directories + index * kDirectoryEntrySize;
  *rva = ReadAt<uint32_t>(file, entry);
  *size = ReadAt<uint32_t>(file, entry + 4);
}

bool ReadSections(std::span<const uint8_t> file,
                  size_t table,
                  uint16_t count,
                  Layout* layout) {
  if (!Fits(table, uint64_t{count} * sizeof(IMAGE_SECTION_HEADER),
            file.size())) {
    return false;
  }
  for (uint16_t i = 0; i < count; ++i) {
    IMAGE_SECTION_HEADER section;
    std::memcpy(&section, file.data() + table + i * sizeof(section),
                sizeof(section));
    Region region;
    region.rva = section.VirtualAddress;
    region.size = section.Misc.VirtualSize ? section.Misc.VirtualSize
                                           : section.SizeOfRawData;
    region.raw_offset = section.PointerToRawData;
    region.raw_size = std::min<uint32_t>(section.SizeOfRawData, region.size);
    region.writable = (section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0;
    if (!Fits(region.raw_offset, region.raw_size, file.size()))
      return false;
    layout->regions.push_back(region);
  }
  return true;
}

std::optional<Layout> ReadLayout(std::span<const uint8_t> file) {
  if (file.size() < sizeof(IMAGE_DOS_HEADER))
    return std::nullopt;
  const auto dos = ReadAt<IMAGE_DOS_HEADER>(file, 0);
  const uint64_t file_header = uint64_t{static_cast<uint32_t>(dos.e_lfanew)} + 4;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE ||
      !Fits(file_header, sizeof(IMAGE_FILE_HEADER) + sizeof(uint16_t),
            file.size()) ||
      ReadAt<uint32_t>(file, file_header - 4) != IMAGE_NT_SIGNATURE) {
    return std::nullopt;
  }
  const auto header = ReadAt<IMAGE_FILE_HEADER>(file, file_header);
  const size_t optional = file_header + sizeof(IMAGE_FILE_HEADER);
  const OptionalHeaderLayout* fields =
      FindLayout(ReadAt<uint16_t>(file, optional));
  if (!fields || header.SizeOfOptionalHeader < fields->directories ||
      !Fits(optional, header.SizeOfOptionalHeader, file.size())) {
    return std::nullopt;
  }
  Layout layout;
  layout.image_base_field = optional + fields->image_base;
  layout.image_base_size = fields->image_base_size;
  layout.preferred_base =
      fields->image_base_size == 8
          ? ReadAt<uint64_t>(file, layout.image_base_field)
          : ReadAt<uint32_t>(file, layout.image_base_field);
  const uint32_t size_of_image =
      ReadAt<uint32_t>(file, optional + kSizeOfImageField);
  const uint32_t size_of_headers =
      ReadAt<uint32_t>(file, optional + kSizeOfHeadersField);
  const uint32_t directory_count = std::min<uint32_t>(
      ReadAt<uint32_t>(file, optional + fields->directory_count),
      static_cast<uint32_t>((header.SizeOfOptionalHeader - fields->directories) /
                            kDirectoryEntrySize));
  const size_t directories = optional + fields->directories;
  ReadDirectory(file, directories, directory_count, kBaseRelocationDirectory,
                &layout.relocations_rva, &layout.relocations_size);
  ReadDirectory(file, directories, directory_count,
                kImportAddressTableDirectory, &layout.import_table_rva,
                &layout.import_table_size);
  if (size_of_image > kMaxComparedSize ||
      !Fits(0, size_of_headers, file.size())) {
    return std::nullopt;
  }
  layout.regions.push_back({0, size_of_headers, 0, size_of_headers, false});
  if (!ReadSections(file, optional + header.SizeOfOptionalHeader,
                    header.NumberOfSections, &layout)) {
    return std::nullopt;
  }
  for (const Region& region : layout.regions) {
    if (!Fits(region.rva, region.size, size_of_image))
      return std::nullopt;
  }
  return layout;
}

// The file offset of `rva`'s `length` bytes, where a section's raw data
// holds them.
std::optional<size_t> FileOffsetOf(const Layout& layout,
                                   uint32_t rva,
                                   uint32_t length) {
  for (const Region& region : layout.regions) {
    if (rva >= region.rva && Fits(rva - region.rva, length, region.raw_size))
      return region.raw_offset + (rva - region.rva);
  }
  return std::nullopt;
}

// The places the loader adds the base's move to, from the file's base
// relocation table.
std::optional<std::vector<Relocation>> ReadRelocations(
    std::span<const uint8_t> file,
    const Layout& layout) {
  std::vector<Relocation> relocations;
  if (layout.relocations_size == 0)
    return relocations;
  const std::optional<size_t> table =
      FileOffsetOf(layout, layout.relocations_rva, layout.relocations_size);
  if (!table)
    return std::nullopt;
  const std::span<const uint8_t> blocks =
      file.subspan(*table, layout.relocations_size);
  size_t offset = 0;
  while (blocks.size() - offset >= kRelocationBlockHeaderSize) {
    const uint32_t page = ReadAt<uint32_t>(blocks, offset);
    const uint32_t block_size = ReadAt<uint32_t>(blocks, offset + 4);
    if (block_size < kRelocationBlockHeaderSize || block_size % 2 != 0 ||
        !Fits(offset, block_size, blocks.size())) {
      return std::nullopt;
    }
    for (size_t entry = offset + kRelocationBlockHeaderSize;
         entry < offset + block_size; entry += sizeof(uint16_t)) {
      const uint16_t value = ReadAt<uint16_t>(blocks, entry);
      const uint16_t type = value >> 12;
      const uint32_t rva = page + (value & 0xFFF);
      if (type == kRelocationAbsolute)
        continue;
      if (type == kRelocationDir64)
        relocations.push_back({rva, 8});
      else if (type == kRelocationHighLow)
        relocations.push_back({rva, 4});
      else
        return std::nullopt;
    }
    offset += block_size;
  }
  return relocations;
}

// `region` as the loader lays it out from the file, moved by `delta`.
bool ExpectedBytes(std::span<const uint8_t> file,
                   const Region& region,
                   const std::vector<Relocation>& relocations,
                   uint64_t delta,
                   std::vector<uint8_t>* bytes) {
  bytes->assign(region.size, 0);
  std::memcpy(bytes->data(), file.data() + region.raw_offset, region.raw_size);
  for (const Relocation& relocation : relocations) {
    const uint64_t end = uint64_t{relocation.rva} + relocation.width;
    if (end <= region.rva || relocation.rva >= region.rva + region.size)
      continue;
    // A value half in this part would be moved across two of them.
    if (relocation.rva < region.rva || end > region.rva + region.size)
      return false;
    uint8_t* place = bytes->data() + (relocation.rva - region.rva);
    if (relocation.width == 8) {
      uint64_t value;
      std::memcpy(&value, place, sizeof(value));
      value += delta;
      std::memcpy(place, &value, sizeof(value));
    } else {
      uint32_t value;
      std::memcpy(&value, place, sizeof(value));
      value += static_cast<uint32_t>(delta);
      std::memcpy(place, &value, sizeof(value));
    }
  }
  return true;
}

// Makes the expected bytes take what the loader may write into `region`:
// its choice of base in the header, the bound imports in an image that
// has run.
void AcceptLoaderWrites(const Layout& layout,
                        const Region& region,
                        Parts parts,
                        uint64_t base,
                        std::span<const uint8_t> mapped,
                        std::span<uint8_t> expected) {
  if (region.rva == 0 &&
      Fits(layout.image_base_field, layout.image_base_size, expected.size())) {
    uint8_t* field = expected.data() + layout.image_base_field;
    if (std::memcmp(mapped.data() + layout.image_base_field, &base,
                    layout.image_base_size) == 0) {
      std::memcpy(field, &base, layout.image_base_size);
    }
  }
  if (parts != Parts::kUnwrittenSections || layout.import_table_size == 0)
    return;
  const uint64_t table_end =
      uint64_t{layout.import_table_rva} + layout.import_table_size;
  const uint64_t begin = std::max<uint64_t>(layout.import_table_rva, region.rva);
  const uint64_t end = std::min<uint64_t>(table_end, region.rva + region.size);
  for (uint64_t rva = begin; rva < end; ++rva)
    expected[rva - region.rva] = mapped[rva - region.rva];
}

class ProcessMemory : public MappedImageCheck::Memory {
 public:
  explicit ProcessMemory(HANDLE process) : process_(process) {}

  bool Read(uint64_t address, std::span<uint8_t> bytes) const override {
    SIZE_T read = 0;
    const bool done =
        ::ReadProcessMemory(process_, reinterpret_cast<const void*>(address),
                            bytes.data(), bytes.size(), &read) &&
        read == bytes.size();
    last_error_ = done ? 0 : ::GetLastError();
    return done;
  }

  DWORD last_error() const { return last_error_; }

 private:
  const HANDLE process_;
  mutable DWORD last_error_ = 0;
};

struct ProcessBasicInformation {
  LONG exit_status;
  void* peb;
  ULONG_PTR affinity;
  LONG base_priority;
  ULONG_PTR process_id;
  ULONG_PTR parent_process_id;
};
using QueryProcessFunction = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);

// Looked up at run time: ntdll exports it under no header of the SDK's
// import libraries that every toolchain has.
QueryProcessFunction GetQueryProcessFunction() {
  static const QueryProcessFunction function =
      reinterpret_cast<QueryProcessFunction>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                           "NtQueryInformationProcess")));
  return function;
}

}  // namespace

// static
MappedImageCheck::Result MappedImageCheck::Check(const Memory& memory,
                                                 uint64_t base,
                                                 std::span<const uint8_t> file,
                                                 Parts parts) {
  const std::optional<Layout> layout = ReadLayout(file);
  if (!layout)
    return Result::kMalformed;
  const uint64_t delta = base - layout->preferred_base;
  std::optional<std::vector<Relocation>> relocations;
  if (delta != 0) {
    relocations = ReadRelocations(file, *layout);
    if (!relocations)
      return Result::kMalformed;
  }
  const std::vector<Relocation> none;
  std::vector<uint8_t> expected;
  std::vector<uint8_t> mapped;
  for (const Region& region : layout->regions) {
    if (region.size == 0 ||
        (parts == Parts::kUnwrittenSections && region.writable)) {
      continue;
    }
    if (!ExpectedBytes(file, region, relocations ? *relocations : none, delta,
                       &expected)) {
      return Result::kMalformed;
    }
    mapped.resize(region.size);
    if (!memory.Read(base + region.rva, mapped))
      return Result::kUnreadable;
    AcceptLoaderWrites(*layout, region, parts, base, mapped, expected);
    if (expected != mapped)
      return Result::kDifferent;
  }
  return Result::kSame;
}

// static
MappedImageCheck::Result MappedImageCheck::CheckProcess(
    HANDLE process,
    std::span<const uint8_t> file,
    Parts parts) {
  const QueryProcessFunction query = GetQueryProcessFunction();
  if (!query)
    return Result::kUnreadable;
  ProcessBasicInformation information = {};
  ULONG length = 0;
  const LONG status = query(process, kProcessBasicInformation, &information,
                            sizeof(information), &length);
  if (status == kStatusAccessDenied)
    return Result::kNoAccess;
  if (status < 0 || !information.peb)
    return Result::kUnreadable;
  const ProcessMemory memory(process);
  uint64_t base = 0;
  uint8_t base_bytes[sizeof(base)];
  if (!memory.Read(
          reinterpret_cast<uint64_t>(information.peb) + kPebImageBaseOffset,
          base_bytes)) {
    return memory.last_error() == ERROR_ACCESS_DENIED ? Result::kNoAccess
                                                      : Result::kUnreadable;
  }
  std::memcpy(&base, base_bytes, sizeof(base));
  return Check(memory, base, file, parts);
}

// static
MappedImageCheck::Result MappedImageCheck::CheckModule(
    HMODULE module,
    std::span<const uint8_t> file,
    Parts parts) {
  // Read as another process's memory would be: a page the loader left
  // unreadable fails the read rather than this process.
  const ProcessMemory memory(::GetCurrentProcess());
  return Check(memory, reinterpret_cast<uint64_t>(module), file, parts);
}

// static
const char* MappedImageCheck::Describe(Result result) {
  switch (result) {
    case Result::kSame:
      return "the image checked is mapped";
    case Result::kDifferent:
      return "another image is mapped";
    case Result::kUnreadable:
      return "the mapped image cannot be read";
    case Result::kNoAccess:
      return "the process may not be read";
    case Result::kMalformed:
      return "the file's layout is not one that is mapped as it reads";
  }
  return "";
}

}  // namespace installer

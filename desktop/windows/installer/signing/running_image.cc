#include "desktop/windows/installer/signing/running_image.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <utility>

#include "desktop/windows/installer/signing/pe_image.h"

namespace installer {

namespace {

// Offsets in the optional header, the same in PE32 and PE32+.
constexpr size_t kEntryPointOffset = 16;
constexpr size_t kSizeOfImageOffset = 56;
constexpr size_t kSizeOfHeadersOffset = 60;
constexpr size_t kCheckSumOffset = 64;
constexpr size_t kFieldSize = sizeof(uint32_t);
// What signing leaves as it was; it writes the checksum.
constexpr size_t kBuildOptionalHeaderFields[] = {kEntryPointOffset,
                                                 kSizeOfImageOffset};

// The headers of an image that take no part in its loading's changes: the
// loader moves the image base, never these.
struct BuildHeaders {
  std::span<const uint8_t> file_header;
  std::span<const uint8_t> optional_header;
  std::span<const uint8_t> section_table;
};

std::optional<BuildHeaders> ReadBuildHeaders(std::span<const uint8_t> image) {
  if (image.size() < sizeof(IMAGE_DOS_HEADER))
    return std::nullopt;
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof(dos));
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
    return std::nullopt;
  const size_t file_header_offset =
      static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD);
  if (file_header_offset + sizeof(IMAGE_FILE_HEADER) > image.size() ||
      std::memcmp(image.data() + dos.e_lfanew, "PE\0\0", sizeof(DWORD)) != 0) {
    return std::nullopt;
  }
  IMAGE_FILE_HEADER file_header;
  std::memcpy(&file_header, image.data() + file_header_offset,
              sizeof(file_header));
  const size_t optional_offset = file_header_offset + sizeof(file_header);
  const size_t sections_offset =
      optional_offset + file_header.SizeOfOptionalHeader;
  const size_t sections_end = sections_offset + file_header.NumberOfSections *
                                                    sizeof(IMAGE_SECTION_HEADER);
  if (file_header.SizeOfOptionalHeader < kCheckSumOffset + kFieldSize ||
      sections_end > image.size()) {
    return std::nullopt;
  }
  return BuildHeaders{
      image.subspan(file_header_offset, sizeof(file_header)),
      image.subspan(optional_offset, file_header.SizeOfOptionalHeader),
      image.subspan(sections_offset, sections_end - sections_offset)};
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// The mapped headers of a running program.
std::span<const uint8_t> GetRunningHeaders(const uint8_t* running) {
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, running, sizeof(dos));
  uint32_t size_of_headers = 0;
  std::memcpy(&size_of_headers,
              running + dos.e_lfanew + sizeof(DWORD) +
                  sizeof(IMAGE_FILE_HEADER) + kSizeOfHeadersOffset,
              sizeof(size_of_headers));
  return {running, size_of_headers};
}

// The loader maps the certificate-table entry unchanged, never the table:
// another signature put in its place must at least take the same bytes.
bool SameCertificateTableEntry(std::span<const uint8_t> file,
                               std::span<const uint8_t> mapped) {
  const std::optional<PeImage> on_disk = PeImage::Parse(file);
  const std::optional<PeImage> running = PeImage::Parse(mapped);
  return on_disk && running &&
         on_disk->certificate_table_offset() ==
             running->certificate_table_offset() &&
         on_disk->certificate_table_size() == running->certificate_table_size();
}

// Where the build identity lies in an image of section table
// `section_table`: its address in the mapped image and its offset in the
// file. None when the image carries none, or one outside the image or the
// file.
struct IdentityPlace {
  size_t address;
  size_t offset;
};

std::optional<IdentityPlace> FindIdentity(
    std::span<const uint8_t> section_table,
    uint32_t image_size,
    size_t file_size) {
  static_assert(sizeof(RunningImage::kIdentitySection) - 1 ==
                IMAGE_SIZEOF_SHORT_NAME);
  constexpr size_t kSize = RunningImage::kIdentitySize;
  for (size_t at = 0; at + sizeof(IMAGE_SECTION_HEADER) <= section_table.size();
       at += sizeof(IMAGE_SECTION_HEADER)) {
    IMAGE_SECTION_HEADER section;
    std::memcpy(&section, section_table.data() + at, sizeof(section));
    if (std::memcmp(section.Name, RunningImage::kIdentitySection,
                    IMAGE_SIZEOF_SHORT_NAME) != 0) {
      continue;
    }
    if (section.Misc.VirtualSize < kSize || section.SizeOfRawData < kSize ||
        image_size < kSize || section.VirtualAddress > image_size - kSize ||
        file_size < kSize || section.PointerToRawData > file_size - kSize) {
      return std::nullopt;
    }
    return IdentityPlace{section.VirtualAddress, section.PointerToRawData};
  }
  return std::nullopt;
}

// The build identity that `running` maps, the same bytes at the same place
// of `file`. Called once their section tables are shown to be the same.
bool SameIdentity(std::span<const uint8_t> file,
                  const uint8_t* running,
                  const BuildHeaders& mapped) {
  uint32_t image_size = 0;
  std::memcpy(&image_size, mapped.optional_header.data() + kSizeOfImageOffset,
              sizeof(image_size));
  const std::optional<IdentityPlace> place =
      FindIdentity(mapped.section_table, image_size, file.size());
  return place &&
         std::memcmp(running + place->address, file.data() + place->offset,
                     RunningImage::kIdentitySize) == 0;
}

bool SameField(const BuildHeaders& a, const BuildHeaders& b, size_t offset) {
  return SameBytes(a.optional_header.subspan(offset, kFieldSize),
                   b.optional_header.subspan(offset, kFieldSize));
}

// The headers of `file` and of the mapped `running`, when both read and
// are alike in all that signing leaves as it was, the identity aside.
std::optional<std::pair<BuildHeaders, BuildHeaders>> ReadAlikeHeaders(
    std::span<const uint8_t> file,
    const uint8_t* running) {
  const std::optional<BuildHeaders> on_disk = ReadBuildHeaders(file);
  const std::optional<BuildHeaders> mapped =
      ReadBuildHeaders(GetRunningHeaders(running));
  if (!on_disk || !mapped ||
      !SameBytes(on_disk->file_header, mapped->file_header) ||
      !SameBytes(on_disk->section_table, mapped->section_table) ||
      on_disk->optional_header.size() != mapped->optional_header.size()) {
    return std::nullopt;
  }
  for (size_t offset : kBuildOptionalHeaderFields) {
    if (!SameField(*on_disk, *mapped, offset))
      return std::nullopt;
  }
  return std::pair(*on_disk, *mapped);
}

}  // namespace

// static
bool RunningImage::IsSameBuild(std::span<const uint8_t> file,
                               const uint8_t* running) {
  const auto headers = ReadAlikeHeaders(file, running);
  return headers &&
         SameField(headers->first, headers->second, kCheckSumOffset) &&
         SameCertificateTableEntry(file, GetRunningHeaders(running)) &&
         SameIdentity(file, running, headers->second);
}

// static
bool RunningImage::IsBuildOf(std::span<const uint8_t> file,
                             const uint8_t* running) {
  const auto headers = ReadAlikeHeaders(file, running);
  return headers && SameIdentity(file, running, headers->second);
}

// static
bool RunningImage::IsOwnProgram(std::span<const uint8_t> file) {
  return IsSameBuild(file, OwnProgramImage());
}

// static
const uint8_t* RunningImage::OwnProgramImage() {
  return reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
}

// static
const uint8_t* RunningImage::OwnModuleImage() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnModuleImage),
                            &module)) {
    return nullptr;
  }
  return reinterpret_cast<const uint8_t*>(module);
}

// static
bool RunningImage::IsSigned(const uint8_t* running) {
  const std::optional<PeImage> image = PeImage::Parse(GetRunningHeaders(running));
  return image && image->has_certificate_table();
}

// static
bool RunningImage::IsOwnProgramSigned() {
  return IsSigned(OwnProgramImage());
}

}  // namespace installer

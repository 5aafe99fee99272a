#include "desktop/windows/installer/package_fetcher/protected_package.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "base/files/file_util.h"
#include "base/files/final_path.h"
#include "base/files/new_file_in_folder.h"
#include "base/files/resolved_entry.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/signature_verifier.h"

namespace installer {

namespace {

// What the front end writes beside the package for the run, and the
// package's installer reads from its own folder.
constexpr const wchar_t* kRunDataFiles[] = {
    kServerTrackingDataName,
    kPrefDefaultOverridesName,
    kInstallerPrefsIncludeName,
};

// Offsets in the optional header, the same in PE32 and PE32+.
constexpr size_t kEntryPointOffset = 16;
constexpr size_t kSizeOfImageOffset = 56;
constexpr size_t kSizeOfHeadersOffset = 60;
constexpr size_t kCheckSumOffset = 64;
constexpr size_t kFieldSize = sizeof(uint32_t);
constexpr size_t kComparedOptionalHeaderFields[] = {
    kEntryPointOffset, kSizeOfImageOffset, kCheckSumOffset};

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

// The mapped headers of this process's program.
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

// One of the run's data files, copied into `folder` when it is a plain
// file in `from`; a missing one is no failure.
void CarryRunDataFile(const base::FilePath& from,
                      const base::FilePath& from_final,
                      const base::FilePath& folder,
                      const wchar_t* name) {
  const base::FilePath source = from.Append(name);
  if (!base::PathExists(source))
    return;
  LockedFileView held;
  if (!held.Open(source)) {
    LOG(WARNING) << "Not carrying " << source.AsUTF8();
    return;
  }
  if (!base::NewFileInFolder::IsSamePlace(
          base::GetFinalPath(held.file_handle(), source.value()),
          from_final.Append(name).value())) {
    LOG(ERROR) << "Not carrying " << source.AsUTF8()
               << ": it is reached through a link";
    return;
  }
  const std::span<const uint8_t> bytes = held.bytes();
  if (bytes.size() > ProtectedPackage::kMaxRunDataSize) {
    LOG(ERROR) << "Not carrying " << source.AsUTF8() << ": " << bytes.size()
               << " bytes";
    return;
  }
  const int size = static_cast<int>(bytes.size());
  if (base::WriteBufferToFile(folder.Append(name),
                              reinterpret_cast<const char*>(bytes.data()),
                              size) != size) {
    PLOG(WARNING) << "Could not carry " << source.AsUTF8();
  }
}

}  // namespace

ProtectedPackage::ProtectedPackage()
    : folder_(PrivateTempFolder::Owners::kAdministrators) {}

ProtectedPackage::~ProtectedPackage() = default;

// static
bool ProtectedPackage::IsSignedBuild(const uint8_t* running) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(running);
  const auto* headers =
      reinterpret_cast<const IMAGE_NT_HEADERS*>(running + dos->e_lfanew);
  return headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]
             .Size != 0;
}

// static
bool ProtectedPackage::IsSameBuild(std::span<const uint8_t> file,
                                   const uint8_t* running) {
  const std::optional<BuildHeaders> on_disk = ReadBuildHeaders(file);
  const std::optional<BuildHeaders> mapped =
      ReadBuildHeaders(GetRunningHeaders(running));
  if (!on_disk || !mapped ||
      !SameBytes(on_disk->file_header, mapped->file_header) ||
      !SameBytes(on_disk->section_table, mapped->section_table) ||
      on_disk->optional_header.size() != mapped->optional_header.size()) {
    return false;
  }
  for (size_t offset : kComparedOptionalHeaderFields) {
    if (!SameBytes(on_disk->optional_header.subspan(offset, kFieldSize),
                   mapped->optional_header.subspan(offset, kFieldSize))) {
      return false;
    }
  }
  return true;
}

ProtectedPackage::Result ProtectedPackage::Unpack(
    const base::FilePath& downloaded) {
  base::FilePath program;
  if (!base::GetPathForKey(base::kExeFile, &program)) {
    LOG(ERROR) << "Cannot find this process's program";
    return Result::kFailed;
  }
  const Result result = UnpackFile(program, Source::kOwnProgram);
  if (result != Result::kNoPackage || !base::PathExists(downloaded))
    return result;
  return UnpackFile(downloaded, Source::kDownload);
}

ProtectedPackage::Result ProtectedPackage::UnpackFile(
    const base::FilePath& file,
    Source source) {
  // Held from here until the package is out: the file can be neither
  // written nor replaced nor moved, nor a folder above it renamed, while it
  // is open, so every read below by its final path reads the checked bytes.
  LockedFileView held;
  if (!held.Open(file))
    return Result::kFailed;
  const auto* running =
      reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
  if (source == Source::kOwnProgram && !IsSameBuild(held.bytes(), running)) {
    LOG(ERROR) << "Refusing " << file.AsUTF8()
               << ": it is not the program that runs";
    return Result::kRefused;
  }
  std::string report;
  if (IsSignedBuild(running) && !VerifyHeldFileSignature(held, file, &report)) {
    LOG(ERROR) << "Refusing " << file.AsUTF8()
               << ": its signature does not hold: " << report;
    return Result::kRefused;
  }
  const base::FilePath path(base::GetFinalPath(held.file_handle(), file.value()));
  if (path.empty())
    return Result::kFailed;
  const Result result = UnpackHeld(path, source);
  if (result != Result::kUnpacked || source == Source::kOwnProgram)
    return result;
  // Another signed package than the one the front end checked may lie
  // there: an older one must not be installed with this one's rights.
  if (CheckDownloadedVersion(folder().Append(kPackageInstallerName),
                             DownloadedProgram::kPackageInstaller,
                             nullptr) != VersionCheck::kPassed) {
    LOG(ERROR) << "Refusing " << file.AsUTF8() << ": its version";
    return Result::kRefused;
  }
  return Result::kUnpacked;
}

ProtectedPackage::Result ProtectedPackage::UnpackHeld(
    const base::FilePath& path,
    Source source) {
  uint64_t offset = 0;
  uint64_t length = 0;
  if (!PayloadReader(path).GetPackageRange(&offset, &length)) {
    if (source == Source::kOwnProgram)
      return Result::kNoPackage;
    LOG(ERROR) << "No package in " << path.AsUTF8();
    return Result::kFailed;
  }
  if (!folder_.Create()) {
    LOG(ERROR) << "Could not make the protected package folder";
    return Result::kFailed;
  }
  LOG(INFO) << "Made " << folder().AsUTF8() << " with the access list "
            << base::WideToUtf8(PrivateTempFolder::GetAccessListText(
                   PrivateTempFolder::Owners::kAdministrators));
  LOG(INFO) << "Unpacking the package of " << path.AsUTF8() << " into "
            << folder().AsUTF8();
  PackageUnpacker unpacker;
  if (const DWORD error = unpacker.OpenArchive(path, offset, length)) {
    LOG(ERROR) << "Could not open the package: " << error;
    return Result::kFailed;
  }
  const PackageUnpacker::Result result = unpacker.UnPack(folder());
  if (!result.ok()) {
    LOG(ERROR) << "Unpacking the package failed at stage " << result.stage
               << ": " << result.error;
    return Result::kFailed;
  }
  return Result::kUnpacked;
}

// static
void ProtectedPackage::CarryRunData(const base::FilePath& from,
                                    const base::FilePath& to) {
  const base::FilePath from_final = base::ResolvedEntry::GetFinalPath(from);
  if (from_final.empty())
    return;
  for (const wchar_t* name : kRunDataFiles)
    CarryRunDataFile(from, from_final, to, name);
}

}  // namespace installer

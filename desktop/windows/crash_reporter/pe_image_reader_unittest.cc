#include "desktop/windows/crash_reporter/pe_image_reader.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/module_file_info.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr size_t kPageSize = 4096;

// A module of the system that carries exports and a version resource; the
// system's loader and version API are what the reader is checked against.
constexpr wchar_t kModuleName[] = L"version.dll";

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  const DWORD length =
      ::GetModuleFileNameW(::GetModuleHandleW(kModuleName), path, MAX_PATH);
  return std::wstring(path, length);
}

std::vector<uint8_t> ReadModuleFile() {
  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(base::FilePath(ModulePath()), &contents));
  return std::vector<uint8_t>(contents.begin(), contents.end());
}

std::string VersionString(const wchar_t* name) {
  const std::wstring path = ModulePath();
  std::vector<uint8_t> info(::GetFileVersionInfoSizeW(path.c_str(), nullptr));
  if (info.empty() || !::GetFileVersionInfoW(path.c_str(), 0,
                                             static_cast<DWORD>(info.size()),
                                             info.data())) {
    return std::string();
  }
  WORD* translation = nullptr;
  UINT size = 0;
  if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &size) ||
      size < 4) {
    return std::string();
  }
  const std::wstring query = base::FormatWideString(
      L"\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name);
  wchar_t* value = nullptr;
  if (!::VerQueryValueW(info.data(), query.c_str(),
                        reinterpret_cast<void**>(&value), &size)) {
    return std::string();
  }
  return base::WideToUtf8(value);
}

// Bytes followed by a page that cannot be read: a read past their end is an
// access violation, which fails the test run.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t capacity) {
    const size_t pages = (capacity + kPageSize - 1) / kPageSize + 1;
    memory_ = static_cast<uint8_t*>(::VirtualAlloc(
        nullptr, pages * kPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    end_ = memory_ + (pages - 1) * kPageSize;
    DWORD old = 0;
    ::VirtualProtect(end_, kPageSize, PAGE_NOACCESS, &old);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  ~GuardedBytes() { ::VirtualFree(memory_, 0, MEM_RELEASE); }

  // `bytes` placed to end just before the guard page.
  const uint8_t* Place(const std::vector<uint8_t>& bytes, size_t size) {
    uint8_t* start = end_ - size;
    std::memcpy(start, bytes.data(), size);
    return start;
  }

 private:
  uint8_t* memory_ = nullptr;
  uint8_t* end_ = nullptr;
};

struct Parsed {
  bool valid = false;
  uint32_t timestamp = 0;
  uint64_t code_end = 0;
  bool has_export_name = false;
  std::string export_name;
  PeImageReader::VersionResult version_result =
      PeImageReader::VersionResult::kNoResourceDirectory;
  std::string original_file_name;
  std::string file_version;
};

Parsed Parse(const uint8_t* data, size_t size) {
  const PeImageReader reader(data, size);
  Parsed parsed;
  parsed.valid = reader.IsValid();
  parsed.timestamp = reader.timestamp();
  parsed.code_end = reader.code_end();
  parsed.has_export_name = reader.GetExportName(&parsed.export_name);
  parsed.version_result = reader.GetVersionStrings(&parsed.original_file_name,
                                                   &parsed.file_version);
  return parsed;
}

TEST(PeImageReaderTest, ReadsWhatTheLoaderAndTheVersionApiSee) {
  const std::vector<uint8_t> file = ReadModuleFile();
  const Parsed parsed = Parse(file.data(), file.size());

  const auto* loaded =
      reinterpret_cast<const uint8_t*>(::GetModuleHandleW(kModuleName));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(loaded);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(loaded + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& exports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* export_directory =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(loaded +
                                                      exports.VirtualAddress);

  ASSERT_TRUE(parsed.valid);
  EXPECT_EQ(parsed.timestamp, nt->FileHeader.TimeDateStamp);
  EXPECT_EQ(parsed.code_end, uint64_t{nt->OptionalHeader.BaseOfCode} +
                                 nt->OptionalHeader.SizeOfCode);
  ASSERT_TRUE(parsed.has_export_name);
  EXPECT_EQ(parsed.export_name,
            reinterpret_cast<const char*>(loaded + export_directory->Name));
  ASSERT_EQ(parsed.version_result, PeImageReader::VersionResult::kFound);
  EXPECT_FALSE(parsed.file_version.empty());
  EXPECT_EQ(parsed.file_version, VersionString(L"FileVersion"));
  EXPECT_EQ(parsed.original_file_name, VersionString(L"OriginalFilename"));
}

// Every prefix of the headers, and a spread of prefixes of the rest, read
// against a guard page: never past the end, and what the headers say is
// read the same as from the whole file once they are there.
TEST(PeImageReaderTest, TruncatedFilesAreReadWithinTheirBytes) {
  const std::vector<uint8_t> file = ReadModuleFile();
  const Parsed whole = Parse(file.data(), file.size());
  GuardedBytes guarded(file.size());
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 2 * kPageSize; ++length)
    lengths.push_back(length);
  for (size_t length = 2 * kPageSize; length < file.size(); length += 997)
    lengths.push_back(length);
  for (size_t cut = 1; cut <= 64; ++cut)
    lengths.push_back(file.size() - cut);

  for (size_t length : lengths) {
    const Parsed parsed = Parse(guarded.Place(file, length), length);
    if (parsed.valid) {
      EXPECT_EQ(parsed.timestamp, whole.timestamp) << length;
      EXPECT_EQ(parsed.code_end, whole.code_end) << length;
    }
    if (parsed.has_export_name) {
      EXPECT_EQ(parsed.export_name.substr(0, whole.export_name.size()),
                whole.export_name.substr(0, parsed.export_name.size()))
          << length;
    }
  }
}

// Bytes of the headers and of the resources changed at random (the same
// sequence every run) lead anywhere in the file or out of it.
TEST(PeImageReaderTest, CorruptedFilesAreReadWithinTheirBytes) {
  std::vector<uint8_t> file = ReadModuleFile();
  const PeImageReader reader(file.data(), file.size());
  ASSERT_TRUE(reader.IsValid());
  GuardedBytes guarded(file.size());
  std::mt19937 random(20240521);
  int found_versions = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> corrupted = file;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i) {
      // Mostly the headers, where every offset comes from.
      const size_t area = random() % 4 == 0 ? corrupted.size() : 2 * kPageSize;
      corrupted[random() % area] = static_cast<uint8_t>(random());
    }
    const Parsed parsed =
        Parse(guarded.Place(corrupted, corrupted.size()), corrupted.size());
    if (parsed.version_result == PeImageReader::VersionResult::kFound)
      ++found_versions;
  }
  // Most single changes leave the resource directory alone.
  EXPECT_GT(found_versions, 0);
}

template <typename T>
void Put(std::vector<uint8_t>* image, size_t offset, T value) {
  std::memcpy(image->data() + offset, &value, sizeof(value));
}

// A PE32+ image whose resource section comes after `sections_before` empty
// sections and whose root resource directory holds `entries` entries (half
// named, half by id, the version type's last); 65,535 sections and 131,070
// entries make the 3.7 MB module that once took seconds to read.
std::vector<uint8_t> CraftedModule(uint32_t sections_before, uint32_t entries) {
  constexpr size_t kPe = 0x40;
  constexpr size_t kOptional = kPe + 4 + 20;
  constexpr size_t kOptionalSize = 240;
  constexpr size_t kSections = kOptional + kOptionalSize;
  constexpr uint32_t kResourcesRva = 0x1000;
  const uint32_t section_count = sections_before + 1;
  const size_t resources = kSections + size_t{section_count} * 40;
  std::vector<uint8_t> image(resources + 16 + size_t{entries} * 8);
  Put<uint16_t>(&image, 0, 0x5A4D);
  Put<uint32_t>(&image, 0x3C, kPe);
  Put<uint32_t>(&image, kPe, 0x4550);
  Put<uint16_t>(&image, kPe + 4, 0x8664);
  Put<uint16_t>(&image, kPe + 6, static_cast<uint16_t>(section_count));
  Put<uint32_t>(&image, kPe + 8, 0x12345678);
  Put<uint16_t>(&image, kPe + 20, kOptionalSize);
  Put<uint16_t>(&image, kOptional, 0x20B);
  Put<uint32_t>(&image, kOptional + 108, 16);
  Put<uint32_t>(&image, kOptional + 112 + 2 * 8, kResourcesRva);
  Put<uint32_t>(&image, kOptional + 112 + 2 * 8 + 4, 16 + entries * 8);
  for (uint32_t i = 0; i < sections_before; ++i)
    Put<uint32_t>(&image, kSections + i * 40 + 12, 0x100000 + i * 0x1000);
  const size_t last = kSections + size_t{sections_before} * 40;
  Put<uint32_t>(&image, last + 8, 16 + entries * 8);
  Put<uint32_t>(&image, last + 12, kResourcesRva);
  Put<uint32_t>(&image, last + 16, 16 + entries * 8);
  Put<uint32_t>(&image, last + 20, static_cast<uint32_t>(resources));
  Put<uint16_t>(&image, resources + 12, static_cast<uint16_t>(entries / 2));
  Put<uint16_t>(&image, resources + 14,
                static_cast<uint16_t>(entries - entries / 2));
  for (uint32_t i = 0; i < entries; ++i) {
    const bool named = i < entries / 2;
    const uint32_t id = i + 1 == entries ? 16 : 100 + i;
    Put<uint32_t>(&image, resources + 16 + i * 8, named ? 0x80000000 : id);
    // Every subdirectory points back at the root.
    Put<uint32_t>(&image, resources + 16 + i * 8 + 4, 0x80000000);
  }
  return image;
}

TEST(PeImageReaderTest, CraftedModulesAreReadWithBoundedWork) {
  // Without bounds each of these took sections x entries steps; the
  // answers are what the bounds leave within reach (a hang shows as the
  // test run's timeout).
  const struct {
    uint32_t sections_before;
    uint32_t entries;
    PeImageReader::VersionResult expected;
  } kCases[] = {
      {65534, 131070, PeImageReader::VersionResult::kNoResourceDirectory},
      {0, 131070, PeImageReader::VersionResult::kNoVersionResource},
      {65534, 2, PeImageReader::VersionResult::kNoResourceDirectory},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(base::FormatString("%u sections, %u entries",
                                    test.sections_before, test.entries));
    const std::vector<uint8_t> image =
        CraftedModule(test.sections_before, test.entries);
    GuardedBytes guarded(image.size());
    const Parsed parsed = Parse(guarded.Place(image, image.size()),
                                image.size());
    EXPECT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.timestamp, 0x12345678u);
    EXPECT_EQ(parsed.version_result, test.expected);
  }
}

TEST(PeImageReaderTest, VersionStringValueStopsAtItsBlock) {
  // A String block: wLength 36 bytes, wValueLength 40 units (more than the
  // block holds), key "FileVersion", padding, value "1.2" without its NUL.
  std::vector<uint16_t> units = {36, 40, 1};
  for (char c : std::string("FileVersion"))
    units.push_back(static_cast<uint16_t>(c));
  units.push_back(0);
  units.push_back(0);  // Padding to 4 bytes from the block's start.
  units.insert(units.end(), {'1', '.', '2'});
  units.insert(units.end(), {'X', 'Y', 'Z'});  // The next block.
  const auto* bytes = reinterpret_cast<const uint8_t*>(units.data());
  EXPECT_EQ(FindVersionString(bytes, units.size() * 2, "FILEVERSION"), "1.");
  EXPECT_EQ(FindVersionString(bytes, units.size() * 2, "ORIGINALFILENAME"), "");
}

TEST(ModuleFileInfoTest, UnreadableFilesLeaveOnlyWhatTheProcessSaid) {
  const base::ScopedTempFolder folder;
  const std::vector<uint8_t> file = ReadModuleFile();
  const base::FilePath empty = folder.path().Append(L"empty.dll");
  const base::FilePath headers_only = folder.path().Append(L"cut.dll");
  ASSERT_EQ(0, base::WriteBufferToFile(empty, "", 0));
  ASSERT_EQ(1024, base::WriteBufferToFile(
                      headers_only, reinterpret_cast<const char*>(file.data()),
                      1024));
  struct {
    const base::FilePath path;
    const wchar_t* name;
    const char* expected_name;
    bool has_timestamp;
  } const kCases[] = {
      {folder.path().Append(L"missing.dll"), L"missing.dll", "missing.dll",
       false},
      {empty, L"empty.dll", "empty.dll", false},
      // No name from the process: the export directory lies past the cut,
      // so the name comes from the mapped file.
      {headers_only, L"", "cut.dll", true},
  };
  for (const auto& test : kCases) {
    const auto module =
        ModuleFileInfo::Open(test.name, test.path.value(), 0x7FF600000000, 4096);
    EXPECT_STREQ(module->GetName(), test.expected_name);
    EXPECT_EQ(module->GetBase(), 0x7FF600000000u);
    EXPECT_EQ(module->GetSize(), 4096u);
    EXPECT_STREQ(module->GetVersion(), "");
    EXPECT_EQ(module->GetTimestamp() != 0, test.has_timestamp)
        << test.expected_name;
  }
}

}  // namespace
}  // namespace installer

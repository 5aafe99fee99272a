#include "desktop/windows/installer/signing/mapped_image_check.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/process/suspended_child.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/test_programs.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Parts = MappedImageCheck::Parts;
using Result = MappedImageCheck::Result;

using test_programs::BesideTests;
using test_programs::ProcessChildTool;

std::vector<uint8_t> ReadBytes(const base::FilePath& path) {
  std::string bytes;
  EXPECT_TRUE(base::ReadFileToString(path, &bytes)) << path.AsUTF8();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The layout of a PE32+ file, as the tests change it.
struct FileLayout {
  size_t file_header = 0;
  size_t optional_header = 0;
  std::vector<IMAGE_SECTION_HEADER> sections;
};

FileLayout ReadFileLayout(const std::vector<uint8_t>& file) {
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, file.data(), sizeof(dos));
  FileLayout layout;
  layout.file_header = static_cast<size_t>(dos.e_lfanew) + sizeof(DWORD);
  IMAGE_FILE_HEADER header;
  std::memcpy(&header, file.data() + layout.file_header, sizeof(header));
  layout.optional_header = layout.file_header + sizeof(header);
  const size_t table = layout.optional_header + header.SizeOfOptionalHeader;
  layout.sections.resize(header.NumberOfSections);
  std::memcpy(layout.sections.data(), file.data() + table,
              layout.sections.size() * sizeof(IMAGE_SECTION_HEADER));
  return layout;
}

const IMAGE_SECTION_HEADER& FirstSection(const FileLayout& layout,
                                         bool writable) {
  for (const IMAGE_SECTION_HEADER& section : layout.sections) {
    if (((section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0) == writable &&
        section.SizeOfRawData != 0) {
      return section;
    }
  }
  ADD_FAILURE() << "no such section";
  return layout.sections.front();
}

// A process started from the child tool's file, suspended: the loader has
// mapped its image and nothing else has touched it. The file's bytes, as
// changed by each case, are held against what was mapped.
TEST(MappedImageCheckTest, SuspendedProcessIsTheFileItWasStartedFrom) {
  const base::FilePath tool =
      ProcessChildTool();
  const std::vector<uint8_t> original = ReadBytes(tool);
  ASSERT_GT(original.size(), 0x1000u);
  const FileLayout layout = ReadFileLayout(original);
  const IMAGE_SECTION_HEADER& code = FirstSection(layout, false);
  using Change = std::function<void(std::vector<uint8_t>*)>;
  const auto flip = [](size_t offset) -> Change {
    return [offset](std::vector<uint8_t>* file) { (*file)[offset] ^= 0x01; };
  };
  const struct {
    const char* name;
    Change change;
    DWORD access;
    Result expected;
  } kCases[] = {
      {"its own file", [](std::vector<uint8_t>*) {}, PROCESS_ALL_ACCESS,
       Result::kSame},
      {"a byte of its code",
       flip(code.PointerToRawData + code.SizeOfRawData / 2),
       PROCESS_ALL_ACCESS, Result::kDifferent},
      {"a byte of its headers",
       flip(layout.file_header + offsetof(IMAGE_FILE_HEADER, TimeDateStamp)),
       PROCESS_ALL_ACCESS, Result::kDifferent},
      {"cut short",
       [](std::vector<uint8_t>* file) { file->resize(0x100); },
       PROCESS_ALL_ACCESS, Result::kMalformed},
      // What an unelevated process holds of an elevated one.
      {"a handle that may not read", [](std::vector<uint8_t>*) {},
       PROCESS_QUERY_LIMITED_INFORMATION, Result::kNoAccess},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    base::SuspendedChild suspended;
    base::ProcessLaunchOptions options;
    options.start_hidden = true;
    options.suspended_child = &suspended;
    const base::Process child = base::LaunchProcess(
        L"\"" + tool.value() + L"\" --exit=0", options);
    ASSERT_TRUE(child.IsValid());
    HANDLE given = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), child.Handle(),
                                  ::GetCurrentProcess(), &given,
                                  test_case.access, FALSE, 0));
    const base::win::ScopedHandle handle(given);
    std::vector<uint8_t> file = original;
    test_case.change(&file);

    EXPECT_EQ(test_case.expected,
              MappedImageCheck::CheckProcess(handle.Get(), file,
                                             Parts::kWholeImage));
    suspended.End(0);
    child.WaitForExit(nullptr);
  }
}

// This process's memory as the check reads it, with one byte read changed,
// or a range that cannot be read.
class AlteredMemory : public MappedImageCheck::Memory {
 public:
  enum class Alteration { kNone, kByteChanged, kUnreadable };
  AlteredMemory(Alteration alteration, uint64_t address)
      : alteration_(alteration), address_(address) {}

  bool Read(uint64_t address, std::span<uint8_t> bytes) const override {
    const bool covers =
        address_ >= address && address_ - address < bytes.size();
    if (covers && alteration_ == Alteration::kUnreadable)
      return false;
    SIZE_T read = 0;
    if (!::ReadProcessMemory(::GetCurrentProcess(),
                             reinterpret_cast<const void*>(address),
                             bytes.data(), bytes.size(), &read) ||
        read != bytes.size()) {
      return false;
    }
    if (covers && alteration_ == Alteration::kByteChanged)
      bytes[address_ - address] ^= 0x01;
    return true;
  }

 private:
  const Alteration alteration_;
  const uint64_t address_;
};

// The real loader maps a library where its preferred base is taken: it
// moves the image by the file's base relocations, which the check applies
// too. Mapped without being entered, nothing of it has run; a byte a
// library's code would write counts only when the whole image is held to
// the file.
TEST(MappedImageCheckTest, MovedLibraryIsItsFileWithItsRelocationsApplied) {
  const base::FilePath library_path =
      BesideTests(L"installer\\planted_library.dll");
  const std::vector<uint8_t> original = ReadBytes(library_path);
  ASSERT_GT(original.size(), 0x1000u);
  const FileLayout layout = ReadFileLayout(original);
  IMAGE_OPTIONAL_HEADER64 optional;
  std::memcpy(&optional, original.data() + layout.optional_header,
              sizeof(optional));
  // Its preferred place taken, the loader must move it.
  void* taken = ::VirtualAlloc(reinterpret_cast<void*>(optional.ImageBase),
                               optional.SizeOfImage, MEM_RESERVE,
                               PAGE_NOACCESS);
  const HMODULE library = ::LoadLibraryExW(library_path.value().c_str(),
                                           nullptr,
                                           DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_TRUE(library) << ::GetLastError();
  const auto base = reinterpret_cast<uint64_t>(library);
  ASSERT_NE(base, optional.ImageBase);
  const uint64_t data = base + FirstSection(layout, true).VirtualAddress;
  const uint64_t code = base + FirstSection(layout, false).VirtualAddress;
  std::vector<uint8_t> unmoved = original;
  const size_t relocation_entry =
      layout.optional_header + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
      IMAGE_DIRECTORY_ENTRY_BASERELOC * sizeof(IMAGE_DATA_DIRECTORY);
  std::memset(unmoved.data() + relocation_entry, 0,
              sizeof(IMAGE_DATA_DIRECTORY));
  using Alteration = AlteredMemory::Alteration;
  const struct {
    const char* name;
    const std::vector<uint8_t>* file;
    Alteration alteration;
    uint64_t address;
    Parts parts;
    Result expected;
  } kCases[] = {
      {"as mapped", &original, Alteration::kNone, 0, Parts::kWholeImage,
       Result::kSame},
      {"its relocations not applied", &unmoved, Alteration::kNone, 0,
       Parts::kWholeImage, Result::kDifferent},
      {"its data written, whole image", &original, Alteration::kByteChanged,
       data, Parts::kWholeImage, Result::kDifferent},
      {"its data written, unwritten parts", &original,
       Alteration::kByteChanged, data, Parts::kUnwrittenSections,
       Result::kSame},
      {"its code changed, unwritten parts", &original,
       Alteration::kByteChanged, code + 7, Parts::kUnwrittenSections,
       Result::kDifferent},
      {"its code unreadable", &original, Alteration::kUnreadable, code,
       Parts::kWholeImage, Result::kUnreadable},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    const AlteredMemory memory(test_case.alteration, test_case.address);
    EXPECT_EQ(test_case.expected,
              MappedImageCheck::Check(memory, base, *test_case.file,
                                      test_case.parts));
  }
  EXPECT_EQ(Result::kSame,
            MappedImageCheck::CheckModule(library, original,
                                          Parts::kUnwrittenSections));
  ::FreeLibrary(library);
  if (taken)
    ::VirtualFree(taken, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/signing/running_image.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/test/mapped_program.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::vector<uint8_t> ReadOwnProgram() {
  base::FilePath program;
  EXPECT_TRUE(base::GetPathForKey(base::kExeFile, &program));
  std::string bytes;
  EXPECT_TRUE(base::ReadFileToString(program, &bytes));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

size_t HeadersOffset(const std::vector<uint8_t>& image) {
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof(dos));
  return static_cast<size_t>(dos.e_lfanew);
}

// This program's build identity, as cmake/build_identity.cc defines it.
extern "C" const uint8_t tarvo_build_identity[RunningImage::kIdentitySize];

// Another build whose headers are this one's to the byte: only the
// identity differs.
void MakeOtherBuild(std::vector<uint8_t>* image) {
  const auto identity =
      std::ranges::search(*image, tarvo_build_identity).begin();
  ASSERT_NE(identity, image->end());
  identity[5] ^= 0x01;
}

// The loader's own mapping of this test program is the peer: its file, as
// is, is the build that runs; each change below makes another build, or no
// image at all, except the image base, which the loader may move. Another
// signature put in the file's certificate table must take its very place.
TEST(RunningImageTest, OnlyTheRunningProgramsFileIsTheSameBuild) {
  using Change = std::function<void(std::vector<uint8_t>*)>;
  const size_t nt = HeadersOffset(ReadOwnProgram());
  const size_t file_header = nt + sizeof(DWORD);
  const size_t optional = file_header + sizeof(IMAGE_FILE_HEADER);
  const size_t sections = optional + sizeof(IMAGE_OPTIONAL_HEADER64);
  const size_t certificate_entry =
      optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
      IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
  const auto flip = [](size_t offset) {
    return [offset](std::vector<uint8_t>* image) { (*image)[offset] ^= 0x01; };
  };
  const struct {
    const char* name;
    Change change;
    bool same;
    // Of the same build however signed (IsBuildOf): signing writes the
    // checksum and the certificate table's entry.
    bool build;
  } kCases[] = {
      {"unchanged", [](std::vector<uint8_t>*) {}, true, true},
      {"image base moved",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase) + 2),
       true, true},
      {"link time",
       flip(file_header + offsetof(IMAGE_FILE_HEADER, TimeDateStamp)), false,
       false},
      {"entry point",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, AddressOfEntryPoint)),
       false, false},
      {"image size",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage) + 1),
       false, false},
      {"checksum",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum)), false,
       true},
      {"another build of the same headers", &MakeOtherBuild, false, false},
      {"certificate table's place", flip(certificate_entry), false, true},
      {"certificate table's size", flip(certificate_entry + 4), false, true},
      {"a section's size",
       flip(sections + offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) + 1),
       false, false},
      {"cut inside the section table",
       [sections](std::vector<uint8_t>* image) { image->resize(sections + 8); },
       false, false},
      {"no DOS header", [](std::vector<uint8_t>* image) { image->resize(10); },
       false, false},
      {"headers past the end",
       [](std::vector<uint8_t>* image) {
         const LONG beyond = 0x7ffffff0;
         std::memcpy(image->data() + offsetof(IMAGE_DOS_HEADER, e_lfanew),
                     &beyond, sizeof(beyond));
       },
       false, false},
  };
  const auto* running =
      reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    std::vector<uint8_t> image = ReadOwnProgram();
    test.change(&image);
    EXPECT_EQ(RunningImage::IsSameBuild(image, running), test.same);
    EXPECT_EQ(RunningImage::IsBuildOf(image, running), test.build);
  }
}

// `image` carrying a certificate table of `filler` bytes at its end, as
// signing appends one: what is in it is the signature check's to judge.
std::vector<uint8_t> Signed(std::vector<uint8_t> image, uint8_t filler) {
  const size_t certificate_entry =
      HeadersOffset(image) + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER) +
      offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
      IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
  image.resize((image.size() + 7) / 8 * 8);
  const IMAGE_DATA_DIRECTORY table = {static_cast<DWORD>(image.size()), 512};
  std::memcpy(image.data() + certificate_entry, &table, sizeof(table));
  image.resize(table.VirtualAddress + table.Size, filler);
  // Its header: the length, revision 2.0, a PKCS #7 signature.
  const uint32_t header[] = {table.Size, 0x00020200};
  std::memcpy(image.data() + table.VirtualAddress, header, sizeof(header));
  return image;
}

// A signed program running, mapped by the loader from its signed file: its
// own file is its build, and so is a copy of it signed again by someone
// else (whose signature the check beside this one refuses); another build
// of the very same headers, signed alike, is not, nor is its file unsigned.
// A copy that carries a payload before its signature (a full installer
// holding its package) is of its build, though not its file.
TEST(RunningImageTest, SignedProgramsBuildIsKnownByItsIdentity) {
  const std::vector<uint8_t> unsigned_file = ReadOwnProgram();
  const std::vector<uint8_t> signed_file = Signed(unsigned_file, 0x11);
  std::vector<uint8_t> other_build = unsigned_file;
  MakeOtherBuild(&other_build);
  base::ScopedTempFolder folder;
  const base::FilePath running_file = folder.path().Append(L"running.exe");
  ASSERT_TRUE(base::WriteBufferToFile(
      running_file, reinterpret_cast<const char*>(signed_file.data()),
      static_cast<int>(signed_file.size())));
  const MappedProgram running(running_file);
  ASSERT_NE(running.image(), nullptr) << ::GetLastError();
  const auto carrying_payload = [](std::vector<uint8_t> image) {
    image.resize(image.size() + 4096, 0x5a);
    return image;
  };
  const struct {
    const char* name;
    std::vector<uint8_t> file;
    bool same;
    bool build;
  } kCases[] = {
      {"its own file", signed_file, true, true},
      {"signed again by another", Signed(unsigned_file, 0x22), true, true},
      {"another build of the same headers, signed alike",
       Signed(other_build, 0x11), false, false},
      {"its file unsigned", unsigned_file, false, true},
      {"carrying a payload, signed alike",
       Signed(carrying_payload(unsigned_file), 0x11), false, true},
      {"another build carrying a payload",
       Signed(carrying_payload(other_build), 0x11), false, false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    EXPECT_EQ(RunningImage::IsSameBuild(test.file, running.image()),
              test.same);
    EXPECT_EQ(RunningImage::IsBuildOf(test.file, running.image()),
              test.build);
  }
}

}  // namespace
}  // namespace installer

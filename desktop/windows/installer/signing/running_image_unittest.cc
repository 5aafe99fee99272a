#include "desktop/windows/installer/signing/running_image.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
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
  } kCases[] = {
      {"unchanged", [](std::vector<uint8_t>*) {}, true},
      {"image base moved",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase) + 2),
       true},
      {"link time",
       flip(file_header + offsetof(IMAGE_FILE_HEADER, TimeDateStamp)), false},
      {"entry point",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, AddressOfEntryPoint)),
       false},
      {"image size",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfImage) + 1),
       false},
      {"checksum",
       flip(optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum)), false},
      {"certificate table's place", flip(certificate_entry), false},
      {"certificate table's size", flip(certificate_entry + 4), false},
      {"a section's size",
       flip(sections + offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) + 1),
       false},
      {"cut inside the section table",
       [sections](std::vector<uint8_t>* image) { image->resize(sections + 8); },
       false},
      {"no DOS header", [](std::vector<uint8_t>* image) { image->resize(10); },
       false},
      {"headers past the end",
       [](std::vector<uint8_t>* image) {
         const LONG beyond = 0x7ffffff0;
         std::memcpy(image->data() + offsetof(IMAGE_DOS_HEADER, e_lfanew),
                     &beyond, sizeof(beyond));
       },
       false},
  };
  const auto* running =
      reinterpret_cast<const uint8_t*>(::GetModuleHandleW(nullptr));
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.name);
    std::vector<uint8_t> image = ReadOwnProgram();
    test.change(&image);
    EXPECT_EQ(RunningImage::IsSameBuild(image, running), test.same);
  }
}

}  // namespace
}  // namespace installer

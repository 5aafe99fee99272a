#include "desktop/windows/installer/package_fetcher/protected_package.h"

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/product/package_file_names.h"
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
// image at all, except the image base, which the loader may move.
TEST(ProtectedPackageTest, OnlyTheRunningProgramsFileIsTheSameBuild) {
  using Change = std::function<void(std::vector<uint8_t>*)>;
  const size_t nt = HeadersOffset(ReadOwnProgram());
  const size_t file_header = nt + sizeof(DWORD);
  const size_t optional = file_header + sizeof(IMAGE_FILE_HEADER);
  const size_t sections = optional + sizeof(IMAGE_OPTIONAL_HEADER64);
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
    EXPECT_EQ(ProtectedPackage::IsSameBuild(image, running), test.same);
  }
}

TEST(ProtectedPackageTest, ProgramWithoutPackageTakesOnlyADownloadedOne) {
  base::ScopedTempFolder folder;
  base::FilePath own_program;
  ASSERT_TRUE(base::GetPathForKey(base::kExeFile, &own_program));
  const base::FilePath without_package = folder.path().Append(L"download.exe");
  ASSERT_TRUE(base::CopyFileChecked(own_program, without_package));
  const struct {
    base::FilePath downloaded;
    ProtectedPackage::Result result;
  } kCases[] = {
      {folder.path().Append(L"missing.exe"),
       ProtectedPackage::Result::kNoPackage},
      {without_package, ProtectedPackage::Result::kFailed},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.downloaded.AsUTF8());
    ProtectedPackage package;
    EXPECT_EQ(package.Unpack(test.downloaded), test.result);
    EXPECT_TRUE(package.folder().empty());
  }
}

void WriteFile(const base::FilePath& path, const std::string& data) {
  ASSERT_EQ(base::WriteBufferToFile(path, data.data(),
                                    static_cast<int>(data.size())),
            static_cast<int>(data.size()));
}

std::string ReadFile(const base::FilePath& path) {
  std::string data;
  return base::ReadFileToString(path, &data) ? data : "<missing>";
}

TEST(ProtectedPackageTest, RunDataIsCarriedWithinItsBound) {
  base::ScopedTempFolder from;
  base::ScopedTempFolder to;
  const std::string too_large(ProtectedPackage::kMaxRunDataSize + 1, 'x');
  WriteFile(from.path().Append(kServerTrackingDataName), "tracking");
  WriteFile(from.path().Append(kPrefDefaultOverridesName), too_large);
  // Not the run's data: never carried.
  WriteFile(from.path().Append(kLauncherName), "MZ planted");

  ProtectedPackage::CarryRunData(from.path(), to.path());

  EXPECT_EQ(ReadFile(to.path().Append(kServerTrackingDataName)), "tracking");
  EXPECT_FALSE(base::PathExists(to.path().Append(kPrefDefaultOverridesName)));
  EXPECT_FALSE(base::PathExists(to.path().Append(kInstallerPrefsIncludeName)));
  EXPECT_FALSE(base::PathExists(to.path().Append(kLauncherName)));
}

}  // namespace
}  // namespace installer

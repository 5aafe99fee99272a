#include "desktop/windows/crash_reporter/module_file_info.h"

#include <windows.h>

#include <psapi.h>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/pe_image_reader.h"

namespace installer {

namespace {

constexpr size_t kMaxText = 127;
constexpr DWORD kMappedFileNameSize = 260;
constexpr char kUnknownName[] = "<unknown>";

struct ViewUnmapper {
  void operator()(const void* view) const { ::UnmapViewOfFile(view); }
};
using ScopedView = std::unique_ptr<const void, ViewUnmapper>;

// Toolhelp's names are wide; the log's are narrow, one byte a character.
std::string NarrowName(const std::wstring& name) {
  std::string narrow;
  for (size_t i = 0; i < name.size() && narrow.size() < kMaxText; ++i)
    narrow += static_cast<char>(name[i] & 0xFF);
  return narrow;
}

}  // namespace

// static
std::unique_ptr<ModuleFileInfo> ModuleFileInfo::Open(const std::wstring& name,
                                                     const std::wstring& path,
                                                     uint64_t base,
                                                     uint32_t size) {
  std::unique_ptr<ModuleFileInfo> module(new ModuleFileInfo(base, size));
  const base::win::ScopedHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid())
    PLOG(ERROR) << "CreateFile failed for " << path.c_str();
  if (name.empty())
    LOG(WARNING) << "Module " << path.c_str() << " has no name";
  module->name_ = NarrowName(name);
  if (!file.IsValid())
    return module;

  LARGE_INTEGER file_size = {};
  const base::win::ScopedHandle mapping(::CreateFileMappingW(
      file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) {
    PLOG(ERROR) << "CreateFileMappingFailed for " << module->LogName();
    return module;
  }
  const ScopedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) {
    PLOG(ERROR) << "MapViewOfFile failed for " << module->LogName();
    return module;
  }
  // The view is whole pages; only the file's own bytes may be read.
  if (::GetFileSizeEx(file.Get(), &file_size)) {
    module->ReadImage(static_cast<const uint8_t*>(view.get()),
                      static_cast<size_t>(file_size.QuadPart));
  }
  if (module->name_.empty())
    module->ReadMappedFileName(view.get());
  return module;
}

ModuleFileInfo::ModuleFileInfo(uint64_t base, uint32_t size)
    : base_(base), size_(size) {}

ModuleFileInfo::~ModuleFileInfo() = default;

void ModuleFileInfo::ReadImage(const uint8_t* view, size_t size) {
  const PeImageReader image(view, size);
  if (!image.IsValid()) {
    LOG(ERROR) << "GetNtHeaders failed for " << LogName();
    return;
  }
  code_end_ = image.code_end();
  timestamp_ = image.timestamp();
  if (name_.empty() && !image.GetExportName(&name_))
    LOG(INFO) << "Could not find exports directory";

  std::string original_file_name;
  switch (image.GetVersionStrings(&original_file_name, &version_)) {
    case PeImageReader::VersionResult::kFound:
      if (name_.empty())
        name_ = original_file_name;
      break;
    case PeImageReader::VersionResult::kNoResourceDirectory:
      LOG(INFO) << "Could not find resources directory in " << name_;
      break;
    case PeImageReader::VersionResult::kNoVersionResource:
      LOG(INFO) << "Could not find version resource in " << name_;
      break;
    case PeImageReader::VersionResult::kNoVersionData:
      LOG(INFO) << "Could not find version info in " << name_;
      break;
  }
}

void ModuleFileInfo::ReadMappedFileName(const void* view) {
  char mapped[kMappedFileNameSize];
  const DWORD length = ::GetMappedFileNameA(
      ::GetCurrentProcess(), const_cast<void*>(view), mapped,
      kMappedFileNameSize);
  if (length == 0) {
    PLOG(ERROR) << "GetMappedFileNameA failed";
    return;
  }
  const std::string path(mapped, length);
  name_ = path.substr(path.rfind('\\') + 1).substr(0, kMaxText);
}

const char* ModuleFileInfo::LogName() const {
  return name_.empty() ? kUnknownName : name_.c_str();
}

}  // namespace installer

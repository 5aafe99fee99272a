#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_FILE_INFO_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_FILE_INFO_H_

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/windows/crash_reporter/process_state.h"

namespace installer {

// A module of a crashed process, described from its file: the name the
// process knew it by (else the one its file gives), its version text and
// time stamp, and where its code ends.
class ModuleFileInfo : public ModuleInfo {
 public:
  // Never fails: a file that cannot be read leaves the version, time stamp
  // and code end empty, and the failure is logged.
  static std::unique_ptr<ModuleFileInfo> Open(const std::wstring& name,
                                              const std::wstring& path,
                                              uint64_t base,
                                              uint32_t size);

  ModuleFileInfo(const ModuleFileInfo&) = delete;
  ModuleFileInfo& operator=(const ModuleFileInfo&) = delete;
  ~ModuleFileInfo() override;

  // ModuleInfo:
  const char* GetName() const override { return name_.c_str(); }
  uint64_t GetBase() const override { return base_; }
  uint32_t GetSize() const override { return size_; }
  uint64_t GetCodeBase() const override { return base_; }
  uint64_t GetCodeEnd() const override { return code_end_; }
  const char* GetVersion() const override { return version_.c_str(); }
  uint32_t GetTimestamp() const override { return timestamp_; }

 private:
  ModuleFileInfo(uint64_t base, uint32_t size);

  void ReadImage(const uint8_t* view, size_t size);
  void ReadMappedFileName(const void* view);
  // The name for log lines.
  const char* LogName() const;

  const uint64_t base_;
  const uint32_t size_;
  std::string name_;
  std::string version_;
  uint32_t timestamp_ = 0;
  uint64_t code_end_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_MODULE_FILE_INFO_H_

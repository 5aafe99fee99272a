#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_PROCESS_STATE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_PROCESS_STATE_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/process_state.h"

namespace installer {

// A module as the crashed process itself listed it in its "modules" crash
// key, used when the system cannot list the process's modules.
struct FallbackModule {
  std::wstring name;
  std::wstring path;
  uint64_t base = 0;
  uint64_t size = 0;
};

// The state of a crashed process, read while the reporter is attached to it
// as a debugger: one per crash.
class DebuggedProcessState : public ProcessState {
 public:
  DebuggedProcessState();
  DebuggedProcessState(const DebuggedProcessState&) = delete;
  DebuggedProcessState& operator=(const DebuggedProcessState&) = delete;
  ~DebuggedProcessState() override;

  // The addresses are of the crashed process: where it keeps the pointer to
  // its EXCEPTION_POINTERS and the id of its crashed thread. False when the
  // process cannot be opened or the crash cannot be read out of it; every
  // other failure only leaves something out, and is logged.
  bool Collect(uint32_t process_id,
               uint64_t exception_pointers_address,
               uint64_t thread_id_address,
               const std::vector<FallbackModule>& fallback_modules);

  // Adds a module, described from its file.
  void OpenModuleFile(const std::wstring& name,
                      const std::wstring& path,
                      uint64_t base,
                      uint32_t size,
                      bool is_main);

  // The memory counters; 0 when they could not be read.
  uint64_t working_set_size() const { return working_set_size_; }
  uint64_t peak_working_set_size() const { return peak_working_set_size_; }
  uint64_t private_usage() const { return private_usage_; }
  const std::wstring& executable_path() const { return executable_path_; }

  // ProcessState:
  bool CanReadByte(uint64_t address) const override;
  uint32_t GetExceptionCode() const override { return exception_code_; }
  const char* GetExceptionName() const override { return nullptr; }
  uint64_t GetExceptionAddress() const override { return exception_address_; }
  const std::vector<std::unique_ptr<ThreadInfo>>& GetThreads() const override {
    return threads_;
  }
  const ModuleInfo* GetMainModule() const override { return main_module_; }
  const std::vector<std::unique_ptr<ModuleInfo>>& GetModules() const override {
    return modules_;
  }
  std::unique_ptr<MemoryReader> CreateMemoryReader() const override;

 private:
  void ReadMemoryCounters();
  void ReadModules();
  void AddFallbackModules(const std::vector<FallbackModule>& modules);
  bool ReadCrash(uint64_t exception_pointers_address,
                 uint64_t thread_id_address);
  void ReadOtherThreads(uint32_t process_id, uint32_t crashed_thread_id);
  bool ReadFully(uint64_t address, void* buffer, size_t size) const;

  base::win::ScopedHandle process_;
  uint32_t process_id_ = 0;
  std::wstring executable_path_;
  uint64_t working_set_size_ = 0;
  uint64_t peak_working_set_size_ = 0;
  uint64_t private_usage_ = 0;
  uint32_t exception_code_ = 0;
  uint64_t exception_address_ = 0;
  std::vector<std::unique_ptr<ModuleInfo>> modules_;
  // One of `modules_`.
  const ModuleInfo* main_module_ = nullptr;
  std::vector<std::unique_ptr<ThreadInfo>> threads_;
  // Module paths seen, for the log when the main one is not among them.
  std::vector<std::wstring> module_paths_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_DEBUGGED_PROCESS_STATE_H_

#include "desktop/windows/crash_reporter/debugged_process_state.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/debugged_thread_info.h"
#include "desktop/windows/crash_reporter/module_file_info.h"
#include "desktop/windows/crash_reporter/process_image_path.h"
#include "desktop/windows/crash_reporter/process_memory_reader.h"

namespace installer {

namespace {

constexpr DWORD kProcessAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// The system gives ERROR_BAD_LENGTH while the process changes its modules.
constexpr int kModuleSnapshotTries = 10;
// Up to and with th32OwnerProcessID.
constexpr DWORD kMinThreadEntrySize = 16;
constexpr size_t kExceptionAddressOffset = 16;

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

base::win::ScopedHandle TakeModuleSnapshot(uint32_t process_id) {
  for (int retries_left = kModuleSnapshotTries - 1; retries_left >= 0;
       --retries_left) {
    base::win::ScopedHandle snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process_id));
    if (snapshot.IsValid())
      return snapshot;
    const DWORD error = ::GetLastError();
    PLOG(ERROR) << "TH32CS_SNAPMODULE failed, retries_left=" << retries_left;
    if (error != ERROR_BAD_LENGTH)
      break;
  }
  return base::win::ScopedHandle();
}

}  // namespace

DebuggedProcessState::DebuggedProcessState() = default;

DebuggedProcessState::~DebuggedProcessState() = default;

bool DebuggedProcessState::Collect(
    uint32_t process_id,
    uint64_t exception_pointers_address,
    uint64_t thread_id_address,
    const std::vector<FallbackModule>& fallback_modules) {
  process_id_ = process_id;
  process_.Set(::OpenProcess(kProcessAccess, FALSE, process_id));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "Cannot open process " << process_id;
    return false;
  }
  ReadMemoryCounters();
  executable_path_ = GetProcessImagePath(process_.Get());
  ReadModules();
  if (modules_.empty()) {
    LOG(INFO) << "Using fallback modules";
    AddFallbackModules(fallback_modules);
  }
  if (!main_module_ && !executable_path_.empty()) {
    LOG(WARNING) << "Couldn't find main module for '"
                 << executable_path_.c_str() << "'";
    for (const std::wstring& path : module_paths_)
      LOG(WARNING) << "Module path: " << path.c_str();
  }
  return ReadCrash(exception_pointers_address, thread_id_address);
}

void DebuggedProcessState::OpenModuleFile(const std::wstring& name,
                                          const std::wstring& path,
                                          uint64_t base,
                                          uint32_t size,
                                          bool is_main) {
  std::unique_ptr<ModuleInfo> module =
      ModuleFileInfo::Open(name, path, base, size);
  if (is_main)
    main_module_ = module.get();
  module_paths_.push_back(path);
  modules_.push_back(std::move(module));
}

bool DebuggedProcessState::CanReadByte(uint64_t address) const {
  uint8_t byte = 0;
  SIZE_T read = 0;
  return ::ReadProcessMemory(process_.Get(),
                             reinterpret_cast<const void*>(address), &byte, 1,
                             &read) &&
         read == 1;
}

std::unique_ptr<MemoryReader> DebuggedProcessState::CreateMemoryReader()
    const {
  if (!process_.IsValid())
    return nullptr;
  return std::make_unique<ProcessMemoryReader>(process_.Get());
}

void DebuggedProcessState::ReadMemoryCounters() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(
          process_.Get(),
          reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
          sizeof(counters))) {
    PLOG(ERROR) << "GetProcessMemoryInfo failed";
    return;
  }
  working_set_size_ = counters.WorkingSetSize;
  peak_working_set_size_ = counters.PeakWorkingSetSize;
  private_usage_ = counters.PrivateUsage;
}

void DebuggedProcessState::ReadModules() {
  const base::win::ScopedHandle snapshot = TakeModuleSnapshot(process_id_);
  if (!snapshot.IsValid())
    return;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!::Module32FirstW(snapshot.Get(), &entry)) {
    PLOG(ERROR) << "Module32First failed";
    return;
  }
  do {
    const std::wstring path = entry.szExePath;
    const bool is_main =
        !main_module_ && EqualsIgnoringCase(path, executable_path_);
    OpenModuleFile(entry.szModule, path,
                   reinterpret_cast<uint64_t>(entry.modBaseAddr),
                   entry.modBaseSize, is_main);
    entry.dwSize = sizeof(entry);
  } while (::Module32NextW(snapshot.Get(), &entry));
}

void DebuggedProcessState::AddFallbackModules(
    const std::vector<FallbackModule>& modules) {
  for (const FallbackModule& module : modules) {
    const bool is_main =
        !main_module_ && EqualsIgnoringCase(module.path, executable_path_);
    OpenModuleFile(module.name, module.path, module.base,
                   static_cast<uint32_t>(module.size), is_main);
  }
}

bool DebuggedProcessState::ReadFully(uint64_t address,
                                     void* buffer,
                                     size_t size) const {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process_.Get(),
                             reinterpret_cast<const void*>(address), buffer,
                             size, &read) &&
         read == size;
}

bool DebuggedProcessState::ReadCrash(uint64_t exception_pointers_address,
                                     uint64_t thread_id_address) {
  uint64_t pointers_address = 0;
  EXCEPTION_POINTERS pointers = {};
  alignas(16) CONTEXT context = {};
  if (!ReadFully(exception_pointers_address, &pointers_address,
                 sizeof(pointers_address)) ||
      !ReadFully(pointers_address, &pointers, sizeof(pointers))) {
    LOG(ERROR) << "Cannot read the exception pointers of the crash";
    return false;
  }
  const uint64_t record = reinterpret_cast<uint64_t>(pointers.ExceptionRecord);
  if (!ReadFully(record, &exception_code_, sizeof(exception_code_)) ||
      !ReadFully(record + kExceptionAddressOffset, &exception_address_,
                 sizeof(exception_address_)) ||
      !ReadFully(reinterpret_cast<uint64_t>(pointers.ContextRecord), &context,
                 sizeof(context))) {
    LOG(ERROR) << "Cannot read the exception of the crash";
    return false;
  }
  uint32_t crashed_thread_id = 0;
  if (!ReadFully(thread_id_address, &crashed_thread_id,
                 sizeof(crashed_thread_id))) {
    LOG(WARNING) << "Could not read ID of crashed thread";
    crashed_thread_id = 0;
  }
  auto crashed = std::make_unique<DebuggedThreadInfo>(crashed_thread_id, true);
  crashed->ReadFromContext(process_.Get(), context);
  threads_.push_back(std::move(crashed));
  ReadOtherThreads(process_id_, crashed_thread_id);
  return true;
}

void DebuggedProcessState::ReadOtherThreads(uint32_t process_id,
                                            uint32_t crashed_thread_id) {
  const base::win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot.IsValid()) {
    PLOG(ERROR) << "TH32CS_SNAPTHREAD failed";
    return;
  }
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  if (!::Thread32First(snapshot.Get(), &entry) ||
      entry.dwSize < kMinThreadEntrySize) {
    PLOG(ERROR) << "Thread32First failed, te.dwSize=" << entry.dwSize
                << ", min size=" << kMinThreadEntrySize;
    return;
  }
  do {
    if (entry.dwSize >= kMinThreadEntrySize &&
        entry.th32OwnerProcessID == process_id &&
        entry.th32ThreadID != crashed_thread_id) {
      auto thread =
          std::make_unique<DebuggedThreadInfo>(entry.th32ThreadID, false);
      if (thread->ReadFromThread(process_.Get()))
        threads_.push_back(std::move(thread));
    }
    entry.dwSize = sizeof(entry);
  } while (::Thread32Next(snapshot.Get(), &entry));
}

}  // namespace installer

#include "base/win/handle_verifier.h"

#include <winternl.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/hash/super_fast_hash.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/lock.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base::win {

namespace {

using GetHandleVerifierFunction = HandleVerifier* (*)();
using NtQueryObjectFunction = LONG(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS,
                                           void*, ULONG, ULONG*);

constexpr LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002);
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kStatusNoMemory = static_cast<LONG>(0xC0000017);

std::atomic<HandleVerifier*> g_active_verifier{nullptr};

// Serialises instance creation and every table access.
Lock& VerifierLock() {
  static Lock lock;
  return lock;
}

// Forces `memory` to hold its value where a crash dump taken next sees it.
void KeepAlive(const void* memory) {
  asm volatile("" : : "r"(memory) : "memory");
}

[[noreturn]] void StopForMisuse(const void* record, const void* more) {
  KeepAlive(record);
  KeepAlive(more);
  __builtin_trap();
}

// GetProcAddress's generic result, cast to the function's real type.
template <class Function>
Function LookUpFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE ThisModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

HMODULE ModuleOfAddress(const void* address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<const wchar_t*>(address), &module);
  return module;
}

HandleVerifier* MakeProcessVerifier(bool active) {
  // Lives as long as the process: handles close until the very end.
  return std::make_unique<HandleVerifier>(active).release();
}

struct FreeDeleter {
  void operator()(void* memory) const { free(memory); }
};

// The kernel's name for the type of `handle`'s object ("Process", "Event").
LONG QueryObjectTypeName(HANDLE handle, std::string* type_name) {
  // Looked up at the time: not every system has it.
  auto query = LookUpFunction<NtQueryObjectFunction>(GetModuleHandleW(L"ntdll.dll"),
                                                     "NtQueryObject");
  if (!query)
    return kStatusNotImplemented;
  ULONG size = 0;
  LONG status = query(handle, ObjectTypeInformation, nullptr, 0, &size);
  if (status != kStatusInfoLengthMismatch || size == 0)
    return status;
  const ULONG buffer_size =
      size < sizeof(PUBLIC_OBJECT_TYPE_INFORMATION) ? sizeof(PUBLIC_OBJECT_TYPE_INFORMATION)
                                                    : size;
  std::unique_ptr<void, FreeDeleter> buffer(calloc(1, buffer_size));
  if (!buffer)
    return kStatusNoMemory;
  status = query(handle, ObjectTypeInformation, buffer.get(), buffer_size, &size);
  if (status < 0)
    return status;
  const UNICODE_STRING& name =
      static_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(buffer.get())->TypeName;
  // The name lies inside the buffer; anything else is not trusted.
  const auto* begin = reinterpret_cast<const char*>(buffer.get());
  const auto* text = reinterpret_cast<const char*>(name.Buffer);
  if (text && text >= begin && text + name.Length <= begin + buffer_size)
    *type_name = WideToUtf8(std::wstring(name.Buffer, name.Length / sizeof(wchar_t)));
  return status;
}

// What a crash dump shows of a close that failed.
struct CloseFailure {
  DWORD last_error;
  LONG query_status;
  DWORD flags;
  DWORD flags_error;
  char type_name[64];
};

// Closes `handle`; false only for a process handle protected from closing,
// which its owner may legitimately meet. Every other failure is a bug.
bool CloseAndCheck(HANDLE handle) {
  if (CloseHandle(handle))
    return true;
  CloseFailure failure = {};
  failure.last_error = GetLastError();
  std::string type_name;
  failure.query_status = QueryObjectTypeName(handle, &type_name);
  strncpy(failure.type_name, type_name.c_str(), sizeof(failure.type_name) - 1);
  if (!GetHandleInformation(handle, &failure.flags))
    failure.flags_error = GetLastError();
  if (type_name == "Process" && failure.flags_error == 0 &&
      (failure.flags & HANDLE_FLAG_PROTECT_FROM_CLOSE)) {
    return false;
  }
  StopForMisuse(&failure, &type_name);
}

}  // namespace

size_t HandleVerifier::HandleHash::operator()(HANDLE handle) const {
  return SuperFastHash(reinterpret_cast<const char*>(&handle), sizeof(handle));
}

HandleVerifier::HandleVerifier(bool active) : active_(active), lock_(&VerifierLock()) {
  StackTrace::Capture(&creation_stack_, StackTrace::kMaxFrames);
  closing_.Initialize(nullptr);
}

HandleVerifier::~HandleVerifier() {
  closing_.Free();
}

// static
HandleVerifier* HandleVerifier::CreateOrFindInstance() {
  if (HandleVerifier* verifier = g_active_verifier.load(std::memory_order_acquire))
    return verifier;
  auto host_export = LookUpFunction<GetHandleVerifierFunction>(GetModuleHandleW(nullptr),
                                                               "GetHandleVerifier");
  const bool own_export = host_export && ModuleOfAddress(reinterpret_cast<void*>(host_export)) ==
                                             ThisModule();
  // The host's verifier, asked before taking our lock: the host takes its own.
  HandleVerifier* host_verifier = nullptr;
  if (host_export && !own_export)
    host_verifier = host_export();
  AutoLock lock(VerifierLock());
  if (!g_active_verifier.load(std::memory_order_relaxed)) {
    // Only the main executable's verifier is active: a library loaded by a
    // host without one cannot see the host's handles.
    HandleVerifier* verifier = host_verifier ? host_verifier : MakeProcessVerifier(own_export);
    g_active_verifier.store(verifier, std::memory_order_release);
  }
  return g_active_verifier.load(std::memory_order_relaxed);
}

// static
void HandleVerifier::StartTrackingGlobal(HANDLE handle, const void* owner,
                                         const void* creator_pc, const void* caller_pc) {
  CreateOrFindInstance()->StartTracking(handle, owner, creator_pc, caller_pc);
}

// static
void HandleVerifier::StopTrackingHandle(HANDLE handle, const void* owner,
                                        const void* creator_pc, const void* caller_pc) {
  CreateOrFindInstance()->StopTracking(handle, owner, creator_pc, caller_pc);
}

bool HandleVerifier::CloseHandleChecked(HANDLE handle) {
  if (!active_.load(std::memory_order_relaxed))
    return CloseAndCheck(handle);
  closing_.SetFlag(true);
  const bool closed = CloseAndCheck(handle);
  closing_.SetFlag(false);
  return closed;
}

void HandleVerifier::StartTracking(HANDLE handle, const void* owner,
                                   const void* creator_pc, const void* caller_pc) {
  if (!active_.load(std::memory_order_relaxed))
    return;
  HandleInfo info = {owner, creator_pc, caller_pc, {}, GetCurrentThreadId()};
  StackTrace::Capture(&info.stack, StackTrace::kMaxFrames);
  AutoLock lock(*lock_);
  const auto [existing, inserted] = map_.try_emplace(handle, info);
  if (!inserted) {
    // Tracked twice: two owners would close it.
    const HandleInfo first_owner = existing->second;
    StopForMisuse(&first_owner, &creation_stack_);
  }
}

void HandleVerifier::StopTracking(HANDLE handle, const void* owner,
                                  const void* creator_pc, const void* caller_pc) {
  if (!active_.load(std::memory_order_relaxed))
    return;
  AutoLock lock(*lock_);
  const auto found = map_.find(handle);
  if (found == map_.end())
    StopForMisuse(&handle, &creation_stack_);
  if (found->second.owner != owner) {
    const HandleInfo real_owner = found->second;
    StopForMisuse(&real_owner, &owner);
  }
  map_.erase(found);
}

void HandleVerifier::Disable() {
  active_.store(false, std::memory_order_relaxed);
}

void HandleVerifier::OnHandleBeingClosed(HANDLE handle) {
  if (!active_.load(std::memory_order_relaxed) || closing_.Get())
    return;
  AutoLock lock(*lock_);
  const auto found = map_.find(handle);
  if (found != map_.end()) {
    // Closed behind its owner's back.
    const HandleInfo owner = found->second;
    StopForMisuse(&owner, &handle);
  }
}

HMODULE HandleVerifier::GetModule() const {
  return ThisModule();
}

bool CloseHandleVerified(HANDLE handle) {
  return HandleVerifier::CreateOrFindInstance()->CloseHandleChecked(handle);
}

}  // namespace base::win

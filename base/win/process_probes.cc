#include "base/win/process_probes.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "base/win/windows_version.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base::win {

namespace {

using GetProcessMitigationPolicyFunction = BOOL(WINAPI*)(HANDLE,
                                                         PROCESS_MITIGATION_POLICY,
                                                         PVOID,
                                                         SIZE_T);

bool ComputeWin32kCallsAllowed() {
  if (GetWindowsVersion() < kVersionWin8)
    return true;
  // Looked up because older systems (and Wine) may lack it.
  const auto get_policy = reinterpret_cast<GetProcessMitigationPolicyFunction>(
      reinterpret_cast<void*>(::GetProcAddress(
          ::GetModuleHandleW(L"kernel32.dll"), "GetProcessMitigationPolicy")));
  if (!get_policy)
    return true;
  DWORD policy = 0;
  static_assert(sizeof(policy) ==
                sizeof(PROCESS_MITIGATION_SYSTEM_CALL_DISABLE_POLICY));
  if (!get_policy(::GetCurrentProcess(), ProcessSystemCallDisablePolicy,
                  &policy, sizeof(policy))) {
    return true;
  }
  // Bit 0: DisallowWin32kSystemCalls.
  return (policy & 1) == 0;
}

bool HasSection(const IMAGE_NT_HEADERS* headers, const char (&name)[9]) {
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
  for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
    if (std::memcmp(section->Name, name, IMAGE_SIZEOF_SHORT_NAME) == 0)
      return true;
  }
  return false;
}

bool ComputeImageInstrumented() {
  const auto* base = reinterpret_cast<const char*>(&__ImageBase);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + __ImageBase.e_lfanew);
  // Names fill the 8-byte field, padded with NULs.
  return HasSection(headers, ".thunks\0") && HasSection(headers, ".instrum");
}

}  // namespace

bool IsWin32kCallsAllowed() {
  static const bool allowed = ComputeWin32kCallsAllowed();
  return allowed;
}

bool IsImageInstrumented() {
  // Every thread computes the same answer, so a race only repeats the work.
  enum : int { kUnknown, kNo, kYes };
  static std::atomic<int> cached{kUnknown};
  int answer = cached.load(std::memory_order_relaxed);
  if (answer == kUnknown) {
    answer = ComputeImageInstrumented() ? kYes : kNo;
    cached.store(answer, std::memory_order_relaxed);
  }
  return answer == kYes;
}

}  // namespace base::win

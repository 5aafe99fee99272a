// A library an attacker plants under the installer library's name: its
// RunInstaller leaves "planted_library_ran" in the folder it was loaded
// from, so that a test sees whether any installer process ran it.

#include <windows.h>

#include <cstdint>
#include <string>

extern "C" __declspec(dllexport) uint8_t RunInstaller() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&RunInstaller), &self);
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(self, path.data(),
                                   static_cast<DWORD>(path.size())));
  path = path.substr(0, path.find_last_of(L'\\') + 1) + L"planted_library_ran";
  const HANDLE marker = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
  if (marker != INVALID_HANDLE_VALUE)
    ::CloseHandle(marker);
  return 1;
}

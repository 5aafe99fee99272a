#include "desktop/windows/crash_reporter/scoped_system_library.h"

#include <string>

#include "base/logging.h"

namespace installer {

ScopedSystemLibrary::ScopedSystemLibrary(const wchar_t* file_name) {
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;
  const std::wstring path = std::wstring(folder, length) + L"\\" + file_name;
  module_ = ::LoadLibraryW(path.c_str());
  if (!module_) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "Cannot load " << path.c_str() << ", error " << error;
  }
}

ScopedSystemLibrary::~ScopedSystemLibrary() {
  if (module_)
    ::FreeLibrary(module_);
}

void* ScopedSystemLibrary::GetSymbol(const char* name) const {
  if (!module_)
    return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(module_, name));
}

}  // namespace installer

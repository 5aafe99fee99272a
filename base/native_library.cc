#include "base/native_library.h"

namespace base {

NativeLibrary LoadNativeLibrary(const FilePath& path) {
  // The altered search path puts the library's own folder first for its
  // dependencies. Switching the current directory around the load instead
  // would change it under every other thread of the process. The flag is
  // only defined for a path with a folder part.
  const bool has_folder = path.value().find_first_of(FilePath::kSeparators) !=
                          std::wstring::npos;
  return ::LoadLibraryExW(path.value().c_str(), nullptr,
                          has_folder ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
}

void UnloadNativeLibrary(NativeLibrary library) {
  if (library)
    ::FreeLibrary(library);
}

void* GetNativeLibrarySymbol(NativeLibrary library, const char* name) {
  if (!library)
    return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(library, name));
}

}  // namespace base

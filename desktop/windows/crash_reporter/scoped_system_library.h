#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_SYSTEM_LIBRARY_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_SYSTEM_LIBRARY_H_

#include <windows.h>

namespace installer {

// A library of the system folder, loaded by its full path (the installer runs
// from folders such as Downloads, where a planted copy of the same name
// would otherwise win), and freed on destruction.
class ScopedSystemLibrary {
 public:
  explicit ScopedSystemLibrary(const wchar_t* file_name);
  ScopedSystemLibrary(const ScopedSystemLibrary&) = delete;
  ScopedSystemLibrary& operator=(const ScopedSystemLibrary&) = delete;
  ~ScopedSystemLibrary();

  bool IsLoaded() const { return module_ != nullptr; }
  // Null when the library or the function is missing.
  template <typename Function>
  Function GetFunction(const char* name) const {
    return reinterpret_cast<Function>(GetSymbol(name));
  }

 private:
  void* GetSymbol(const char* name) const;

  HMODULE module_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_SYSTEM_LIBRARY_H_

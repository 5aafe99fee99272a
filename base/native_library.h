#ifndef BASE_NATIVE_LIBRARY_H_
#define BASE_NATIVE_LIBRARY_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace base {

// A loaded library; null when loading failed.
using NativeLibrary = HMODULE;

// Loads the library at `path`. The libraries it depends on are looked for in
// its own folder first.
NativeLibrary LoadNativeLibrary(const FilePath& path);
// Both accept a null library and then do nothing (return null).
void UnloadNativeLibrary(NativeLibrary library);
void* GetNativeLibrarySymbol(NativeLibrary library, const char* name);

}  // namespace base

#endif  // BASE_NATIVE_LIBRARY_H_

#include "base/native_library.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Built into a folder of its own: its dependency lies beside it and nowhere
// on the default search path.
FilePath TestLibraryPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return FilePath(std::wstring(module, length))
      .DirName()
      .Append(L"native_library_test")
      .Append(L"native_library_test_library.dll");
}

std::wstring CurrentDirectory() {
  wchar_t directory[MAX_PATH];
  return std::wstring(directory,
                      ::GetCurrentDirectoryW(MAX_PATH, directory));
}

TEST(NativeLibrary, DependencyInTheLibrarysFolderIsFound) {
  const std::wstring before = CurrentDirectory();
  NativeLibrary library = LoadNativeLibrary(TestLibraryPath());
  ASSERT_TRUE(library) << ::GetLastError();
  EXPECT_EQ(before, CurrentDirectory());
  using ValueFunction = int (*)();
  auto value = reinterpret_cast<ValueFunction>(
      GetNativeLibrarySymbol(library, "NativeLibraryTestValue"));
  ASSERT_TRUE(value);
  EXPECT_EQ(42, value());
  EXPECT_FALSE(GetNativeLibrarySymbol(library, "NoSuchSymbol"));
  UnloadNativeLibrary(library);
}

TEST(NativeLibrary, MissingLibraryAndNullHandle) {
  EXPECT_FALSE(LoadNativeLibrary(FilePath(L"C:\\no such folder\\x.dll")));
  EXPECT_FALSE(GetNativeLibrarySymbol(nullptr, "NativeLibraryTestValue"));
  UnloadNativeLibrary(nullptr);
}

TEST(NativeLibrary, LibraryByNameUsesTheDefaultSearch) {
  NativeLibrary library = LoadNativeLibrary(FilePath(L"version.dll"));
  ASSERT_TRUE(library);
  EXPECT_TRUE(GetNativeLibrarySymbol(library, "GetFileVersionInfoSizeW"));
  UnloadNativeLibrary(library);
}

}  // namespace
}  // namespace base

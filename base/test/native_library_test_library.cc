// Loaded by the library-loading tests; it imports from a library in its own
// folder.

extern "C" __declspec(dllimport) int NativeLibraryTestDependencyValue();

extern "C" __declspec(dllexport) int NativeLibraryTestValue() {
  return NativeLibraryTestDependencyValue() + 1;
}

// A library found only beside native_library_test_library, never on the
// default search path: loading that library proves where dependencies are
// looked for.

extern "C" __declspec(dllexport) int NativeLibraryTestDependencyValue() {
  return 41;
}

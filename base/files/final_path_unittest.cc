#include "base/files/final_path.h"

#include <string>

#include "base/test/temp_tree.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Paths on both sides of the length past which Wine cannot give a whole
// final path: each must come back as the place it names.
TEST(GetFinalPathTest, NamesTheFileAtAnyLength) {
  const TempTree tree;
  for (const size_t length : {10u, 60u, 90u}) {
    SCOPED_TRACE(length);
    const std::wstring part(length, L'd');
    const std::wstring relative = part + L"\\" + part + L"\\" + part;
    tree.MakeDir(relative.c_str());
    const std::wstring name = tree.Path(relative.c_str()).value() + L"\\f.log";
    const win::ScopedHandle file(::CreateFileW(
        name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file.IsValid());

    const std::wstring final_path = GetFinalPath(file.Get(), name);

    EXPECT_EQ(
        ::CompareStringOrdinal(final_path.c_str(), -1, name.c_str(), -1, TRUE),
        CSTR_EQUAL)
        << final_path;
  }
}

}  // namespace
}  // namespace base

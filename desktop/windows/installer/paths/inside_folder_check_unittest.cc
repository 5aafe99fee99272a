#include "desktop/windows/installer/paths/inside_folder_check.h"

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/planted_link_tree.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// What Windows itself makes of `path`: its full form, devices as "\\.\NAME".
std::wstring WindowsFullPath(const std::wstring& path) {
  std::wstring buffer(32768, L'\0');
  const DWORD length = ::GetFullPathNameW(
      path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (length == 0 || length >= buffer.size())
    return std::wstring();
  buffer.resize(length);
  return buffer;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\')
    path.pop_back();
  return path;
}

class InsideFolderCheckTest : public testing::Test {
 protected:
  InsideFolderCheckTest()
      : folder_(
            ResolveLocalPath(tree_.MakeDir(L"Tarvo Installation")).value()) {}

  base::TempTree tree_;
  const std::wstring folder_;
};

// Each rule with a name on either side of it; an accepted path comes back
// in the spelling to use, refused ones empty.
TEST_F(InsideFolderCheckTest,
       AcceptsOnlyPathsStrictlyInsideAsWindowsReadsThem) {
  ASSERT_FALSE(folder_.empty());
  tree_.MakeDir(L"Tarvo Installation\\sub");
  wchar_t short_folder[MAX_PATH];
  ASSERT_NE(0u, ::GetShortPathNameW(folder_.c_str(), short_folder, MAX_PATH));
  const std::wstring& f = folder_;
  const std::wstring drive = f.substr(0, 2);
  struct Case {
    std::wstring path;
    std::wstring resolved;  // Empty: refused.
  } const cases[] = {
      {f + L"\\tarvo.exe", f + L"\\tarvo.exe"},
      {f + L"\\sub\\a.pak", f + L"\\sub\\a.pak"},
      {f + L"\\sub\\", f + L"\\sub"},
      // Devices in any folder, with an extension or what Windows trims.
      {f + L"\\COM1", L""},
      {f + L"\\COM10", f + L"\\COM10"},
      {f + L"\\COM1.txt", L""},
      {f + L"\\COM1a.txt", f + L"\\COM1a.txt"},
      {f + L"\\nul .txt", L""},
      {f + L"\\null.txt", f + L"\\null.txt"},
      {f + L"\\sub\\NUL", L""},
      {f + L"\\con", L""},
      {f + L"\\PRN", L""},
      {f + L"\\aux.h", L""},
      {f + L"\\LPT9", L""},
      {f + L"\\LPT\u00B9", L""},
      {f + L"\\CONOUT$", L""},
      {f + L"\\CONOUT$x", f + L"\\CONOUT$x"},
      // The folder itself, as Windows trims dots and spaces.
      {f, L""},
      {f + L"\\", L""},
      {f + L"\\.", L""},
      {f + L"\\ ", L""},
      {f + L"\\...", L""},
      {f + L"\\.config", f + L"\\.config"},
      {f + L"\\ lead", f + L"\\ lead"},
      {f + L"\\a.txt.", L""},
      {f + L"\\a.txt ", L""},
      // Parent references, even those that come back in.
      {f + L"\\sub\\..\\a.txt", L""},
      {f + L"\\..\\Tarvo Installation\\a.txt", L""},
      {f + L"\\..", L""},
      {f + L"\\..a", f + L"\\..a"},
      {f + L"/sub/a.pak", f + L"\\sub\\a.pak"},
      {f + L"\\a.txt:stream", L""},
      {f + L"\\a.txt::$DATA", L""},
      {f + L"\\a*.txt", L""},
      // Other forms of a path, and its short spelling.
      {L"\\\\?\\" + f + L"\\a.txt", f + L"\\a.txt"},
      {L"\\\\.\\" + f + L"\\a.txt", L""},
      {std::wstring(short_folder) + L"\\a.txt", f + L"\\a.txt"},
      {L"a.txt", L""},
      {L"sub\\a.txt", L""},
      {drive + f.substr(3) + L"\\a.txt", L""},
      {f.substr(2) + L"\\a.txt", L""},
      {L"\\\\server\\share\\a.txt", L""},
      {f + L"2\\a.txt", L""},
      {f + L".old\\a.txt", L""},
      {drive + L"\\Windows\\a.dll", L""},
  };
  InsideFolderCheck check((base::FilePath(f)));
  for (const Case& test : cases) {
    SCOPED_TRACE(base::FilePath(test.path).AsUTF8());
    EXPECT_EQ(test.resolved, check.Resolve(base::FilePath(test.path)).value());
  }
}

// Names as a damaged or planted list could hold them, from the pieces that
// make Windows read a path differently than it is written.
std::wstring MakeFuzzedName(std::mt19937* random) {
  static const wchar_t* const kPieces[] = {
      L"\\",   L"/",   L".",   L"..",      L" ",         L":",
      L"a",    L"B",   L"x.y", L"CON",     L"nul",       L"COM1",
      L"LPT9", L"PRN", L"aux", L"CONOUT$", L"COM\u00B9", L"$DATA"};
  std::uniform_int_distribution<size_t> count(1, 6);
  std::uniform_int_distribution<size_t> piece(0, std::size(kPieces) - 1);
  std::wstring name;
  for (size_t i = count(*random); i > 0; --i)
    name += kPieces[piece(*random)];
  return name;
}

// The forms a name read back can take relative to the folder.
std::wstring MakeFuzzedPath(const std::wstring& folder,
                            const std::wstring& name,
                            size_t form) {
  switch (form) {
    case 0:
      return L"\\\\?\\" + folder + L"\\" + name;
    case 1:
      return L"\\\\.\\" + folder + L"\\" + name;
    case 2:
      return folder + name;
    case 3:
      return folder.substr(0, 2) + name;
    default:
      return folder + L"\\" + name;
  }
}

// The property behind the table: whatever the check accepts, Windows itself
// resolves to the very path the check gave, strictly below the folder, and
// no device, stream or other file. Seeded, so every run checks the same
// names.
TEST_F(InsideFolderCheckTest, EveryAcceptedPathIsBelowTheFolderForWindows) {
  ASSERT_FALSE(folder_.empty());
  constexpr int kNames = 5000;
  std::mt19937 random(46);
  std::uniform_int_distribution<size_t> form(0, 7);
  InsideFolderCheck check((base::FilePath(folder_)));
  const std::wstring upper_prefix = ToUpperOrdinal(folder_ + L"\\");
  int accepted = 0;
  for (int i = 0; i < kNames; ++i) {
    const std::wstring path =
        MakeFuzzedPath(folder_, MakeFuzzedName(&random), form(random));
    const std::wstring resolved = check.Resolve(base::FilePath(path)).value();
    if (resolved.empty())
      continue;
    ++accepted;
    SCOPED_TRACE(base::FilePath(path).AsUTF8());
    const std::wstring windows = WindowsFullPath(resolved);
    EXPECT_EQ(resolved, windows);
    const std::wstring upper = ToUpperOrdinal(windows);
    EXPECT_GT(upper.size(), upper_prefix.size());
    EXPECT_EQ(0, upper.compare(0, upper_prefix.size(), upper_prefix));
    EXPECT_EQ(std::wstring::npos, windows.find(L':', 2));
    // The path as written names the same file, unless its verbatim form
    // keeps what Windows would otherwise fold.
    if (path.compare(0, 4, L"\\\\?\\") != 0) {
      EXPECT_EQ(upper, ToUpperOrdinal(
                           WithoutTrailingSeparators(WindowsFullPath(path))));
    }
  }
  // Enough accepted for the property to mean something.
  EXPECT_GT(accepted, kNames / 20);
}

// A folder or file inside replaced by a link: the link itself is inside and
// is named as such, what lies behind one is judged where it really is.
TEST(InsideFolderCheckLinksTest, JudgesEachNameByWhatItResolvesTo) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  using Kind = InsideFolderCheck::Kind;
  InsideFolderCheck check(tree.Path(L"inst"));
  ASSERT_TRUE(check.valid());
  const std::wstring f = check.folder().value();
  struct Case {
    const wchar_t* path;
    Kind kind;
    std::wstring resolved;  // Empty: refused.
  } const cases[] = {
      {L"inst\\plain.txt", Kind::kPlain, f + L"\\plain.txt"},
      {L"inst\\missing.txt", Kind::kMissing, f + L"\\missing.txt"},
      {L"inst\\dirlink", Kind::kLink, f + L"\\dirlink"},
      {L"inst\\inlink", Kind::kLink, f + L"\\inlink"},
      {L"inst\\filelink", Kind::kLink, f + L"\\filelink"},
      {L"inst\\fileinlink", Kind::kLink, f + L"\\fileinlink"},
      {L"inst\\inlink\\a.txt", Kind::kPlain, f + L"\\sub\\a.txt"},
      {L"inst\\dirlink\\c.txt", Kind::kUnknown, L""},
      {L"inst\\dirlink\\missing.txt", Kind::kUnknown, L""},
      {L"inst\\sub\\nested\\dir\\c.txt", Kind::kUnknown, L""},
      {L"inst\\sub\\nested\\canary.txt", Kind::kUnknown, L""},
      {L"inst\\dirlink\\..\\plain.txt", Kind::kUnknown, L""},
      {L"inst\\sub\\COM1", Kind::kUnknown, L""},
      {L"out\\canary.txt", Kind::kUnknown, L""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(base::FilePath(test.path).AsUTF8());
    const InsideFolderCheck::Entry entry = check.Judge(tree.Path(test.path));
    EXPECT_EQ(test.resolved, entry.path.value());
    if (!test.resolved.empty())
      EXPECT_EQ(test.kind, entry.kind);
  }
}

}  // namespace
}  // namespace installer

#include "base/files/file_path.h"

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

struct UnaryCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(FilePathSplit, DirNameAndBaseName) {
  const struct {
    const wchar_t* path;
    const wchar_t* dir_name;
    const wchar_t* base_name;
  } kCases[] = {
      {L"", L".", L""},
      {L".", L".", L"."},
      {L"..", L".", L".."},
      {L"foo", L".", L"foo"},
      {LR"(foo\)", L".", L"foo"},
      {LR"(foo\bar)", L"foo", L"bar"},
      {LR"(foo/bar/)", L"foo", L"bar"},
      {LR"(foo\\bar\\)", L"foo", L"bar"},
      {LR"(\)", LR"(\)", LR"(\)"},
      {LR"(\foo)", LR"(\)", L"foo"},
      {LR"(\\)", LR"(\\)", LR"(\\)"},
      {LR"(\\\)", LR"(\)", LR"(\)"},
      {LR"(\\foo)", LR"(\\)", L"foo"},
      {LR"(\\server)", LR"(\\)", L"server"},
      {LR"(\\server\share)", LR"(\\server)", L"share"},
      {LR"(\\server\share\x)", LR"(\\server\share)", L"x"},
      {L"C:", L"C:", L""},
      {L"C:foo", L"C:", L"foo"},
      {LR"(C:\)", LR"(C:\)", LR"(\)"},
      {LR"(C:\\)", LR"(C:\\)", LR"(\\)"},
      {LR"(C:\foo)", LR"(C:\)", L"foo"},
      {LR"(C:\a\b\)", LR"(C:\a)", L"b"},
      {LR"(C:\a\\)", LR"(C:\)", L"a"},
      {L"C:/a/b", L"C:/a", L"b"},
      {L"1:\\a", L"1:", L"a"},  // not a drive letter
  };
  for (const auto& c : kCases) {
    const FilePath path(c.path);
    EXPECT_EQ(c.dir_name, path.DirName().value()) << c.path;
    EXPECT_EQ(c.base_name, path.BaseName().value()) << c.path;
  }
}

TEST(FilePathSplit, StripTrailingSeparators) {
  const UnaryCase kCases[] = {
      {LR"(C:\)", LR"(C:\)"},   {LR"(\)", LR"(\)"},
      {LR"(\\)", LR"(\\)"},     {LR"(\\\)", LR"(\)"},
      {LR"(\\\\)", LR"(\)"},    {LR"(C:\a\\)", LR"(C:\a)"},
      {LR"(a\/\)", L"a"},       {LR"(C:\\)", LR"(C:\\)"},
      {LR"(C:\\\)", LR"(C:\)"}, {L"C:", L"C:"},
      {LR"(a\b)", LR"(a\b)"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, FilePath(c.input).StripTrailingSeparators().value())
        << c.input;
}

TEST(FilePathSplit, GetComponents) {
  const struct {
    const wchar_t* path;
    std::vector<std::wstring> components;
  } kCases[] = {
      {L"", {}},
      {L".", {}},
      {L"a", {L"a"}},
      {LR"(a\b\c)", {L"a", L"b", L"c"}},
      {LR"(C:\a\b)", {L"C:", LR"(\)", L"a", L"b"}},
      {LR"(C:\)", {L"C:", LR"(\)"}},
      {L"C:", {L"C:"}},
      {L"C:a", {L"C:", L"a"}},
      {LR"(\a)", {LR"(\)", L"a"}},
      {LR"(\\server\share)", {LR"(\\)", L"server", L"share"}},
      {LR"(a\\b\)", {L"a", L"b"}},
      {LR"(a\..\b)", {L"a", L"..", L"b"}},
  };
  for (const auto& c : kCases) {
    std::vector<std::wstring> components{L"stale"};
    FilePath(c.path).GetComponents(&components);
    EXPECT_EQ(c.components, components) << c.path;
  }
}

TEST(FilePathSplit, IsAbsolute) {
  const struct {
    const wchar_t* path;
    bool absolute;
  } kCases[] = {
      {LR"(C:\x)", true}, {L"C:/", true},      {LR"(\\server\share)", true},
      {L"//x", true},     {LR"(\/)", true},    {LR"(\x)", false},
      {L"C:x", false},    {L"C:", false},      {L"", false},
      {L"x", false},      {LR"(1:\x)", false}, {LR"(\)", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.absolute, FilePath(c.path).IsAbsolute()) << c.path;
    EXPECT_EQ(c.absolute, IsPathAbsolute(c.path)) << c.path;
  }
}

TEST(FilePathJoin, Append) {
  const struct {
    const wchar_t* path;
    const wchar_t* component;
    const wchar_t* expected;
  } kCases[] = {
      {L".", L"b", L"b"},
      {L"", L"x", L"x"},
      {L"a", L"b", LR"(a\b)"},
      {LR"(C:\a\\\)", L"b", LR"(C:\a\b)"},
      {LR"(C:\a\)", L"b", LR"(C:\a\b)"},
      {L"C:", L"x", L"C:x"},
      {LR"(C:\)", L"x", LR"(C:\x)"},
      {LR"(\\)", L"server", LR"(\\server)"},
      {L"a/", L"b/c", LR"(a\b/c)"},
      {LR"(a\\)", L"", L"a"},
      {L"a", LR"(b\)", LR"(a\b\)"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, FilePath(c.path).Append(c.component).value())
        << c.path << L" + " << c.component;
    EXPECT_EQ(c.expected,
              FilePath(c.path).Append(std::wstring(c.component)).value());
  }
  EXPECT_EQ(LR"(a\b.txt)", FilePath(L"a").AppendASCII("b.txt").value());
}

TEST(FilePathJoin, TextIsCutAtFirstNul) {
  const std::wstring with_nul(L"ab\0cd", 5);
  EXPECT_EQ(L"ab", FilePath(with_nul).value());
  EXPECT_EQ(L"ab", FilePath(WideStringSlice(with_nul)).value());
  EXPECT_EQ(L"ab", FilePath::FromUTF16(with_nul).value());
  EXPECT_EQ(L"ab", FilePath::FromUTF8(std::string("ab\0cd", 5)).value());
  EXPECT_EQ(LR"(x\ab)", FilePath(L"x").Append(with_nul).value());
  EXPECT_EQ(L"x.ab", FilePath(L"x").AddExtension(with_nul).value());
  EXPECT_EQ(L"x.ab", FilePath(L"x.y").ReplaceExtension(with_nul).value());
  EXPECT_EQ(L"xab.y", FilePath(L"x.y").InsertBeforeExtension(with_nul).value());
}

TEST(FilePathConvert, Utf8AndAscii) {
  const FilePath path =
      FilePath::FromUTF8("C:\\\xc3\xa9t\xc3\xa9\\\xe4\xb8\xad");
  EXPECT_EQ(L"C:\\\u00e9t\u00e9\\\u4e2d", path.value());
  EXPECT_EQ("C:\\\xc3\xa9t\xc3\xa9\\\xe4\xb8\xad", path.AsUTF8());
  EXPECT_EQ("", path.AsASCIIOrEmpty());
  EXPECT_EQ("C:\\a/b", FilePath(L"C:\\a/b").AsASCIIOrEmpty());
  EXPECT_EQ(LR"(C:\a\b\\c)",
            FilePath(L"C:/a\\b//c").NormalizePathSeparators().value());
  EXPECT_EQ(L"C:/a/b",
            FilePath(L"C:\\a/b").NormalizePathSeparatorsTo(L'/').value());
}

TEST(FilePathExtension, GetAndRemove) {
  const struct {
    const wchar_t* path;
    const wchar_t* extension;
    const wchar_t* without;
  } kCases[] = {
      {L"a.txt", L".txt", L"a"},
      {L"a.b.txt", L".txt", L"a.b"},
      {L"a.tar.gz", L".tar.gz", L"a"},
      {L"archive.TAR.GZ", L".TAR.GZ", L"archive"},
      {L"a.longer.gz", L".gz", L"a.longer"},
      {L"a.b.c.d.e.gz", L".e.gz", L"a.b.c.d"},
      {L"x.abcde.gz", L".gz", L"x.abcde"},
      {L"x.abcd.bz2", L".abcd.bz2", L"x"},
      {L"x.a.Z", L".a.Z", L"x"},
      {L"prefs.user.js", L".user.js", L"prefs"},
      {L"prefs.USER.JS", L".USER.JS", L"prefs"},
      {L"other.js", L".js", L"other"},
      {L".bashrc", L".bashrc", L""},
      {L"a.", L".", L"a"},
      {L".", L"", L"."},
      {L"..", L"", L".."},
      {L"noext", L"", L"noext"},
      {LR"(dir.d\file)", L"", LR"(dir.d\file)"},
      {LR"(dir.tar\x.gz)", L".gz", LR"(dir.tar\x)"},
      {LR"(C:\a.b\c.txt)", L".txt", LR"(C:\a.b\c)"},
      {LR"(C:\a\b.txt\)", L".txt", LR"(C:\a\b)"},
  };
  for (const auto& c : kCases) {
    const FilePath path(c.path);
    EXPECT_EQ(c.extension, path.GetExtension()) << c.path;
    EXPECT_EQ(c.without, path.RemoveExtension().value()) << c.path;
  }
}

TEST(FilePathExtension, AddReplaceInsert) {
  const struct {
    const wchar_t* path;
    const wchar_t* text;
    const wchar_t* added;
    const wchar_t* replaced;
    const wchar_t* inserted;
  } kCases[] = {
      {L"a", L"txt", L"a.txt", L"a.txt", L"atxt"},
      {L"a", L".txt", L"a.txt", L"a.txt", L"a.txt"},
      {L"a.", L"txt", L"a.txt", L"a.txt", L"atxt."},
      {L"a.b", L"", L"a.b", L"a", L"a.b"},
      {L"a.b", L".", L"a.b", L"a", L"a..b"},
      {L"a.tar.gz", L"zip", L"a.tar.gz.zip", L"a.zip", L"azip.tar.gz"},
      {LR"(a\b.txt)", L"_1", LR"(a\b.txt._1)", LR"(a\b._1)", LR"(a\b_1.txt)"},
      {L"..", L"txt", L"", L"", L""},
      {L".", L"txt", L"", L"", L""},
      {L"", L"txt", L"", L"", L""},
      {LR"(C:\)", L"txt", LR"(C:\.txt)", LR"(C:\.txt)", LR"(C:\txt)"},
  };
  for (const auto& c : kCases) {
    const FilePath path(c.path);
    EXPECT_EQ(c.added, path.AddExtension(c.text).value()) << c.path;
    EXPECT_EQ(c.replaced, path.ReplaceExtension(c.text).value()) << c.path;
    EXPECT_EQ(c.inserted, path.InsertBeforeExtension(c.text).value()) << c.path;
  }
  // An empty suffix copies the path before the special names are refused.
  EXPECT_EQ(L"..", FilePath(L"..").InsertBeforeExtension(L"").value());
  EXPECT_EQ(LR"(a\b_1.txt)",
            FilePath(LR"(a\b.txt)").InsertBeforeExtensionASCII("_1").value());
  EXPECT_EQ(L"a.json",
            FilePath(L"a.txt").ReplaceExtensionASCII("json").value());
}

TEST(FilePathCompare, ParentRelations) {
  const struct {
    const wchar_t* parent;
    const wchar_t* child;
    const wchar_t* relative;  // null: not a parent
  } kCases[] = {
      {LR"(C:\a)", LR"(c:\a\b)", L"b"},
      {LR"(C:\a)", LR"(C:\A\b)", nullptr},
      {LR"(C:\a)", LR"(C:\a)", nullptr},
      {LR"(C:\a\)", LR"(C:\a\b\c)", LR"(b\c)"},
      {LR"(C:\a)", LR"(C:\ab)", nullptr},
      {LR"(C:\a)", LR"(D:\a\b)", nullptr},
      {LR"(\\s\share)", LR"(\\s\share\x)", L"x"},
      {L"a", LR"(a\b)", L"b"},
      {L"a", LR"(A\b)", nullptr},
      {L"", LR"(a\b)", nullptr},
      {LR"(C:\a\b)", LR"(C:\a)", nullptr},
      {LR"(\a)", LR"(C:\a\b)", nullptr},
  };
  for (const auto& c : kCases) {
    const FilePath parent(c.parent);
    const FilePath child(c.child);
    EXPECT_EQ(c.relative != nullptr, parent.IsParent(child))
        << c.parent << L" / " << c.child;
    FilePath appended(LR"(X:\base)");
    EXPECT_EQ(c.relative != nullptr,
              parent.AppendRelativePath(child, &appended));
    if (c.relative) {
      EXPECT_EQ(FilePath(LR"(X:\base)").Append(c.relative), appended);
    }
  }
}

TEST(FilePathCompare, ReferencesParent) {
  const struct {
    const wchar_t* path;
    bool references;
  } kCases[] = {
      {LR"(a\..\b)", true},  {LR"(a\ ..\b)", true},  {LR"(a\...\b)", true},
      {L"..", true},         {LR"(C:\a\..)", true},  {L"a/../b", true},
      {LR"(a\.. \b)", true}, {LR"(a\..b\c)", false}, {LR"(a\b..\c)", false},
      {LR"(a\.\b)", false},  {L"a..b", false},       {L"", false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.references, FilePath(c.path).ReferencesParent()) << c.path;
}

TEST(FilePathCompare, EqualityFoldsOnlyTheDriveLetter) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  } kCases[] = {
      {LR"(C:\a)", LR"(c:\a)", true},
      {LR"(C:\a)", LR"(C:\A)", false},
      {LR"(\a)", L"/a", false},
      {L"a", L"a", true},
      {L"a", L"A", false},
      {L"c:", L"C:", true},
      {LR"(C:\a)", LR"(C:\a\)", false},
      {L"", L"", true},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.equal, FilePath(c.a) == FilePath(c.b)) << c.a << L" " << c.b;
    EXPECT_EQ(!c.equal, FilePath(c.a) != FilePath(c.b));
  }
}

// The peer: CharUpperW of user32, one unit at a time.
int CompareWithCharUpper(const std::wstring& a, const std::wstring& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto x = reinterpret_cast<uintptr_t>(
        ::CharUpperW(reinterpret_cast<wchar_t*>(static_cast<uintptr_t>(a[i]))));
    const auto y = reinterpret_cast<uintptr_t>(
        ::CharUpperW(reinterpret_cast<wchar_t*>(static_cast<uintptr_t>(b[i]))));
    if (x != y)
      return x < y ? -1 : 1;
  }
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

TEST(FilePathCompare, CompareIgnoreCaseMatchesCharUpperW) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    int expected;
  } kCases[] = {
      {LR"(C:\Program Files)", LR"(c:\PROGRAM FILES)", 0},
      {L"abc", L"abd", -1},
      {L"abd", L"ABC", 1},
      {L"ab", L"abc", -1},
      {L"", L"", 0},
      {L"\u00e9t\u00e9", L"\u00c9T\u00c9", 0},
      {L"\u03c9", L"\u03a9", 0},
      {L"_", L"a", 1},  // '_' sorts above 'A' once both sides are upper case
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              FilePath::CompareIgnoreCase(FilePath(c.a), FilePath(c.b)))
        << c.a << L" " << c.b;
  }

  const std::wstring alphabet =
      L"aAzZ_\\.0\u00e4\u00c4\u00df\u00ff\u0178\u03c9\u03a9\u0436\u0416\u4e2d";
  std::mt19937 random(1729);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<size_t> length(0, 4);
  for (int i = 0; i < 2000; ++i) {
    std::wstring a, b;
    for (size_t n = length(random); n > 0; --n)
      a += alphabet[pick(random)];
    for (size_t n = length(random); n > 0; --n)
      b += alphabet[pick(random)];
    ASSERT_EQ(CompareWithCharUpper(a, b),
              FilePath::CompareIgnoreCase(FilePath(a), FilePath(b)))
        << a << L" " << b;
  }
}

}  // namespace
}  // namespace base

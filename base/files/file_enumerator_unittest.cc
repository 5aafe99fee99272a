#include "base/files/file_enumerator.h"

#include <set>
#include <string>

#include "base/test/temp_tree.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Every entry the enumerator hands out, relative to `root`.
std::set<std::wstring> ListRelative(FileEnumerator* enumerator,
                                    const FilePath& root) {
  std::set<std::wstring> names;
  for (FilePath entry = enumerator->Next(); !entry.empty();
       entry = enumerator->Next()) {
    FilePath relative;
    EXPECT_TRUE(root.AppendRelativePath(entry, &relative)) << entry.AsUTF8();
    EXPECT_TRUE(names.insert(relative.value()).second) << entry.AsUTF8();
  }
  return names;
}

class FileEnumeratorTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tree_.root().empty());
    tree_.MakeDir(L"a\\b\\c");
    tree_.MakeDir(L"empty");
    tree_.WriteFile(L"top.txt", "1");
    tree_.WriteFile(L"top.log", "2");
    tree_.WriteFile(L"a\\in_a.txt", "3");
    tree_.WriteFile(L"a\\b\\c\\deep.log", "4");
  }

  TempTree tree_;
};

TEST_F(FileEnumeratorTest, ListsByTypeAndDepth) {
  const struct {
    bool recursive;
    int types;
    const wchar_t* pattern;
    std::set<std::wstring> expected;
  } kCases[] = {
      {true,
       FileEnumerator::kFiles | FileEnumerator::kDirectories,
       L"",
       {L"a", L"a\\b", L"a\\b\\c", L"empty", L"top.txt", L"top.log",
        L"a\\in_a.txt", L"a\\b\\c\\deep.log"}},
      {true,
       FileEnumerator::kFiles,
       L"",
       {L"top.txt", L"top.log", L"a\\in_a.txt", L"a\\b\\c\\deep.log"}},
      {true,
       FileEnumerator::kDirectories,
       L"",
       {L"a", L"a\\b", L"a\\b\\c", L"empty"}},
      {false,
       FileEnumerator::kFiles | FileEnumerator::kDirectories,
       L"",
       {L"a", L"empty", L"top.txt", L"top.log"}},
      // The pattern filters the root only; below it everything is listed.
      {true,
       FileEnumerator::kFiles | FileEnumerator::kDirectories,
       L"*.log",
       {L"top.log"}},
      {true,
       FileEnumerator::kFiles | FileEnumerator::kDirectories,
       L"a",
       {L"a", L"a\\b", L"a\\b\\c", L"a\\in_a.txt", L"a\\b\\c\\deep.log"}},
      {true, FileEnumerator::kFiles, L"*.none", {}},
  };
  for (const auto& c : kCases) {
    FileEnumerator enumerator(tree_.root(), c.recursive, c.types, c.pattern);
    EXPECT_EQ(c.expected, ListRelative(&enumerator, tree_.root()))
        << c.recursive << " " << c.types << " " << c.pattern;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), enumerator.error());
    EXPECT_TRUE(enumerator.Next().empty()) << "stays finished";
  }
}

TEST_F(FileEnumeratorTest, IncludesParentOnlyWhenAsked) {
  FileEnumerator with_parent(
      tree_.Path(L"empty"), false,
      FileEnumerator::kDirectories | FileEnumerator::kIncludeDotDot, L"");
  EXPECT_EQ(tree_.Path(L"empty\\.."), with_parent.Next());
  EXPECT_TRUE(with_parent.Next().empty());
  FileEnumerator without(tree_.Path(L"empty"), false,
                         FileEnumerator::kDirectories, L"");
  EXPECT_TRUE(without.Next().empty());
}

TEST_F(FileEnumeratorTest, ReportsDirectoryThatCannotBeListed) {
  const struct { const wchar_t* root; } kCases[] = {{L"missing"}, {L"top.txt"}};
  for (const auto& c : kCases) {
    FileEnumerator enumerator(tree_.Path(c.root), FileEnumerator::kFiles);
    EXPECT_TRUE(enumerator.Next().empty()) << c.root;
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), enumerator.error()) << c.root;
  }
}

}  // namespace
}  // namespace base

#include "base/files/resolved_entry.h"

#include <string>

#include "base/files/file_util.h"
#include "base/test/planted_link_tree.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Kind = ResolvedEntry::Kind;

class ResolvedEntryTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!tree_.made())
      GTEST_SKIP() << "No Unix link can be made here";
  }

  PlantedLinkTree tree_;
};

TEST_F(ResolvedEntryTest, EachNameIsJudgedByWhatItResolvesTo) {
  const FilePath final_root =
      ResolvedEntry::GetFinalPath(tree_.Path(L"inst")).DirName();
  ASSERT_FALSE(final_root.empty());
  const struct {
    const wchar_t* path;
    Kind kind;
    const wchar_t* resolved;  // Below the tree's final path; "": unchecked.
  } cases[] = {
      {L"inst\\plain.txt", Kind::kPlain, L"inst\\plain.txt"},
      {L"inst\\sub", Kind::kPlain, L"inst\\sub"},
      {L"inst\\missing.txt", Kind::kMissing, L"inst\\missing.txt"},
      {L"inst\\dirlink", Kind::kLink, L"inst\\dirlink"},
      {L"inst\\inlink", Kind::kLink, L"inst\\inlink"},
      // Under Wine a link to a file lists as a plain file.
      {L"inst\\filelink", Kind::kLink, L"inst\\filelink"},
      {L"inst\\fileinlink", Kind::kLink, L"inst\\fileinlink"},
      // Behind a link: judged where it really is.
      {L"inst\\dirlink\\c.txt", Kind::kPlain, L"out\\dir\\c.txt"},
      {L"inst\\inlink\\a.txt", Kind::kPlain, L"inst\\sub\\a.txt"},
      {L"inst\\sub\\nested\\dir\\c.txt", Kind::kPlain, L"out\\dir\\c.txt"},
      {L"inst\\sub\\nested\\missing", Kind::kMissing, L"out\\missing"},
      // Its folder is missing too: the name as given.
      {L"inst\\missing\\deeper", Kind::kMissing, L""},
      // Wildcards to a listing: never judged as some other entry.
      {L"inst\\bad<name", Kind::kUnknown, L""},
      {L"inst\\plain.tx?", Kind::kUnknown, L""},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(FilePath(test.path).AsUTF8());
    const ResolvedEntry entry = ResolvedEntry::Resolve(tree_.Path(test.path));
    EXPECT_EQ(test.kind, entry.kind());
    if (*test.resolved) {
      EXPECT_EQ(0, FilePath::CompareIgnoreCase(final_root.Append(test.resolved),
                                               entry.path()));
    }
  }
}

// Each way of deleting by name: a link stays or goes as a link, what it
// leads to never changes.
TEST_F(ResolvedEntryTest, DeletePathNeverReachesThroughALink) {
  const struct {
    const wchar_t* path;
    bool recursive;
  } cases[] = {
      {L"inst\\filelink", false},
      {L"inst\\dirlink", true},
      {L"inst\\*", true},
      {L"inst", true},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(FilePath(test.path).AsUTF8());
    // Wine resolves every link on open: none can be removed there.
    EXPECT_FALSE(DeletePath(tree_.Path(test.path), test.recursive));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), ::GetLastError());
    EXPECT_TRUE(tree_.CanariesKept());
  }
}

}  // namespace
}  // namespace base

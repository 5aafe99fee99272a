#include "base/files/resolved_entry.h"

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/test/temp_tree.h"
#include "base/test/unix_link.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Kind = ResolvedEntry::Kind;

// An installation with links planted in it, each to a folder or file
// outside holding a canary, or to something inside.
class PlantedLinks : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tree_.root().empty());
    tree_.MakeDir(L"inst\\sub");
    tree_.WriteFile(L"inst\\plain.txt", "plain");
    tree_.WriteFile(L"inst\\sub\\a.txt", "a");
    tree_.MakeDir(L"out\\dir");
    tree_.WriteFile(L"out\\canary.txt", "canary");
    tree_.WriteFile(L"out\\dir\\c.txt", "c");
    Plant(L"inst\\dirlink", L"out\\dir");
    Plant(L"inst\\inlink", L"inst\\sub");
    Plant(L"inst\\filelink", L"out\\canary.txt");
    Plant(L"inst\\fileinlink", L"inst\\plain.txt");
    Plant(L"inst\\sub\\nested", L"out");
  }

  void Plant(const wchar_t* link, const wchar_t* target) {
    links_.push_back(
        std::make_unique<ScopedUnixLink>(tree_.Path(link), tree_.Path(target)));
    if (!links_.back()->made())
      GTEST_SKIP() << "No Unix link can be made here: "
                   << FilePath(link).AsUTF8();
  }

  // Nothing outside changed.
  void ExpectCanariesKept() {
    EXPECT_EQ("canary", TempTree::ReadFile(tree_.Path(L"out\\canary.txt")));
    EXPECT_EQ("c", TempTree::ReadFile(tree_.Path(L"out\\dir\\c.txt")));
  }

  TempTree tree_;
  // After the tree: removed before it.
  std::vector<std::unique_ptr<ScopedUnixLink>> links_;
};

TEST_F(PlantedLinks, EachNameIsJudgedByWhatItResolvesTo) {
  const FilePath final_root = ResolvedEntry::GetFinalPath(tree_.root());
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
      {L"inst\\bad<name", Kind::kUnknown, L""},
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
TEST_F(PlantedLinks, DeletePathNeverReachesThroughALink) {
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
    const bool deleted = DeletePath(tree_.Path(test.path), test.recursive);
    // Wine resolves every link on open: none can be removed there.
    EXPECT_FALSE(deleted);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), ::GetLastError());
    ExpectCanariesKept();
  }
}

}  // namespace
}  // namespace base

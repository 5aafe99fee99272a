#include "base/files/resolved_entry.h"

#include <optional>
#include <string>

#include "base/files/file_util.h"
#include "base/test/planted_link_tree.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Kind = ResolvedEntry::Kind;

// The set-aside file inst\sub\a.old moved to `to`, below the tree.
void MoveAway(const PlantedLinkTree& tree, const wchar_t* to) {
  ::MoveFileW(tree.Path(L"inst\\sub\\a.old").value().c_str(),
              tree.Path(to).value().c_str());
}

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

// A judgement takes a name as a plain file by its handle alone only where
// the listing would: for every kind of name, and for both purposes, the
// verdict is the one the entry's listing gives.
TEST_F(ResolvedEntryTest, JudgementAgreesWithTheListing) {
  const FilePath long_name = tree_.Path(L"inst\\long_file_name.text");
  ASSERT_TRUE(::CopyFileW(tree_.Path(L"inst\\plain.txt").value().c_str(),
                          long_name.value().c_str(), TRUE));
  ASSERT_TRUE(::SetFileAttributesW(long_name.value().c_str(),
                                   FILE_ATTRIBUTE_READONLY));
  wchar_t short_path[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetShortPathNameW(long_name.value().c_str(), short_path,
                                    MAX_PATH));
  const std::wstring short_name = FilePath(short_path).BaseName().value();
  ASSERT_NE(short_name, L"long_file_name.text");
  const FilePath folder = ResolvedEntry::GetFinalPath(tree_.Path(L"inst"));
  ASSERT_FALSE(folder.empty());
  const std::wstring names[] = {
      L"plain.txt",  L"PLAIN.TXT",   L"sub",
      L"dirlink",    L"inlink",      L"filelink",
      L"fileinlink", L"missing.txt", L"plain.txt:stream",
      short_name,    L"long_file_name.text",
  };
  for (const auto purpose :
       {ResolvedEntry::Purpose::kToJudge, ResolvedEntry::Purpose::kToDelete}) {
    for (const std::wstring& name : names) {
      SCOPED_TRACE(FilePath(name).AsUTF8());
      const FilePath path = folder.Append(name);
      const ResolvedEntry judged =
          ResolvedEntry::ResolveIn(path, folder, purpose);
      WIN32_FIND_DATAW listed;
      const HANDLE find = ::FindFirstFileW(path.value().c_str(), &listed);
      if (find == INVALID_HANDLE_VALUE) {
        EXPECT_NE(Kind::kPlain, judged.kind());
        continue;
      }
      ::FindClose(find);
      const ResolvedEntry by_listing =
          ResolvedEntry::ResolveListed(path, folder, listed, purpose);
      EXPECT_EQ(by_listing.kind(), judged.kind());
      EXPECT_EQ(0,
                FilePath::CompareIgnoreCase(by_listing.path(), judged.path()));
      EXPECT_EQ(by_listing.attributes(), judged.attributes());
      EXPECT_EQ(by_listing.holds_handle(), judged.holds_handle());
    }
  }
  EXPECT_TRUE(tree_.CanariesKept());
}

// A file judged for deletion and renamed through its handle is known again
// by its index in its folder, whichever name of that folder reopens it;
// anything else under the name is not it, and nothing of it is deleted.
TEST_F(ResolvedEntryTest, ReopenFindsOnlyTheFileSetAsideInItsFolder) {
  const struct {
    const char* name;
    // Done to the set-aside file inst\sub\a.old before it is reopened.
    void (*change)(const PlantedLinkTree& tree);
    const wchar_t* reopened;
    Kind kind;
  } cases[] = {
      {"as set aside", [](const PlantedLinkTree&) {}, L"inst\\sub\\a.old",
       Kind::kPlain},
      {"its folder through a link to it", [](const PlantedLinkTree&) {},
       L"inst\\inlink\\a.old", Kind::kPlain},
      {"another file took the name",
       [](const PlantedLinkTree& tree) {
         MoveAway(tree, L"inst\\moved");
         ::CopyFileW(tree.Path(L"inst\\plain.txt").value().c_str(),
                     tree.Path(L"inst\\sub\\a.old").value().c_str(), TRUE);
       },
       L"inst\\sub\\a.old", Kind::kLink},
      {"the same file in another folder",
       [](const PlantedLinkTree& tree) { MoveAway(tree, L"inst\\a.old"); },
       L"inst\\a.old", Kind::kLink},
      {"a folder took the name",
       [](const PlantedLinkTree& tree) {
         MoveAway(tree, L"inst\\moved");
         ::CreateDirectoryW(tree.Path(L"inst\\sub\\a.old").value().c_str(),
                            nullptr);
       },
       L"inst\\sub\\a.old", Kind::kLink},
      {"gone",
       [](const PlantedLinkTree& tree) { MoveAway(tree, L"out\\moved"); },
       L"inst\\sub\\a.old", Kind::kMissing},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    PlantedLinkTree tree;
    ASSERT_TRUE(tree.made());
    std::optional<ResolvedEntry::FileId> id;
    {
      ResolvedEntry judged = ResolvedEntry::Resolve(
          tree.Path(L"inst\\sub\\a.txt"), ResolvedEntry::Purpose::kToDelete);
      id = judged.GetFileId();
      ASSERT_TRUE(id);
      ASSERT_TRUE(judged.RenameJudgedFile(tree.Path(L"inst\\sub\\a.old")));
    }
    test.change(tree);
    bool deleted = false;
    {
      ResolvedEntry reopened =
          ResolvedEntry::ReopenJudgedFile(tree.Path(test.reopened), *id);
      EXPECT_EQ(test.kind, reopened.kind());
      deleted = reopened.DeleteJudgedFile();
    }
    // Deleted only when it was the file set aside, in its own folder.
    EXPECT_EQ(test.kind == Kind::kPlain, deleted);
    EXPECT_EQ(test.kind == Kind::kLink,
              TempTree::Exists(tree.Path(test.reopened)));
    EXPECT_TRUE(tree.CanariesKept());
  }
}

}  // namespace
}  // namespace base

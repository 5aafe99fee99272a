#include "desktop/windows/installer/recovery/journal_scope.h"

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/resolved_entry.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/planted_link_tree.h"
#include "base/test/scoped_path_override.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Kind = RunJournal::Kind;
using Reach = ProductRegistryScope::CreatedKeyReach;

// The folders a first run makes for its shortcuts where a new profile has
// none are taken, and so are the folders above them; a folder beside or
// below them is not, nor is the drive.
TEST(JournalScopeTest, CreatedFoldersAreTheShortcutFoldersAndTheirParents) {
  base::ScopedTempFolder temp;
  const base::FilePath roaming = temp.path().Append(L"Roaming");
  const base::FilePath explorer =
      roaming.Append(L"Microsoft\\Internet Explorer");
  const base::FilePath quick_launch = explorer.Append(L"Quick Launch");
  const base::ScopedPathOverride override_quick_launch(base::kQuickLaunch,
                                                       quick_launch);
  base::FilePath desktop;
  ASSERT_TRUE(base::GetPathForKey(base::kDesktop, &desktop));
  const base::FilePath folder = temp.path().Append(L"inst");
  ASSERT_TRUE(base::CreateDirectory(folder));
  JournalScope scope(folder);
  ASSERT_TRUE(scope.valid());

  const struct {
    const char* label;
    base::FilePath path;
    bool allowed;
  } cases[] = {
      {"the Quick Launch folder", quick_launch, true},
      {"the folder above it", explorer, true},
      {"a folder further up", roaming, true},
      {"the desktop", desktop, true},
      {"a version folder", folder.Append(L"45.0.2548.0"), true},
      {"an empty folder beside a shell folder", explorer.Append(L"Other"),
       false},
      {"a folder below a shell folder", quick_launch.Append(L"Sub"), false},
      {"a folder below the desktop", desktop.Append(L"Sub"), false},
      {"through ..", quick_launch.Append(L"..\\Other"), false},
      {"the drive", base::FilePath(L"C:\\"), false},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    RunJournal::Entry entry;
    entry.kind = Kind::kCreatedFolder;
    entry.path = test.path;
    EXPECT_EQ(test.allowed, scope.Allows(entry));
  }
}

// A folder a dead run made is removed only by where it lies now, as a
// plain folder in reach: inside the installation folder, or a shortcut
// folder. A link, a folder reached through a link to outside, the
// installation folder itself or a folder elsewhere gives nothing to remove.
TEST(JournalScopeTest, FolderToRemoveIsAPlainOneInReach) {
  base::PlantedLinkTree tree;
  if (!tree.made())
    GTEST_SKIP() << "No Unix link can be made here";
  const base::FilePath quick_launch = tree.Path(L"out\\Quick Launch");
  ASSERT_TRUE(base::CreateDirectory(quick_launch));
  const base::ScopedPathOverride override_quick_launch(base::kQuickLaunch,
                                                       quick_launch);
  const base::FilePath root =
      base::ResolvedEntry::GetFinalPath(tree.Path(L"inst")).DirName();
  ASSERT_FALSE(root.empty());
  JournalScope scope(tree.Path(L"inst"));
  ASSERT_TRUE(scope.valid());

  const struct {
    const wchar_t* path;
    // Below the tree's final path; null: nothing to remove.
    const wchar_t* resolved;
  } cases[] = {
      {L"inst\\sub", L"inst\\sub"},
      {L"out\\Quick Launch", L"out\\Quick Launch"},
      {L"inst\\dirlink", nullptr},
      {L"inst\\inlink", nullptr},
      {L"inst\\sub\\nested", nullptr},
      {L"inst\\sub\\nested\\dir", nullptr},
      {L"inst\\dirlink\\c.txt", nullptr},
      {L"inst\\missing", nullptr},
      {L"inst", nullptr},
      {L"out\\dir", nullptr},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(base::FilePath(test.path).AsUTF8());
    const base::FilePath resolved =
        scope.ResolveFolderToRemove(tree.Path(test.path));
    if (test.resolved) {
      EXPECT_EQ(base::FilePath::CompareIgnoreCase(resolved,
                                                  root.Append(test.resolved)),
                0)
          << resolved.AsUTF8();
    } else {
      EXPECT_TRUE(resolved.empty()) << resolved.AsUTF8();
    }
  }
}

// A key a first run makes above the product's rows, system keys included,
// reaches only the product's part; a key below one of them that no row
// names is not the run's at all.
TEST(JournalScopeTest, CreatedParentKeysReachOnlyTheProductsPart) {
  base::ScopedTempFolder temp;
  JournalScope scope(temp.path());
  const std::wstring product =
      base::Utf8ToWide(GetProductName() + GetStreamName());

  const struct {
    const char* label;
    std::wstring key;
    Reach reach;
  } cases[] = {
      {"classes of a new profile", L"Software\\Classes", Reach::kProductPartOnly},
      {"the hive's software", L"Software", Reach::kProductPartOnly},
      {"no browser yet", L"Software\\Clients\\StartMenuInternet",
       Reach::kProductPartOnly},
      {"a row's own key below a file type that was there",
       L"Software\\Classes\\.pdf\\OpenWithProgIDs", Reach::kProductPartOnly},
      {"the product's document class", L"Software\\Classes\\" + product,
       Reach::kWholeTree},
      {"another type of classes", L"Software\\Classes\\txtfile", Reach::kNone},
      {"beside a row's key", L"Software\\Classes\\.pdf\\shell", Reach::kNone},
      {"below a row's key", L"Software\\Classes\\.pdf\\OpenWithProgIDs\\Sub",
       Reach::kNone},
      {"the run key", L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
       Reach::kNone},
      {"a trailing separator", L"Software\\Classes\\", Reach::kNone},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    EXPECT_EQ(test.reach, scope.registry().GetCreatedKeyReach(test.key));
    RunJournal::Entry entry;
    entry.kind = Kind::kCreatedKey;
    entry.root = HKEY_CURRENT_USER;
    entry.key = test.key;
    EXPECT_EQ(test.reach != Reach::kNone, scope.Allows(entry));
  }
}

}  // namespace
}  // namespace installer

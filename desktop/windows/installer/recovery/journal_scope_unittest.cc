#include "desktop/windows/installer/recovery/journal_scope.h"

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
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

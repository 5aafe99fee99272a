#include "base/win/shortcut.h"

#include <windows.h>

#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "gtest/gtest.h"

// The .lnk bytes themselves are checked by an independent reader in the
// end-to-end tests; these cover what only an in-process caller sees.

namespace base::win {
namespace {

class ShortcutTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_FALSE(folder_.path().empty());
    link_ = folder_.path().Append(L"Tarvo.lnk");
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    target_ = FilePath(std::wstring(system, length)).Append(L"notepad.exe");
  }

  ScopedCOMInitializer com_;
  ScopedTempFolder folder_;
  FilePath link_;
  FilePath target_;
};

TEST_F(ShortcutTest, CreateAlwaysOverwritesAnyFile) {
  HANDLE file = ::CreateFileW(link_.value().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ::WriteFile(file, "not a link", 10, &written, nullptr);
  ::CloseHandle(file);
  FilePath resolved;
  EXPECT_FALSE(ResolveShortcut(link_, &resolved));

  ShortcutProperties properties;
  properties.set_target(target_);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, kShortcutCreateAlways));
  ASSERT_TRUE(ResolveShortcut(link_, &resolved));
  EXPECT_EQ(0, FilePath::CompareIgnoreCase(target_, resolved));
  EXPECT_TRUE(ResolveShortcut(link_, nullptr));
}

TEST_F(ShortcutTest, ResolveReportsOnlyTheFieldsAskedFor) {
  ShortcutProperties properties;
  properties.set_target(target_);
  properties.set_arguments(L"--a");
  properties.set_description(L"Tarvo");
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, kShortcutCreateAlways));

  ShortcutProperties read;
  read.options = ShortcutProperties::kDualMode;  // Cleared by the read.
  ASSERT_TRUE(ResolveShortcutProperties(
      link_, ShortcutProperties::kArguments | ShortcutProperties::kIcon,
      &read));
  EXPECT_EQ(ShortcutProperties::kArguments | ShortcutProperties::kIcon,
            read.options);
  EXPECT_EQ(L"--a", read.arguments);
  EXPECT_TRUE(read.description.empty());
  EXPECT_TRUE(read.icon.empty());
}

TEST_F(ShortcutTest, AppUserModelFieldsAreAcceptedWithTheLink) {
  ShortcutProperties properties;
  properties.set_target(target_);
  properties.set_description(L"grouped");
  properties.set_app_id(L"Tarvo.Browser");
  properties.set_dual_mode(true);
  ASSERT_TRUE(CreateOrUpdateShortcut(link_, properties, kShortcutCreateAlways));
  ShortcutProperties read;
  ASSERT_TRUE(ResolveShortcutProperties(link_, ShortcutProperties::kDescription,
                                        &read));
  EXPECT_EQ(L"grouped", read.description);
  // Wine's link property store keeps nothing and cannot be read back
  // (GetValue gives E_NOTIMPL), so the stored id and flag are not asserted;
  // the property writes are checked against a fake in
  // propvariant_util_unittest.cc.
}

TEST_F(ShortcutTest, MissingLinksResolveAndUnpinToFalse) {
  ShortcutProperties read;
  EXPECT_FALSE(ResolveShortcutProperties(link_, ShortcutProperties::kTarget,
                                         &read));
  FilePath resolved;
  EXPECT_FALSE(ResolveShortcut(link_, &resolved));
  EXPECT_TRUE(resolved.empty());
  // A link that was never pinned has nothing to unpin. (Wine fails every
  // unpin, so success cannot be shown here.)
  EXPECT_FALSE(UnpinShortcutFromTaskbar(link_));
}

}  // namespace
}  // namespace base::win

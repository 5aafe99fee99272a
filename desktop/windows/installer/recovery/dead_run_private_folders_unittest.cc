#include "desktop/windows/installer/recovery/dead_run_private_folders.h"

#include <windows.h>

#include <sddl.h>

#include <iterator>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/test/text_file.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/system/private_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kUser[] = L"S-1-5-21-1-2-3-1001";

base::win::ScopedLocalAlloc<void> Sid(const std::wstring& text) {
  base::win::ScopedLocalAlloc<void> sid;
  EXPECT_TRUE(::ConvertStringSidToSidW(text.c_str(), sid.Receive())) << text;
  return sid;
}

// Wine keeps no list on a folder (it shows one made from the Unix mode, and
// every file the user's), so what a run decides on a folder's owner and
// list is proven here on the descriptors Windows would show.
TEST(DeadRunPrivateFoldersTest, OnlyTheAdministratorsOwnFolderIsTaken) {
  const std::wstring made = PrivateTempFolder::GetAccessListText(
      PrivateTempFolder::Owners::kAdministrators);
  ASSERT_EQ(made, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  const std::wstring wine_mode = std::wstring(L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;") +
                                 kUser + L")(A;OICI;0x1200a9;;;WD)";
  const struct {
    const char* label;
    std::wstring sddl;
    // The account this process runs as, when every process of it is an
    // administrator (the user account control off, as under Wine).
    const wchar_t* trusted_user;
    bool taken;
  } kCases[] = {
      {"as an elevated run makes it", L"O:BA" + made, nullptr, true},
      {"made by the system", L"O:SY" + made, nullptr, true},
      {"as Wine shows it", std::wstring(L"O:") + kUser + wine_mode, kUser,
       true},
      // A user made it and gave it the administrators' list: its owner may
      // rewrite the list at any time, and hold its files open.
      {"a user's, with the list", std::wstring(L"O:") + kUser + made, nullptr,
       false},
      {"Wine's, the control on", std::wstring(L"O:") + kUser + wine_mode,
       nullptr, false},
      {"users may write", L"O:BA" + made + L"(A;OICI;0x1301bf;;;BU)", nullptr,
       false},
      {"users may add files", L"O:BA" + made + L"(A;CI;0x2;;;AU)", nullptr,
       false},
      // No list at all lets everyone in.
      {"no list", L"O:BA", nullptr, false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    base::win::ScopedLocalAlloc<void> descriptor;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        test.sddl.c_str(), SDDL_REVISION_1, descriptor.Receive(), nullptr));
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(descriptor.Get(), &owner,
                                             &defaulted));
    ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl,
                                            &defaulted));
    const base::win::ScopedLocalAlloc<void> trusted =
        Sid(test.trusted_user ? test.trusted_user : L"S-1-0-0");
    EXPECT_EQ(DeadRunPrivateFolders::IsAdministratorsOwn(
                  owner, present ? dacl : nullptr,
                  test.trusted_user ? trusted.Get() : nullptr),
              test.taken);
  }
}

// A user may make the live-run event of a dead run's folder under its name:
// it must not keep the folder forever.
TEST(DeadRunPrivateFoldersTest, OnlyTheAdministratorsEventKeepsAFolderLive) {
  const struct {
    const wchar_t* owner;
    const wchar_t* trusted_user;
    bool live;
  } kCases[] = {
      {L"BA", nullptr, true},
      {L"SY", nullptr, true},
      {kUser, kUser, true},
      {kUser, nullptr, false},
      {L"S-1-5-21-1-2-3-1002", kUser, false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(testing::Message() << test.owner);
    const base::win::ScopedLocalAlloc<void> owner = Sid(test.owner);
    const base::win::ScopedLocalAlloc<void> trusted =
        Sid(test.trusted_user ? test.trusted_user : L"S-1-0-0");
    EXPECT_EQ(DeadRunPrivateFolders::IsRunsOwnEvent(
                  owner.Get(), test.trusted_user ? trusted.Get() : nullptr),
              test.live);
  }
}

// The live-run event as the platform makes it and shows its owner: a run
// that lets its folder outlive it (as the installer's copy does) and ends
// leaves a dead run's folder; a folder in use stays.
TEST(DeadRunPrivateFoldersTest, TakesADeadRunsFolderAndLeavesALiveOne) {
  PrivateTempFolder live(PrivateTempFolder::Owners::kAdministrators);
  ASSERT_TRUE(live.Create());
  base::FilePath dead;
  {
    PrivateTempFolder ended(PrivateTempFolder::Owners::kAdministrators);
    ASSERT_TRUE(ended.Create());
    ASSERT_TRUE(base::CreateDirectory(ended.path().Append(L"package")));
    ASSERT_TRUE(base::WriteTextFile(
        ended.path().Append(L"package").Append(L"installer.exe"), "MZ"));
    dead = ended.Release();
  }
  ASSERT_TRUE(base::PathExists(dead.Append(PrivateTempFolder::kMarkName)));

  DeadRunPrivateFolders::RemoveFromSystemTemp();

  EXPECT_FALSE(base::PathExists(dead));
  EXPECT_TRUE(base::PathExists(live.path().Append(PrivateTempFolder::kMarkName)));
}

// In the user's temporary folder, which is the user's to write, only what
// the installer's copy holds marks a folder as a dead copy's.
TEST(DeadRunPrivateFoldersTest, OnlyACopysNamesMakeACopysFolder) {
  constexpr const wchar_t* kMark = PrivateTempFolder::kMarkName;
  const struct {
    std::vector<std::wstring> names;
    bool copys;
  } kCases[] = {
      {{L"installer.exe", L"tarvo_installer.dll", kMark}, true},
      // What the copy's removal left: the mark goes last.
      {{L"tarvo_installer.dll", kMark}, true},
      {{kMark}, true},
      {{L"INSTALLER.EXE", L"Tarvo_Installer.dll", L"TARVO_PRIVATE_FOLDER.MARK"},
       true},
      {{L"installer.exe", L"tarvo_installer.dll"}, false},
      {{L"installer.exe", kMark, L"package"}, false},
      {{L"explorer.exe", kMark}, true},
      {{L"installer_helper.exe", kMark}, false},
      {{}, false},
  };
  for (size_t i = 0; i < std::size(kCases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(DeadRunPrivateFolders::AreCopysNames(kCases[i].names),
              kCases[i].copys);
  }
}

}  // namespace
}  // namespace installer

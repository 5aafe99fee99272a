#include "desktop/windows/installer/entry/folder_grant_check.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "desktop/windows/installer/system/utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr GrantRefusal kGrants = GrantRefusal::kNone;

GrantRefusal JudgeSidText(const wchar_t* text, SID_NAME_USE use) {
  base::win::ScopedLocalAlloc<void> sid;
  EXPECT_TRUE(::ConvertStringSidToSidW(text, sid.Receive())) << text;
  return FolderGrantCheck::JudgeTrustee(sid.Get(), use);
}

std::vector<BYTE> OwnSid() {
  HANDLE raw = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  const base::win::ScopedHandle token(raw);
  BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  EXPECT_TRUE(::GetTokenInformation(token.Get(), TokenUser, buffer,
                                    sizeof(buffer), &size));
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

TEST(FolderGrantCheckTest, OnlyOnePersonsOwnAccountIsATrustee) {
  const struct {
    const wchar_t* sid;
    SID_NAME_USE use;
    GrantRefusal expected;
  } kCases[] = {
      {L"S-1-5-21-1-2-3-1001", SidTypeUser, kGrants},
      {L"S-1-5-21-1-2-3-500", SidTypeUser, kGrants},
      {L"S-1-12-1-11-22-33-44", SidTypeUser, kGrants},
      // Domain Users and a local group of the same shape.
      {L"S-1-5-21-1-2-3-513", SidTypeGroup, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-21-1-2-3-1002", SidTypeAlias, GrantRefusal::kTrusteeNotOneUser},
      // Guest, and an account the lookup could not name.
      {L"S-1-5-21-1-2-3-501", SidTypeUser, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-21-1-2-3-1001", SidTypeUnknown,
       GrantRefusal::kTrusteeNotOneUser},
      // Well-known groups and identities, even when called users.
      {L"S-1-1-0", SidTypeWellKnownGroup, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-1-0", SidTypeUser, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-32-545", SidTypeAlias, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-11", SidTypeWellKnownGroup, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-18", SidTypeUser, GrantRefusal::kTrusteeNotOneUser},
      {L"S-1-5-21-1", SidTypeUser, GrantRefusal::kTrusteeNotOneUser},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(JudgeSidText(c.sid, c.use), c.expected) << c.sid << " " << c.use;
  EXPECT_EQ(FolderGrantCheck::JudgeTrustee(nullptr, SidTypeUser),
            GrantRefusal::kTrusteeNotOneUser);
}

// As the account database of this system describes them.
TEST(FolderGrantCheckTest, LookedUpGroupsAreRefusedAndTheOwnUserIsNot) {
  base::win::ScopedHandle token;
  HANDLE raw = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  token = base::win::ScopedHandle(raw);
  BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token.Get(), TokenUser, buffer,
                                    sizeof(buffer), &size));
  base::win::ScopedLocalAlloc<wchar_t> own;
  ASSERT_TRUE(::ConvertSidToStringSidW(
      reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, own.Receive()));

  for (const std::wstring& text :
       {std::wstring(own.Get()), std::wstring(L"S-1-1-0"),
        std::wstring(L"S-1-5-32-545"), std::wstring(L"S-1-5-11"),
        std::wstring(L"S-1-5-32-544"), std::wstring(L"S-1-5-18")}) {
    base::win::ScopedLocalAlloc<void> sid;
    ASSERT_TRUE(::ConvertStringSidToSidW(text.c_str(), sid.Receive()));
    wchar_t name[256];
    wchar_t domain[256];
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use = SidTypeUnknown;
    ASSERT_TRUE(::LookupAccountSidW(nullptr, sid.Get(), name, &name_size,
                                    domain, &domain_size, &use))
        << text;
    const bool own_account = text == own.Get();
    EXPECT_EQ(FolderGrantCheck::JudgeTrustee(sid.Get(), use),
              own_account ? kGrants : GrantRefusal::kTrusteeNotOneUser)
        << text << " " << use;
  }
}

constexpr wchar_t kAnna[] = L"S-1-5-21-1-2-3-1001";

// A system as the known-folder list and the list of profiles describe it;
// the trustee is Anna.
FolderGrantCheck TableSystem() {
  FolderGrantCheck::SystemFolders folders;
  for (const wchar_t* known :
       {L"C:\\Windows", L"C:\\Windows\\System32", L"C:\\Program Files",
        L"C:\\Program Files (x86)", L"C:\\Program Files\\Common Files",
        L"C:\\ProgramData", L"C:\\Users", L"C:\\Users\\Public",
        L"C:\\Users\\Public\\Desktop", L"C:\\Users\\anna\\Documents",
        L"C:\\Users\\anna\\AppData\\Local"}) {
    folders.known.push_back(base::FilePath(known));
  }
  for (const wchar_t* tree :
       {L"C:\\Windows", L"C:\\ProgramData\\Microsoft",
        L"C:\\Users\\anna\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu",
        L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
        L"D:\\Menu"}) {
    folders.trees.push_back(base::FilePath(tree));
  }
  UserProfiles profiles(
      base::FilePath(L"C:\\Users"),
      {{L"", base::FilePath(L"C:\\Users\\Public")},
       {L"", base::FilePath(L"C:\\Users\\Default")},
       {kAnna, base::FilePath(L"C:\\Users\\anna")},
       {L"S-1-5-21-1-2-3-1002", base::FilePath(L"C:\\Users\\bert")},
       {L"S-1-5-21-1-2-3-1003", base::FilePath(L"E:\\Profiles\\cleo")}});
  return FolderGrantCheck(std::move(folders), std::move(profiles), kAnna);
}

TEST(FolderGrantCheckTest, GrantsOnlyWhereAnInstallationGoes) {
  const struct {
    const wchar_t* folder;
    GrantRefusal expected;
  } kCases[] = {
      {L"C:\\Program Files\\Tarvo", kGrants},
      {L"C:\\PROGRAM FILES (X86)\\Tarvo", kGrants},
      {L"C:\\ProgramData\\Tarvo", kGrants},
      {L"C:\\Users\\anna\\AppData\\Local\\Tarvo", kGrants},
      {L"D:\\Tarvo", kGrants},
      // Compared name by name: a longer name is another folder.
      {L"C:\\Windowsill", kGrants},
      {L"C:\\ProgramData\\Microsoftish", kGrants},
      {L"C:\\Users\\annabel\\Tarvo", GrantRefusal::kSystemFolder},
      {L"", GrantRefusal::kNotLocalPath},
      {L"C:\\", GrantRefusal::kDriveRoot},
      {L"D:\\", GrantRefusal::kDriveRoot},
      // Every known folder itself.
      {L"C:\\Windows", GrantRefusal::kSystemFolder},
      {L"c:\\windows\\system32", GrantRefusal::kSystemFolder},
      {L"C:\\Program Files", GrantRefusal::kSystemFolder},
      {L"C:\\program files\\common files", GrantRefusal::kSystemFolder},
      {L"C:\\Program Files (x86)", GrantRefusal::kSystemFolder},
      {L"C:\\ProgramData", GrantRefusal::kSystemFolder},
      {L"C:\\Users", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\anna\\Documents", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\anna\\AppData\\Local", GrantRefusal::kSystemFolder},
      // Everything below the system's and every user's own folders.
      {L"C:\\Windows\\SysWOW64", GrantRefusal::kSystemFolder},
      {L"C:\\Windows\\Temp\\Tarvo", GrantRefusal::kSystemFolder},
      {L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\"
       L"Startup",
       GrantRefusal::kSystemFolder},
      {L"C:\\ProgramData\\Microsoft\\Crypto\\Tarvo",
       GrantRefusal::kSystemFolder},
      {L"C:\\Users\\anna\\AppData\\Roaming\\Microsoft\\Windows\\Start "
       L"Menu\\Programs\\Startup",
       GrantRefusal::kSystemFolder},
      {L"D:\\Menu\\Tarvo", GrantRefusal::kSystemFolder},
      // The Public and Default profiles, and every profile but Anna's own,
      // wherever it lies; Anna's profile itself too.
      {L"C:\\Users\\Public\\Desktop", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\Public\\Tarvo", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\Default\\AppData\\Tarvo", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\bert", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\bert\\AppData\\Local\\Tarvo", GrantRefusal::kSystemFolder},
      {L"E:\\Profiles\\cleo\\Tarvo", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\anna", GrantRefusal::kSystemFolder},
  };
  const FolderGrantCheck check = TableSystem();
  for (const auto& c : kCases) {
    EXPECT_EQ(check.JudgePath(base::FilePath(c.folder)), c.expected)
        << c.folder;
  }
}

TEST(FolderGrantCheckTest, SystemFoldersThatCannotBeFoundRefuseEveryFolder) {
  const FolderGrantCheck check{FolderGrantCheck::SystemFolders(),
                               UserProfiles(base::FilePath(L"C:\\Users"), {}),
                               kAnna};
  EXPECT_EQ(check.JudgePath(base::FilePath(L"D:\\Tarvo")),
            GrantRefusal::kSystemFolder);
}

// The system's own list: every known folder it names is refused, among
// them some that no fixed list of the installer names.
TEST(FolderGrantCheckTest, ThisSystemsFoldersAreRefusedAndATempFolderIsNot) {
  // The role's process lists them through COM.
  base::win::ScopedCOMInitializer com;
  base::win::ScopedLocalAlloc<wchar_t> own;
  ASSERT_TRUE(::ConvertSidToStringSidW(OwnSid().data(), own.Receive()));
  const FolderGrantCheck check = FolderGrantCheck::ForThisSystem(own.Get());
  for (const KNOWNFOLDERID* id :
       {&FOLDERID_Windows, &FOLDERID_System, &FOLDERID_Fonts,
        &FOLDERID_PublicDesktop, &FOLDERID_CommonStartup, &FOLDERID_Startup,
        &FOLDERID_Documents, &FOLDERID_LocalAppData, &FOLDERID_ProgramData,
        &FOLDERID_ProgramFiles, &FOLDERID_Profile}) {
    base::FilePath folder;
    ASSERT_TRUE(GetKnownFolderPath(*id, 0, &folder, false));
    EXPECT_EQ(check.JudgePath(ResolveLocalPath(folder)),
              GrantRefusal::kSystemFolder)
        << folder.AsUTF8();
  }
  base::FilePath startup;
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_CommonStartup, 0, &startup, false));
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(startup.Append(L"Tarvo"))),
            GrantRefusal::kSystemFolder);
  base::FilePath local;
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_LocalAppData, 0, &local, false));
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(local.Append(L"Tarvo"))),
            kGrants);
  base::ScopedTempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(temp.path().Append(L"Tarvo"))),
            kGrants);
}

constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kFolderLink =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

TEST(FolderGrantCheckTest, OnlyTheRecordedInstallationMayHoldAnything) {
  using Entries = std::vector<FolderGrantCheck::Entry>;
  const Entries installation = {{L"1.2548.0.7_0", kFolder},
                                {L"installation_status.xml", kFile},
                                {L"Launcher.EXE", kFile},
                                {L"k.bat", kFile}};
  const struct {
    const char* label;
    Entries entries;
    bool recorded;
    GrantRefusal expected;
  } kCases[] = {
      {"empty", {}, false, kGrants},
      {"empty and recorded", {}, true, kGrants},
      {"recorded", installation, true, kGrants},
      {"recorded, with foreign files", {{L"notes.txt", kFile}}, true, kGrants},
      // The names of an installation prove nothing: anyone can write them.
      {"an installation's names", installation, false,
       GrantRefusal::kForeignContents},
      {"a planted install log",
       {{L"service.exe", kFile},
        {L"config.ini", kFile},
        {L"installation_status.xml", kFile}},
       false, GrantRefusal::kForeignContents},
      {"an installer and a version folder",
       {{L"installer.exe", kFile}, {L"1.2.3.4", kFolder}},
       false, GrantRefusal::kForeignContents},
      {"a link among the recorded installation",
       {{L"installation_status.xml", kFile}, {L"1.2548.0.7", kFolderLink}},
       true, GrantRefusal::kLink},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FolderGrantCheck::JudgeContents(c.entries, c.recorded),
              c.expected)
        << c.label;
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/entry/folder_grant_check.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/paths/local_path.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr GrantRefusal kGrants = GrantRefusal::kNone;

GrantRefusal JudgeSidText(const wchar_t* text, SID_NAME_USE use) {
  base::win::ScopedLocalAlloc<void> sid;
  EXPECT_TRUE(::ConvertStringSidToSidW(text, sid.Receive())) << text;
  return FolderGrantCheck::JudgeTrustee(sid.Get(), use);
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

FolderGrantCheck TableSystem() {
  FolderGrantCheck::SystemFolders folders;
  folders.windows = base::FilePath(L"C:\\Windows");
  folders.user_profiles = base::FilePath(L"C:\\Users");
  for (const wchar_t* known :
       {L"C:\\Windows\\System32", L"C:\\Program Files",
        L"C:\\Program Files (x86)", L"C:\\Program Files\\Common Files",
        L"C:\\ProgramData", L"C:\\Users", L"C:\\Users\\Public"}) {
    folders.known.push_back(base::FilePath(known));
  }
  return FolderGrantCheck(std::move(folders));
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
      {L"", GrantRefusal::kNotLocalPath},
      {L"C:\\", GrantRefusal::kDriveRoot},
      {L"D:\\", GrantRefusal::kDriveRoot},
      {L"C:\\Windows", GrantRefusal::kSystemFolder},
      {L"c:\\windows\\system32", GrantRefusal::kSystemFolder},
      {L"C:\\Windows\\SysWOW64", GrantRefusal::kSystemFolder},
      {L"C:\\Windows\\Temp\\Tarvo", GrantRefusal::kSystemFolder},
      {L"C:\\Program Files", GrantRefusal::kSystemFolder},
      {L"C:\\program files\\common files", GrantRefusal::kSystemFolder},
      {L"C:\\Program Files (x86)", GrantRefusal::kSystemFolder},
      {L"C:\\ProgramData", GrantRefusal::kSystemFolder},
      {L"C:\\Users", GrantRefusal::kSystemFolder},
      {L"C:\\Users\\Public", GrantRefusal::kSystemFolder},
      // Any user's profile, not only the known ones.
      {L"C:\\Users\\anna", GrantRefusal::kSystemFolder},
  };
  const FolderGrantCheck check = TableSystem();
  for (const auto& c : kCases) {
    EXPECT_EQ(check.JudgePath(base::FilePath(c.folder)), c.expected)
        << c.folder;
  }
}

TEST(FolderGrantCheckTest, SystemFoldersThatCannotBeFoundRefuseEveryFolder) {
  const FolderGrantCheck check{FolderGrantCheck::SystemFolders()};
  EXPECT_EQ(check.JudgePath(base::FilePath(L"D:\\Tarvo")),
            GrantRefusal::kSystemFolder);
}

TEST(FolderGrantCheckTest, ThisSystemsFoldersAreRefusedAndATempFolderIsNot) {
  const FolderGrantCheck check = FolderGrantCheck::ForThisSystem();
  wchar_t windows[MAX_PATH];
  ASSERT_NE(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const base::FilePath system = base::FilePath(windows).Append(L"system32");
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(system)),
            GrantRefusal::kSystemFolder);
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(base::FilePath(windows))),
            GrantRefusal::kSystemFolder);
  base::ScopedTempFolder temp;
  ASSERT_FALSE(temp.path().empty());
  EXPECT_EQ(check.JudgePath(ResolveLocalPath(temp.path().Append(L"Tarvo"))),
            kGrants);
}

constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE;
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;
constexpr DWORD kFolderLink =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

TEST(FolderGrantCheckTest, ContentsMustBeAnInstallationOfTheProduct) {
  using Entries = std::vector<FolderGrantCheck::Entry>;
  const struct {
    const char* label;
    Entries entries;
    GrantRefusal expected;
  } kCases[] = {
      {"empty", {}, kGrants},
      {"a version folder", {{L"1.2548.0.7", kFolder}}, kGrants},
      {"an installation",
       {{L"1.2548.0.7_0", kFolder},
        {L"installation_status.xml", kFile},
        {L"Launcher.EXE", kFile},
        {L"installer_prefs.json", kFile},
        {L"old_status", kFolder},
        {L"k.bat", kFile}},
       kGrants},
      // Its root files vary with its package.
      {"root files beside the log",
       {{L"INSTALLATION_STATUS.XML", kFile}, {L"root.dat", kFile}},
       kGrants},
      {"the former generation's",
       {{L"tarvo_install_log.xml", kFile}, {L"notes", kFolder}},
       kGrants},
      {"a foreign file",
       {{L"notes.txt", kFile}},
       GrantRefusal::kForeignContents},
      {"a foreign folder beside a version folder",
       {{L"1.2548.0.7", kFolder}, {L"System32", kFolder}},
       GrantRefusal::kForeignContents},
      {"the log's name as a folder",
       {{L"installation_status.xml", kFolder}, {L"notes.txt", kFile}},
       GrantRefusal::kForeignContents},
      {"a short version",
       {{L"1.2548.0", kFolder}},
       GrantRefusal::kForeignContents},
      {"a version with a bad counter",
       {{L"1.2548.0.7_x", kFolder}},
       GrantRefusal::kForeignContents},
      {"a product file's name as a folder",
       {{L"launcher.exe", kFolder}},
       GrantRefusal::kForeignContents},
      {"a link among an installation",
       {{L"installation_status.xml", kFile}, {L"1.2548.0.7", kFolderLink}},
       GrantRefusal::kLink},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(FolderGrantCheck::JudgeContents(c.entries), c.expected)
        << c.label;
}

}  // namespace
}  // namespace installer

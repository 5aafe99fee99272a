#include "desktop/windows/installer/system/private_temp_folder.h"

#include <windows.h>

#include <sddl.h>

#include <string>

#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::wstring CurrentUserSid() {
  HANDLE raw = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw));
  const base::win::ScopedHandle token(raw);
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  base::win::ScopedLocalAlloc<wchar_t> text;
  EXPECT_TRUE(::GetTokenInformation(token.Get(), TokenUser, buffer,
                                    sizeof(buffer), &size));
  EXPECT_TRUE(::ConvertSidToStringSidW(
      reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, text.Receive()));
  return text.Get();
}

base::FilePath FromKey(int key) {
  base::FilePath path;
  EXPECT_TRUE(base::GetPathForKey(key, &path));
  return path;
}

TEST(PrivateTempFolderTest, FolderAdmitsOnlyItsOwnersAndGoesWithTheObject) {
  const struct {
    PrivateTempFolder::Owners owners;
    base::FilePath parent;
    // Protected ("P"): nothing of the parent's list reaches it. Full access
    // (FA) for each owner, passed on to what is made inside (OICI).
    std::wstring dacl;
  } kCases[] = {
      {PrivateTempFolder::Owners::kCurrentUser, FromKey(base::kTempDir),
       L"D:P(A;OICI;FA;;;" + CurrentUserSid() + L")"},
      {PrivateTempFolder::Owners::kAdministrators,
       FromKey(base::kWindowsDir).Append(L"Temp"),
       L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.dacl);
    base::FilePath made;
    {
      PrivateTempFolder first(test.owners);
      PrivateTempFolder second(test.owners);
      ASSERT_TRUE(first.Create());
      ASSERT_TRUE(second.Create());
      made = first.path();
      EXPECT_NE(first.path(), second.path());
      EXPECT_EQ(made.DirName(), test.parent);
      // Wine keeps no list on a folder (it shows one made from the Unix
      // mode), so the list is read as Windows writes the descriptor the
      // folder is made with.
      EXPECT_EQ(PrivateTempFolder::GetAccessListText(test.owners), test.dacl);
      const std::string data = "unpacked";
      ASSERT_EQ(base::WriteBufferToFile(made.Append(L"inside.exe"),
                                        data.data(),
                                        static_cast<int>(data.size())),
                static_cast<int>(data.size()));
    }
    EXPECT_FALSE(base::PathExists(made));
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/wininet/wininet_error_text.h"

#include <windows.h>

#include <wininet.h>

#include <string>

#include "base/log_message.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(WinInetErrorTextTest, WinInetErrorsTakeWininetsOwnText) {
  // Loaded by the downloader's callers; the test loads it itself.
  ASSERT_TRUE(::LoadLibraryW(L"wininet.dll"));
  for (DWORD code : {DWORD{ERROR_INTERNET_TIMEOUT},
                     DWORD{ERROR_INTERNET_NAME_NOT_RESOLVED},
                     DWORD{ERROR_INTERNET_CANNOT_CONNECT},
                     DWORD{ERROR_INTERNET_CONNECTION_RESET}}) {
    ::SetLastError(ERROR_SUCCESS);
    const std::string text = WinInetErrorText(code);
    char hex[16];
    snprintf(hex, sizeof(hex), "(0x%lX)", code);
    EXPECT_NE(std::string::npos, text.find(hex)) << text;
    // Neither the thread's last error nor a failed look-up in the system's
    // table.
    EXPECT_EQ(std::string::npos, text.find("Success")) << text;
    EXPECT_EQ(std::string::npos, text.find("while retrieving")) << text;
    EXPECT_GT(text.size(), std::string(hex).size() + 4) << text;
  }
}

TEST(WinInetErrorTextTest, RangeBoundsAndSystemErrors) {
  EXPECT_FALSE(IsWinInetError(11999));
  EXPECT_TRUE(IsWinInetError(12000));
  EXPECT_TRUE(IsWinInetError(12175));
  EXPECT_FALSE(IsWinInetError(12176));
  EXPECT_EQ(base::SystemErrorCodeToString(ERROR_ACCESS_DENIED),
            WinInetErrorText(ERROR_ACCESS_DENIED));
}

}  // namespace
}  // namespace installer

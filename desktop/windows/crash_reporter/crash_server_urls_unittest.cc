#include "desktop/windows/crash_reporter/crash_server_urls.h"

#include <windows.h>

#include <string>

#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_server_handshake.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/test/scoped_token_rights.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(CrashServerUrlsTest, EmailJoinsTheQueryEncoded) {
  struct {
    const wchar_t* url;
    const char* email;
    const wchar_t* expected;
  } const kCases[] = {
      {L"http://crash.example/", "a+b@x.example",
       L"http://crash.example/?email=a%2Bb%40x.example"},
      {L"http://crash.example/?p=1", "a&b=c", L"http://crash.example/?p=1&email=a%26b%3Dc"},
      {L"http://crash.example/?", "a", L"http://crash.example/?email=a"},
      {L"http://crash.example/?p=1&", "a", L"http://crash.example/?p=1&email=a"},
      {L"http://crash.example/#top", "a#b c", L"http://crash.example/?email=a%23b%20c#top"},
      {L"http://crash.example/", "\xc3\xbc.-_~", L"http://crash.example/?email=%C3%BC.-_~"},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(test.expected, AppendEmailToUrl(test.url, test.email)) << test.url;
}

using test::ScopedCommandLine;
using test::ScopedVariable;

TEST(CrashServerUrlsTest, VariablesOverBrandingAndTheProductsEmailVariable) {
  const test::ScopedTokenRights token(test::kStandardUserToken);
  internal::SetBrandingForTesting(
      R"({"product_name": "Kilo", "urls": {"crash": "http://crash.example/c",
          "crashstats_collector": "http://stats.example/s"}})");
  {
    ScopedVariable email(L"KILO_CRASH_EMAIL", L"me@kilo.example");
    InitCrashServerUrls();
    EXPECT_EQ(L"http://crash.example/c?email=me%40kilo.example", GetCrashServerUrl());
    EXPECT_EQ(L"http://stats.example/s", GetAlternativeCrashServerUrl());
  }
  {
    ScopedVariable crash(L"TARVO_CRASH_SERVER_URL", L"http://127.0.0.1/x");
    ScopedVariable alternative(L"TARVO_ALTERNATIVE_CRASH_SERVER_URL",
                               L"http://127.0.0.1/y");
    InitCrashServerUrls();
    EXPECT_EQ(L"http://127.0.0.1/x", GetCrashServerUrl());
    EXPECT_EQ(L"http://127.0.0.1/y", GetAlternativeCrashServerUrl());
  }
  internal::ClearBrandingForTesting();
}

// The environment of a process that may run elevated is the user's: the
// places it names (the crash folder, the servers) are taken only by a run
// for this user with a standard user's token, while values sent as they
// are still come.
TEST(CrashServerUrlsTest, ElevatedRunTakesNoPlaceFromTheEnvironment) {
  internal::SetBrandingForTesting(
      R"({"product_name": "Kilo", "urls": {"crash": "http://crash.example/c",
          "crashstats_collector": "http://stats.example/s"}})");
  const ScopedVariable folder(L"TARVO_CRASH_LOG_DIR", L"C:\\chosen");
  const ScopedVariable crash(L"TARVO_CRASH_SERVER_URL", L"http://127.0.0.1/x");
  const ScopedVariable alternative(L"TARVO_ALTERNATIVE_CRASH_SERVER_URL",
                                   L"http://127.0.0.1/y");
  const ScopedVariable email(L"KILO_CRASH_EMAIL", L"me@kilo.example");
  const wchar_t kChosenUrl[] = L"http://127.0.0.1/x?email=me%40kilo.example";
  const wchar_t kBrandedUrl[] = L"http://crash.example/c?email=me%40kilo.example";
  const struct {
    const wchar_t* arguments;
    TokenRights token;
    bool chosen;
  } kCases[] = {
      {L"", test::kStandardUserToken, true},
      {L"--allusers=0", test::kStandardUserToken, true},
      {L"--allusers=1", test::kStandardUserToken, false},
      {L"", test::kLimitedAdministratorToken, true},
      {L"", test::kAdministratorToken, false},
      {L"--allusers=0", test::kAdministratorToken, false},
      {L"", TokenRights{.system_enabled = true}, false},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(::testing::Message()
                 << row.arguments << " token elevated "
                 << ProcessElevation::IsElevated(row.token));
    const ScopedCommandLine command_line(row.arguments);
    const test::ScopedTokenRights token(row.token);
    EXPECT_EQ(row.chosen ? "C:\\chosen" : "", GetCrashLogDirOverride());
    InitCrashServerUrls();
    EXPECT_EQ(row.chosen ? kChosenUrl : kBrandedUrl, GetCrashServerUrl());
    EXPECT_EQ(row.chosen ? L"http://127.0.0.1/y" : L"http://stats.example/s",
              GetAlternativeCrashServerUrl());
  }
  internal::ClearBrandingForTesting();
}

TEST(CrashServerHandshakeTest, FtpCrashServerIsAFailure) {
  ScopedVariable crash(L"TARVO_CRASH_SERVER_URL", L"ftp://127.0.0.1/crash");
  InitCrashServerUrls();
  std::wstring report_id;
  std::wstring location;
  EXPECT_EQ(kCrashServerHandshakeFailed,
            CrashServerHandshake(L"", L"", &report_id, &location, 3000));
}

}  // namespace
}  // namespace installer

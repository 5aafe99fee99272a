#include "desktop/windows/crash_reporter/crash_server_urls.h"

#include <windows.h>

#include <string>

#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_server_handshake.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/installer/product/branding.h"
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
// for this user, while values sent as they are still come. The all-users
// switch stands for elevation here: Wine reports every process's token as
// raised, but with UAC off, which makes no process elevated by its token.
TEST(CrashServerUrlsTest, AllUsersRunTakesNoPlaceFromTheEnvironment) {
  internal::SetBrandingForTesting(
      R"({"product_name": "Kilo", "urls": {"crash": "http://crash.example/c",
          "crashstats_collector": "http://stats.example/s"}})");
  const ScopedVariable folder(L"TARVO_CRASH_LOG_DIR", L"C:\\chosen");
  const ScopedVariable crash(L"TARVO_CRASH_SERVER_URL", L"http://127.0.0.1/x");
  const ScopedVariable alternative(L"TARVO_ALTERNATIVE_CRASH_SERVER_URL",
                                   L"http://127.0.0.1/y");
  const ScopedVariable email(L"KILO_CRASH_EMAIL", L"me@kilo.example");
  const struct {
    const wchar_t* arguments;
    const char* folder;
    const wchar_t* crash_url;
    const wchar_t* alternative_url;
  } kCases[] = {
      {L"", "C:\\chosen", L"http://127.0.0.1/x?email=me%40kilo.example",
       L"http://127.0.0.1/y"},
      {L"--allusers=0", "C:\\chosen",
       L"http://127.0.0.1/x?email=me%40kilo.example", L"http://127.0.0.1/y"},
      {L"--allusers=1", "", L"http://crash.example/c?email=me%40kilo.example",
       L"http://stats.example/s"},
  };
  for (const auto& test : kCases) {
    const ScopedCommandLine command_line(test.arguments);
    EXPECT_EQ(test.folder, GetCrashLogDirOverride()) << test.arguments;
    InitCrashServerUrls();
    EXPECT_EQ(test.crash_url, GetCrashServerUrl()) << test.arguments;
    EXPECT_EQ(test.alternative_url, GetAlternativeCrashServerUrl())
        << test.arguments;
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

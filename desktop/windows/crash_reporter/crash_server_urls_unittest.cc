#include "desktop/windows/crash_reporter/crash_server_urls.h"

#include <windows.h>

#include <string>

#include "desktop/windows/crash_reporter/crash_server_handshake.h"
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

// The variables of a test run, removed again afterwards.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedVariable() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

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

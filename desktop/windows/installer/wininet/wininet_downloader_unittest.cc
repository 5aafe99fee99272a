#include "desktop/windows/installer/wininet/wininet_downloader.h"

#include <windows.h>

#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/time/time_delta.h"
#include "desktop/windows/installer/wininet/url_parts.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(WinInetDownloaderTest, HostMustBeAnAllowedSuffixOrLieInsideOne) {
  const std::vector<std::wstring> allowed = {L"Example.org", L".tarvo.example",
                                             L"127.0.0.1", L"localhost"};
  const struct {
    const wchar_t* host;
    bool allowed;
  } kCases[] = {
      {L"example.org", true},
      {L"EXAMPLE.ORG", true},
      {L"download.example.org", true},
      {L"a.b.Example.Org", true},
      {L"xexample.org", false},
      {L"example.org.evil.net", false},
      {L"org", false},
      {L"tarvo.example", true},
      {L"get.tarvo.example", true},
      {L"127.0.0.1", true},
      {L"10.127.0.0.1", false},
      {L"evil.127.0.0.1", false},
      {L"localhost", true},
      {L"LocalHost", true},
      {L"evil.localhost", false},
      {L"227.0.0.1", false},
      {L"", false},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(test.allowed, WinInetDownloader::IsDomainAllowed(allowed, test.host))
        << test.host;
  }
  EXPECT_TRUE(WinInetDownloader::IsDomainAllowed({}, L"anything.net"));
}

TEST(WinInetDownloaderTest, UrlPathKeepsItsEscapesAndDropsTheFragment) {
  const struct {
    const wchar_t* url;
    int scheme;
    const wchar_t* host;
    int port;
    const wchar_t* path;
  } kCases[] = {
      {L"http://h.example:8080/a%2Bb%3Dc%2Fd?sig=x%2By#part",
       INTERNET_SCHEME_HTTP, L"h.example", 8080, L"/a%2Bb%3Dc%2Fd?sig=x%2By"},
      {L"https://h.example", INTERNET_SCHEME_HTTPS, L"h.example", 443, L"/"},
      {L"http://h.example?q=%20", INTERNET_SCHEME_HTTP, L"h.example", 80,
       L"/?q=%20"},
  };
  for (const auto& test : kCases) {
    UrlParts parts;
    ASSERT_TRUE(CrackUrl(test.url, &parts)) << test.url;
    EXPECT_EQ(test.scheme, parts.scheme) << test.url;
    EXPECT_EQ(test.host, parts.host) << test.url;
    EXPECT_EQ(test.port, parts.port) << test.url;
    EXPECT_EQ(test.path, parts.path) << test.url;
  }
}

TEST(WinInetDownloaderTest, UrlsOutsideTheLimitsDoNotParse) {
  UrlParts parts;
  EXPECT_FALSE(CrackUrl(L"not a url", &parts));
  EXPECT_FALSE(CrackUrl(L"http:///path", &parts));
  EXPECT_FALSE(
      CrackUrl(L"http://" + std::wstring(256, L'h') + L".example/", &parts));
  EXPECT_TRUE(CrackUrl(L"http://h/" + std::wstring(4094, L'p'), &parts));
  EXPECT_FALSE(CrackUrl(L"http://h/" + std::wstring(4095, L'p'), &parts));
}

// An attempt that waited in vain uses up the retries that an unreachable
// server, failing at once and retried every 6 s, would have had meanwhile:
// the whole wait of a download stays within the retry limit's hour.
TEST(WinInetDownloaderTest, WaitInVainCountsAsTheRetriesItsTimeHeld) {
  const struct {
    int64_t waited_ms;
    int retries;
  } kCases[] = {
      {-5, 0},     {0, 0},      {5999, 0},   {6000, 1},
      {60000, 10}, {65999, 10}, {66000, 11}, {4 * 3600 * 1000LL, 2400},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(test.retries,
              WinInetDownloader::RetriesWaited(
                  base::TimeDelta::FromMilliseconds(test.waited_ms)))
        << test.waited_ms;
  }
}

}  // namespace
}  // namespace installer

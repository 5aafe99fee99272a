#include "desktop/windows/installer/wininet/redirect_target.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RedirectTargetTest, OnlyRedirectsWithATargetAreFollowedAndFewKeepAPost) {
  const struct {
    int status;
    bool followed;
    bool keeps_post;
  } kCases[] = {
      {300, false, false}, {301, true, false},  {302, true, false},
      {303, true, false},  {304, false, false}, {305, false, false},
      {306, false, false}, {307, true, true},   {308, true, true},
      {200, false, false},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(test.followed, IsRedirectStatus(test.status)) << test.status;
    EXPECT_EQ(test.keeps_post, RedirectKeepsPost(test.status)) << test.status;
  }
}

TEST(RedirectTargetTest, LocationIsResolvedAgainstTheAnsweringUrlAndChecked) {
  const std::wstring from = L"http://get.tarvo.example/dir/first?x=1";
  const std::vector<std::wstring> allowed = {L"tarvo.example"};
  const struct {
    const wchar_t* location;
    // Empty when the redirect is refused.
    const wchar_t* url;
    const wchar_t* path;
    const char* error;
  } kCases[] = {
      {L"/final", L"http://get.tarvo.example/final", L"/final", ""},
      {L"final", L"http://get.tarvo.example/dir/final", L"/dir/final", ""},
      {L"../a%2Bb?s=x%2By%3D", L"http://get.tarvo.example/a%2Bb?s=x%2By%3D",
       L"/a%2Bb?s=x%2By%3D", ""},
      {L"//cdn.tarvo.example/p", L"http://cdn.tarvo.example/p", L"/p", ""},
      {L"HTTPS://Cdn.Tarvo.Example:8443/p", nullptr, L"/p", ""},
      {L"http://tarvo.example.evil.net/p", L"", nullptr,
       "Redirect URL is disallowed http://tarvo.example.evil.net/p"},
      {L"file:///C:/windows/win.ini", L"", nullptr,
       "Redirect URL is disallowed file:///C:/windows/win.ini"},
      {L"ftp://get.tarvo.example/p", L"", nullptr,
       "Redirect URL is disallowed ftp://get.tarvo.example/p"},
      {L"\\\\get.tarvo.example\\share\\p.exe", L"", nullptr,
       "Redirect URL is disallowed \\\\get.tarvo.example\\share\\p.exe"},
      {L"/\\get.tarvo.example/share", L"", nullptr,
       "Redirect URL is disallowed /\\get.tarvo.example/share"},
      {L"http:///p", L"", nullptr, "Redirect URL failed to parse http:///p"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.location);
    RedirectTarget target;
    std::string error;
    const bool followed =
        ResolveRedirect(from, test.location, allowed, &target, &error);
    EXPECT_EQ(error, test.error);
    EXPECT_EQ(followed, error.empty());
    if (!followed)
      continue;
    if (test.url)
      EXPECT_EQ(target.url, test.url);
    EXPECT_EQ(target.parts.path, test.path);
  }
}

TEST(RedirectTargetTest, AnyHostWithoutAllowedSuffixesButStillOnlyHttp) {
  RedirectTarget target;
  std::string error;
  EXPECT_TRUE(ResolveRedirect(L"http://a.example/", L"https://b.example:8443/p",
                              {}, &target, &error));
  EXPECT_EQ(target.parts.host, L"b.example");
  EXPECT_EQ(target.parts.port, 8443);
  EXPECT_FALSE(ResolveRedirect(L"http://a.example/", L"file://b.example/p", {},
                               &target, &error));
}

}  // namespace
}  // namespace installer

#include "base/win/ui_languages.h"

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::win {
namespace {

using Names = std::vector<std::wstring>;

// What the stand-in for the thread language API answers; Wine's own list is
// always just "en-US", so the interesting lists must be made up.
struct FakeThreadLanguages {
  bool size_call_succeeds = true;
  bool fill_call_succeeds = true;
  ULONG language_count = 0;
  std::wstring list;  // Written as is, terminators included where given.
  DWORD flags_seen = 0;
};

FakeThreadLanguages g_fake;
LANGID g_user_language = 0;

BOOL WINAPI FakeThreadPreferredUiLanguages(DWORD flags,
                                           PULONG language_count,
                                           PZZWSTR buffer,
                                           PULONG buffer_size) {
  g_fake.flags_seen = flags;
  const ULONG needed = static_cast<ULONG>(g_fake.list.size());
  if (!buffer) {
    *buffer_size = needed;
    return g_fake.size_call_succeeds;
  }
  if (!g_fake.fill_call_succeeds || *buffer_size < needed)
    return FALSE;
  std::copy(g_fake.list.begin(), g_fake.list.end(), buffer);
  *buffer_size = needed;
  *language_count = g_fake.language_count;
  return TRUE;
}

LANGID WINAPI FakeUserDefaultUiLanguage() {
  return g_user_language;
}

TEST(PreferredUiLanguages, ThreadListOrFallbackToUserLanguage) {
  const std::wstring kGermanAndEnglish(L"de-DE\0de\0en-US\0en\0\0", 20);
  const Names kUserGerman = {L"de-DE", L"de"};
  const struct {
    const char* label;
    FakeThreadLanguages fake;
    Names names;
  } kCases[] = {
      {"list in order", {true, true, 4, kGermanAndEnglish},
       {L"de-DE", L"de", L"en-US", L"en"}},
      {"unterminated list ends at its size", {true, true, 1, L"fr-FR"},
       {L"fr-FR"}},
      {"size call fails", {false, true, 4, kGermanAndEnglish}, kUserGerman},
      {"size zero", {true, true, 1, L""}, kUserGerman},
      {"fill call fails", {true, false, 4, kGermanAndEnglish}, kUserGerman},
      {"no language", {true, true, 0, kGermanAndEnglish}, kUserGerman},
      {"only terminators", {true, true, 1, std::wstring(2, L'\0')},
       kUserGerman},
  };
  g_user_language = 0x0407;
  for (const auto& c : kCases) {
    g_fake = c.fake;
    Names names = {L"kept"};
    EXPECT_TRUE(GetPreferredUiLanguagesFrom(
        {&FakeThreadPreferredUiLanguages, &FakeUserDefaultUiLanguage}, &names))
        << c.label;
    Names expected = {L"kept"};
    expected.insert(expected.end(), c.names.begin(), c.names.end());
    EXPECT_EQ(expected, names) << c.label;
    // Names, merged with the user's and the system's fallbacks.
    EXPECT_EQ(0x38u, g_fake.flags_seen) << c.label;
  }
}

TEST(PreferredUiLanguages, UserLanguageWhenTheThreadApiIsMissing) {
  const struct {
    LANGID language;
    bool known;
    Names names;
  } kCases[] = {
      {0x0407, true, {L"de-DE", L"de"}},
      {0x0409, true, {L"en-US", L"en"}},
      {0x0816, true, {L"pt-PT", L"pt"}},
      {0x0C0A, true, {L"es-ES", L"es"}},
      // A neutral sublanguage names no region.
      {0x0007, true, {L"de"}},
      // The custom UI default has no locale of its own.
      {0x1400, false, {}},
      {0x00FF, false, {}},
  };
  for (const auto& c : kCases) {
    g_user_language = c.language;
    Names names;
    EXPECT_EQ(c.known, GetPreferredUiLanguagesFrom(
                           {nullptr, &FakeUserDefaultUiLanguage}, &names))
        << c.language;
    EXPECT_EQ(c.names, names) << c.language;
  }
}

TEST(PreferredUiLanguages, SystemListHasNames) {
  EXPECT_TRUE(GetSystemUiLanguageSource().thread_languages);
  Names names;
  ASSERT_TRUE(GetPreferredUiLanguages(&names));
  ASSERT_FALSE(names.empty());
  for (const std::wstring& name : names) {
    EXPECT_GE(name.size(), 2u);
    EXPECT_EQ(std::wstring::npos, name.find(L'\0'));
  }
}

}  // namespace
}  // namespace base::win

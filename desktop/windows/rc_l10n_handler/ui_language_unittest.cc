#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/test/scoped_log_capture.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The test executable carries the host's resources: the languages en-US,
// de, fr, nb, pt-PT, es-419 and zh-TW (the list ends with a line end) and
// the installer's strings in each of them.
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

bool Logged(const base::ScopedLogCapture& log, const std::string& text) {
  return std::find(log.lines().begin(), log.lines().end(), text) !=
         log.lines().end();
}

// The system's preferred languages for one test; Wine offers only en-US.
class ScopedPreferredLanguages {
 public:
  explicit ScopedPreferredLanguages(std::vector<std::wstring> languages)
      : languages_(std::move(languages)) {
    internal::SetPreferredUiLanguagesForTesting(&languages_);
  }
  ScopedPreferredLanguages(const ScopedPreferredLanguages&) = delete;
  ScopedPreferredLanguages& operator=(const ScopedPreferredLanguages&) = delete;
  ~ScopedPreferredLanguages() {
    internal::SetPreferredUiLanguagesForTesting(nullptr);
  }

 private:
  const std::vector<std::wstring> languages_;
};

struct SelectionCase {
  const char* name;
  const wchar_t* requested;
  std::vector<std::wstring> preferred;
  const wchar_t* chosen;
  LANGID language;
};

class SelectUiLanguageTest : public testing::TestWithParam<SelectionCase> {};

TEST_P(SelectUiLanguageTest, ChoosesOfferedLanguage) {
  const SelectionCase& test = GetParam();
  ScopedPreferredLanguages preferred(test.preferred);
  std::wstring tag = test.requested;
  SelectUiLanguage(&tag);
  EXPECT_EQ(tag, test.chosen);
  EXPECT_EQ(GetUiLanguage(), test.language);
}

INSTANTIATE_TEST_SUITE_P(
    Requests,
    SelectUiLanguageTest,
    testing::Values(
        SelectionCase{"Offered", L"de", {L"fr-FR"}, L"de", 1031},
        SelectionCase{"OldPortugueseCode", L"PT", {}, L"pt-PT", 2070},
        SelectionCase{"OldNorwegianCode", L"no", {}, L"nb", 1044},
        SelectionCase{"SpanishOfMexico", L"xx", {L"es-MX"}, L"es-419", 2058},
        SelectionCase{"SpanishOfSpainRetriesBase",
                      L"xx", {L"es-ES", L"fr-FR"}, L"fr", 1036},
        SelectionCase{"ChineseOfHongKong", L"xx", {L"zh-HK"}, L"zh-TW", 1028},
        SelectionCase{"ChineseOfSingaporeIsNotOffered",
                      L"xx", {L"zh-SG"}, L"en", 1033},
        // Offered, but the tag table knows only "en" and "en-gb".
        SelectionCase{"EnglishOfUsHasNoIdentifier",
                      L"xx", {L"en-US", L"en"}, L"en-US", 0},
        // An empty request is never an available language.
        SelectionCase{"EmptyRequestTakesSystemLanguage",
                      L"", {L"de-DE", L"de"}, L"de", 1031},
        SelectionCase{"NothingFits", L"", {}, L"en", 1033}),
    [](const testing::TestParamInfo<SelectionCase>& info) {
      return std::string(info.param.name);
    });

TEST(UiLanguageTest, FallbackToEnglishIsLoggedAsWarning) {
  ScopedPreferredLanguages preferred({L"ja-JP", L"ja"});
  base::ScopedLogCapture log;
  std::wstring tag = L"xx";
  SelectUiLanguage(&tag);
  EXPECT_TRUE(Logged(log, "Language not in the available languages list: xx"));
  EXPECT_TRUE(Logged(log, "Trying language from system preferred list: ja-JP"));
  EXPECT_TRUE(Logged(log, "Retrying after adjustments: ja"));
  EXPECT_TRUE(Logged(log, "Falling back to english"));
}

TEST(UiLanguageTest, AvailableLanguagesAreTheHostsLines) {
  const std::vector<std::wstring> expected = {
      L"en-US", L"de", L"fr", L"nb", L"pt-PT", L"es-419", L"zh-TW"};
  EXPECT_EQ(LoadAvailableLanguages(), expected);
  EXPECT_TRUE(IsLanguageAvailable(L"ZH-tw"));
  EXPECT_FALSE(IsLanguageAvailable(L""));
  EXPECT_FALSE(IsLanguageAvailable(L"zh"));
  EXPECT_FALSE(IsLanguageAvailable(L"d\u00e9"));
}

TEST(UiLanguageTest, TagsMapToLanguageIdentifiers) {
  struct {
    const wchar_t* tag;
    LANGID language;
  } const cases[] = {
      {L"EN-GB", 2057}, {L"fake-bidi", 1037}, {L"userdefault", 1024},
      {L"neutral", 0},  {L"", 0},             {L"english", 0},
  };
  for (const auto& test : cases)
    EXPECT_EQ(LanguageTagToLcid(test.tag), test.language) << test.tag;
}

// Every tag of the table against the identifier the system gives the same
// language's name. Where the table uses an older or a stand-in name, the
// system's name of that language is given.
TEST(UiLanguageTest, TagsMapToTheSystemsLanguageIdentifiers) {
  struct {
    const wchar_t* tag;
    const wchar_t* system_name;  // null: the tag itself
    LANGID fixed;                // for names this system does not know
  } const cases[] = {
      {L"af"}, {L"am"}, {L"ar"}, {L"az"}, {L"be"}, {L"bg"},
      {L"bn", L"bn-IN"}, {L"ca"}, {L"cs"}, {L"da"}, {L"de"}, {L"el"},
      {L"en"}, {L"en-gb"}, {L"es"}, {L"es-419", L"es-MX"}, {L"et"}, {L"eu"},
      {L"fa"}, {L"fake-bidi", L"he"}, {L"fi"}, {L"fil"}, {L"fr"},
      {L"fr-ca"}, {L"fy"}, {L"gd"}, {L"gl"}, {L"gu"}, {L"he"}, {L"hi"},
      {L"hr"}, {L"hu"}, {L"id"}, {L"is"}, {L"it"}, {L"iw", L"he"}, {L"ja"},
      {L"kk"}, {L"kn"}, {L"ko"}, {L"lt"}, {L"lv"},
      {L"me", nullptr, MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN)},
      {L"mk"}, {L"ml"}, {L"mr"}, {L"ms"}, {L"nb"}, {L"ne"}, {L"nl"},
      {L"nn"}, {L"no"}, {L"or"}, {L"pa"}, {L"pl"}, {L"pt-br"}, {L"pt-pt"},
      {L"ro"}, {L"ru"}, {L"sa"}, {L"si"}, {L"sk"}, {L"sl"},
      {L"sr", nullptr, MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_CYRILLIC)},
      {L"sv"}, {L"sw"}, {L"ta"}, {L"te"}, {L"th"}, {L"ti"},
      {L"tl", nullptr, LOCALE_USER_DEFAULT}, {L"tr"}, {L"uk"}, {L"ur"},
      {L"userdefault", nullptr, LOCALE_USER_DEFAULT}, {L"uz"}, {L"vi"},
      {L"zh-cn"}, {L"zh-hk"}, {L"zh-tw"}, {L"zu"},
  };
  for (const auto& test : cases) {
    const LANGID expected =
        test.system_name || !test.fixed
            ? static_cast<LANGID>(::LocaleNameToLCID(
                  test.system_name ? test.system_name : test.tag, 0))
            : test.fixed;
    EXPECT_NE(expected, 0) << test.tag;
    EXPECT_EQ(LanguageTagToLcid(test.tag), expected) << test.tag;
  }
}

// Each offered language's block, as the installer looks it up, holds every
// text of the English one with the same placeholders and links.
TEST(UiLanguageTest, EveryOfferedLanguageHasEveryText) {
  const LANGID english = static_cast<LANGID>(::LocaleNameToLCID(L"en-US", 0));
  for (const std::wstring& tag : LoadAvailableLanguages()) {
    const LANGID language = LanguageTagToLcid(tag);
    for (int id = 37000; id <= 37099; ++id) {
      base::ScopedLogCapture missing_strings_are_expected;
      const std::wstring original = LoadStringResource(english, id, {});
      if (original.empty())
        continue;
      const std::wstring text = LoadStringResource(language, id, {});
      EXPECT_FALSE(text.empty()) << tag << " " << id;
      EXPECT_EQ(text.find(L"$1") != text.npos,
                original.find(L"$1") != original.npos)
          << tag << " " << id;
      EXPECT_EQ(text.find(L"<a href=\"tos\">") != text.npos,
                original.find(L"<a href=\"tos\">") != original.npos)
          << tag << " " << id;
    }
  }
}

TEST(UiLanguageTest, StringIsReadInTheGivenLanguage) {
  EXPECT_EQ(LoadStringResource(kEnglish, 37059, {L"C:\\Tarvo"}),
            L"The folder C:\\Tarvo could not be created.");
  EXPECT_EQ(LoadStringResource(kGerman, 37059, {L"C:\\Tarvo"}),
            L"Der Ordner C:\\Tarvo konnte nicht erstellt werden.");
  EXPECT_EQ(GetLocalizedStringForLanguage(L"de", 37051), L"Deutsch");
  EXPECT_EQ(GetLocalizedStringForLanguage(L"en", 37051),
            L"English (United States)");
}

TEST(UiLanguageTest, PlaceholderStaysWithoutArguments) {
  EXPECT_EQ(LoadStringResource(kEnglish, 37062, {}),
            L"Error when copying file to $1.");
}

TEST(UiLanguageTest, LocalizedStringsFollowTheSelectedLanguage) {
  ScopedPreferredLanguages preferred({});
  std::wstring tag = L"de";
  SelectUiLanguage(&tag);
  EXPECT_EQ(GetLocalizedString(37051), L"Deutsch");
  EXPECT_EQ(GetLocalizedStringWithArg(37062, L"D:\\a.dll"),
            L"Fehler beim Kopieren der Datei nach D:\\a.dll.");
}

TEST(UiLanguageTest, MissingStringIsEmpty) {
  base::ScopedLogCapture log;
  // Same block as 37051, but not in the table.
  EXPECT_EQ(LoadStringResource(kEnglish, 37050, {}), L"");
  // A block the host does not have.
  EXPECT_EQ(LoadStringResource(kEnglish, 1000, {L"x"}), L"");
  ASSERT_FALSE(log.lines().empty());
  EXPECT_EQ(log.lines().back().rfind("Failed to find string", 0), 0u)
      << log.lines().back();
  EXPECT_EQ(LoadStringResource(kEnglish, -1, {}), L"");
}

// The unit tests carry a damaged block whose first entry claims more
// characters than the block holds.
TEST(UiLanguageTest, TruncatedStringBlockGivesEmptyString) {
  base::ScopedLogCapture log;
  EXPECT_EQ(LoadStringResource(kEnglish, 40000, {L"x"}), L"");
  EXPECT_EQ(LoadStringResource(kEnglish, 40001, {}), L"");
  ASSERT_FALSE(log.lines().empty());
  EXPECT_NE(log.lines().back().find("truncated"), std::string::npos)
      << log.lines().back();
}

}  // namespace
}  // namespace installer

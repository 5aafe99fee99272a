#ifndef BASE_WIN_UI_LANGUAGES_H_
#define BASE_WIN_UI_LANGUAGES_H_

#include <windows.h>

#include <string>
#include <vector>

namespace base::win {

// Appends the user's preferred UI languages, most preferred first, as names
// such as "en-US" followed by their fallbacks ("en"). False when none is
// known.
bool GetPreferredUiLanguages(std::vector<std::wstring>* out);

// The system functions the list comes from; tests substitute their own,
// since a test system offers only one language.
struct UiLanguageSource {
  using ThreadLanguagesFunction = BOOL(WINAPI*)(DWORD flags,
                                                PULONG language_count,
                                                PZZWSTR buffer,
                                                PULONG buffer_size);
  using UserLanguageFunction = LANGID(WINAPI*)();

  // Null where the system lacks the function (before Vista).
  ThreadLanguagesFunction thread_languages;
  UserLanguageFunction user_default_language;
};

UiLanguageSource GetSystemUiLanguageSource();
bool GetPreferredUiLanguagesFrom(const UiLanguageSource& source,
                                 std::vector<std::wstring>* out);

}  // namespace base::win

#endif  // BASE_WIN_UI_LANGUAGES_H_

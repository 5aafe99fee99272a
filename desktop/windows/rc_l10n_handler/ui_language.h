#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_

#include <windows.h>

#include <string>
#include <vector>

namespace installer {

// The installer's interface language: one process-wide Windows language
// identifier, chosen among the languages the host executable offers
// (resource "TXT" 134, one tag per line), and the string table read in it.

// The string `string_id` of the host's string table in `language`, with
// "$1".."$9" replaced by `arguments` when any are given.
std::wstring LoadStringResource(LANGID language,
                                int string_id,
                                const std::vector<std::wstring>& arguments);
std::wstring GetLocalizedString(int string_id);
std::wstring GetLocalizedStringWithArg(int string_id,
                                       const std::wstring& argument);
std::wstring GetLocalizedStringForLanguage(const std::wstring& tag,
                                           int string_id);

std::vector<std::wstring> LoadAvailableLanguages();
bool IsLanguageAvailable(const std::wstring& tag);
// 0 for unknown tags and the empty tag.
LANGID LanguageTagToLcid(const std::wstring& tag);
// Turns `tag` into an available language (the system's preferred languages
// when `tag` is not available, "en" at last), rewrites it to the chosen tag
// and makes that the current interface language.
void SelectUiLanguage(std::wstring* tag);
LANGID GetUiLanguage();

namespace internal {
// Test-only: SelectUiLanguage takes the system's preferred languages from
// `languages` while it is set (a test system offers only one); null restores
// the system's list. `languages` must outlive its use.
void SetPreferredUiLanguagesForTesting(
    const std::vector<std::wstring>* languages);
}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_

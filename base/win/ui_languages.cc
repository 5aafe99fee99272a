#include "base/win/ui_languages.h"

#include <algorithm>

namespace base::win {

namespace {

// Names such as "en-US", with the user's and the system's fallbacks merged in.
constexpr DWORD kThreadLanguageFlags =
    MUI_LANGUAGE_NAME | MUI_MERGE_SYSTEM_FALLBACK | MUI_MERGE_USER_FALLBACK;

// LOCALE_CUSTOM_UI_DEFAULT: a language without a locale of its own.
constexpr LANGID kCustomUiDefault = 0x1400;

// ISO 639 and ISO 3166 names are at most 8 characters and the terminator.
constexpr int kLocaleNameChars = 9;

// Appends the names of a list of NUL-terminated names that ends with an
// empty one, never reading past `size` characters.
void AppendNameList(const wchar_t* list, size_t size,
                    std::vector<std::wstring>* out) {
  const wchar_t* const end = list + size;
  for (const wchar_t* name = list; name < end && *name;) {
    const wchar_t* name_end = std::find(name, end, L'\0');
    out->emplace_back(name, name_end);
    name = name_end + 1;
  }
}

bool AppendThreadLanguages(UiLanguageSource::ThreadLanguagesFunction function,
                           std::vector<std::wstring>* out) {
  ULONG count = 0;
  ULONG size = 0;
  if (!function(kThreadLanguageFlags, &count, nullptr, &size) || size == 0)
    return false;
  std::vector<wchar_t> buffer(size);
  if (!function(kThreadLanguageFlags, &count, buffer.data(), &size) ||
      count == 0) {
    return false;
  }
  const size_t names_before = out->size();
  AppendNameList(buffer.data(), std::min<size_t>(size, buffer.size()), out);
  return out->size() > names_before;
}

// The locale's name part of `type`; empty when it has none.
std::wstring LocaleName(LANGID language, LCTYPE type) {
  wchar_t name[kLocaleNameChars] = {};
  const int count = GetLocaleInfoW(MAKELCID(language, SORT_DEFAULT), type,
                                    name, kLocaleNameChars);
  // The count includes the terminator.
  if (count < 2)
    return std::wstring();
  return std::wstring(name, count - 1);
}

bool AppendUserLanguage(LANGID language, std::vector<std::wstring>* out) {
  if (language == kCustomUiDefault)
    return false;
  const std::wstring name = LocaleName(language, LOCALE_SISO639LANGNAME);
  if (name.empty())
    return false;
  // Below 0x400 the sublanguage is neutral: a language without a region.
  const std::wstring region = language >= 0x400
                                  ? LocaleName(language, LOCALE_SISO3166CTRYNAME)
                                  : std::wstring();
  if (!region.empty())
    out->push_back(name + L"-" + region);
  out->push_back(name);
  return true;
}

}  // namespace

UiLanguageSource GetSystemUiLanguageSource() {
  UiLanguageSource source = {};
  if (HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll")) {
    source.thread_languages =
        reinterpret_cast<UiLanguageSource::ThreadLanguagesFunction>(
            reinterpret_cast<void*>(
                GetProcAddress(kernel32, "GetThreadPreferredUILanguages")));
  }
  source.user_default_language = &GetUserDefaultUILanguage;
  return source;
}

bool GetPreferredUiLanguagesFrom(const UiLanguageSource& source,
                                 std::vector<std::wstring>* out) {
  if (source.thread_languages &&
      AppendThreadLanguages(source.thread_languages, out)) {
    return true;
  }
  return AppendUserLanguage(source.user_default_language(), out);
}

bool GetPreferredUiLanguages(std::vector<std::wstring>* out) {
  return GetPreferredUiLanguagesFrom(GetSystemUiLanguageSource(), out);
}

}  // namespace base::win

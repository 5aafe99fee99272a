#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include <atomic>
#include <cstdint>

#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/strings/placeholder_substitution.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/win/ui_languages.h"

namespace installer {
namespace {

constexpr wchar_t kTextResourceType[] = L"TXT";
constexpr int kAvailableLanguagesResourceId = 134;
constexpr int kStringsPerBlock = 16;
// Block numbers are 16-bit resource ids counted from 1.
constexpr int kLastStringId = 0xFFFF * kStringsPerBlock - 1;

struct LanguageTag {
  const char* tag;  // lower case
  LANGID language;
};

// "fake-bidi" reads the Hebrew strings, for right-to-left testing; "tl" and
// "userdefault" stand for the user's default language.
constexpr LanguageTag kLanguageTags[] = {
    {"af", 1078},        {"am", 1118},     {"ar", 1025},     {"az", 1068},
    {"be", 1059},        {"bg", 1026},     {"bn", 1093},     {"ca", 1027},
    {"cs", 1029},        {"da", 1030},     {"de", 1031},     {"el", 1032},
    {"en", 1033},        {"en-gb", 2057},  {"es", 3082},     {"es-419", 2058},
    {"et", 1061},        {"eu", 1069},     {"fa", 1065},     {"fake-bidi", 1037},
    {"fi", 1035},        {"fil", 1124},    {"fr", 1036},     {"fr-ca", 3084},
    {"fy", 1122},        {"gd", 1169},     {"gl", 1110},     {"gu", 1095},
    {"he", 1037},        {"hi", 1081},     {"hr", 1050},     {"hu", 1038},
    {"id", 1057},        {"is", 1039},     {"it", 1040},     {"iw", 1037},
    {"ja", 1041},        {"kk", 1087},     {"kn", 1099},     {"ko", 1042},
    {"lt", 1063},        {"lv", 1062},     {"me", 2074},     {"mk", 1071},
    {"ml", 1100},        {"mr", 1102},     {"ms", 1086},     {"nb", 1044},
    {"ne", 1121},        {"neutral", 0},   {"nl", 1043},     {"nn", 2068},
    {"no", 1044},        {"or", 1096},     {"pa", 1094},     {"pl", 1045},
    {"pt-br", 1046},     {"pt-pt", 2070},  {"ro", 1048},     {"ru", 1049},
    {"sa", 1103},        {"si", 1115},     {"sk", 1051},     {"sl", 1060},
    {"sr", 3098},        {"sv", 1053},     {"sw", 1089},     {"ta", 1097},
    {"te", 1098},        {"th", 1054},     {"ti", 2163},     {"tl", 1024},
    {"tr", 1055},        {"uk", 1058},     {"ur", 1056},     {"userdefault", 1024},
    {"uz", 1091},        {"vi", 1066},     {"zh-cn", 2052},  {"zh-hk", 3076},
    {"zh-tw", 1028},     {"zu", 1077},
};

// Old codes that the host's language list knows by their newer names.
struct TagRename {
  const char* from;  // lower case
  const wchar_t* to;
};

constexpr TagRename kOldLanguageCodes[] = {
    {"no", L"nb"},
    {"pt", L"pt-PT"},
    {"tl", L"fil"},
};

// What a system language name "<base>-<region>" is retried as when the
// name itself is not offered. A null region matches every region not listed
// before it for the same base.
struct RegionAdjustment {
  const char* base;    // lower case
  const char* region;  // lower case
  const wchar_t* tag;  // null: keep the name whole
};

constexpr RegionAdjustment kRegionAdjustments[] = {
    {"es", "es", L"es"},        {"es", nullptr, L"es-419"},
    {"zh", "hk", L"zh-TW"},     {"zh", "mo", L"zh-TW"},
    {"zh", nullptr, L"zh-CN"},  {"en", "au", L"en-GB"},
    {"en", "ca", L"en-GB"},     {"en", "nz", L"en-GB"},
    {"en", "za", L"en-GB"},     {"en", nullptr, L"en-US"},
    {"no", nullptr, L"nb"},     {"fil", nullptr, L"tl"},
};

constexpr wchar_t kFallbackLanguage[] = L"en";

// The interface language of the process; written by SelectUiLanguage on the
// main thread, read from any.
struct CurrentUiLanguage {
  std::atomic<LANGID> language{0};
};

constinit base::LazyGlobalInstance<CurrentUiLanguage> g_ui_language(
    base::LazyGlobalLifetime::kDestroyAtExit);

// Set by tests only; stands for the system's preferred languages.
const std::vector<std::wstring>* g_preferred_languages_for_testing = nullptr;

std::wstring ToLowerAsciiWide(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z')
      c = c - L'A' + L'a';
  }
  return text;
}

// The bytes of resource `id` of type "TXT" of the host executable.
std::string ReadHostTextResource(int id) {
  HRSRC resource =
      FindResourceW(nullptr, MAKEINTRESOURCEW(id), kTextResourceType);
  if (!resource)
    return std::string();
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(nullptr, resource);
  if (!bytes || size == 0)
    return std::string();
  return std::string(static_cast<const char*>(bytes), size);
}

// Entry `index` of a string-table block: 16 entries, each a length in
// UTF-16 units followed by that many units. False when the block is too short.
bool ReadStringTableEntry(const wchar_t* block,
                          size_t block_units,
                          int index,
                          std::wstring* text) {
  size_t position = 0;
  for (int entry = 0; entry <= index; ++entry) {
    if (position >= block_units)
      return false;
    const size_t length = static_cast<uint16_t>(block[position++]);
    if (length > block_units - position)
      return false;
    if (entry == index)
      text->assign(block + position, length);
    position += length;
  }
  return true;
}

void ConvertOldLanguageCode(std::wstring* tag) {
  for (const TagRename& rename : kOldLanguageCodes) {
    if (base::WideLowerCaseEqualsAscii(*tag, rename.from)) {
      VLOG(1) << "Language converted from ISO631:" << tag->c_str();
      *tag = rename.to;
      return;
    }
  }
}

// The tag to retry a system language name as: its base, adjusted for the
// region where the host offers regional variants.
std::wstring AdjustSystemLanguageName(const std::wstring& name) {
  const size_t dash = name.find(L'-');
  if (dash == std::wstring::npos || dash == 0)
    return name;
  const std::wstring base = name.substr(0, dash);
  const std::wstring region = name.substr(dash + 1);
  for (const RegionAdjustment& adjustment : kRegionAdjustments) {
    if (!base::WideLowerCaseEqualsAscii(base, adjustment.base))
      continue;
    if (!adjustment.region ||
        base::WideLowerCaseEqualsAscii(region, adjustment.region)) {
      return adjustment.tag;
    }
  }
  return base;
}

std::vector<std::wstring> GetPreferredLanguages() {
  if (g_preferred_languages_for_testing)
    return *g_preferred_languages_for_testing;
  std::vector<std::wstring> languages;
  base::win::GetPreferredUiLanguages(&languages);
  return languages;
}

void SetUiLanguage(LANGID language) {
  g_ui_language.Get()->language.store(language);
}

// Makes `tag` the interface language when the host offers it.
bool TrySelect(const std::wstring& tag) {
  if (!IsLanguageAvailable(tag))
    return false;
  SetUiLanguage(LanguageTagToLcid(tag));
  return true;
}

}  // namespace

std::wstring LoadStringResource(LANGID language,
                                int string_id,
                                const std::vector<std::wstring>& arguments) {
  if (string_id < 0 || string_id > kLastStringId) {
    LOG(ERROR) << "Failed to find string " << string_id;
    return std::wstring();
  }
  const int block_id = string_id / kStringsPerBlock + 1;
  HRSRC resource = FindResourceExW(nullptr, RT_STRING,
                                   MAKEINTRESOURCEW(block_id), language);
  if (!resource) {
    PLOG(ERROR) << "Failed to find string";
    return std::wstring();
  }
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (!loaded) {
    PLOG(ERROR) << "Failed to load string";
    return std::wstring();
  }
  const auto* block = static_cast<const wchar_t*>(LockResource(loaded));
  if (!block) {
    PLOG(ERROR) << "Failed to lock string";
    return std::wstring();
  }
  const size_t block_units = SizeofResource(nullptr, resource) / sizeof(wchar_t);
  std::wstring text;
  if (!ReadStringTableEntry(block, block_units, string_id % kStringsPerBlock,
                            &text)) {
    LOG(ERROR) << "Failed to load string " << string_id
               << ": the string table is truncated";
    return std::wstring();
  }
  if (arguments.empty())
    return text;
  return base::SubstituteWidePlaceholders(text, arguments, nullptr);
}

std::wstring GetLocalizedString(int string_id) {
  return LoadStringResource(GetUiLanguage(), string_id, {});
}

std::wstring GetLocalizedStringWithArg(int string_id,
                                       const std::wstring& argument) {
  return LoadStringResource(GetUiLanguage(), string_id, {argument});
}

std::wstring GetLocalizedStringForLanguage(const std::wstring& tag,
                                           int string_id) {
  return LoadStringResource(LanguageTagToLcid(tag), string_id, {});
}

std::vector<std::wstring> LoadAvailableLanguages() {
  const std::string bytes = ReadHostTextResource(kAvailableLanguagesResourceId);
  // One character per byte: the tags are ASCII.
  std::wstring text;
  text.reserve(bytes.size());
  for (char byte : bytes)
    text.push_back(static_cast<unsigned char>(byte));
  if (text.empty())
    return {};
  return base::SplitWideByChar(text, L'\n', base::TRIM_WHITESPACE,
                               base::SPLIT_WANT_ALL);
}

bool IsLanguageAvailable(const std::wstring& tag) {
  // The list's empty lines (a final line end makes one) name no language:
  // an empty request must go on to the system's preferred languages.
  if (tag.empty() || !base::IsStringAscii(tag))
    return false;
  const std::wstring lower_tag = ToLowerAsciiWide(tag);
  for (const std::wstring& language : LoadAvailableLanguages()) {
    if (ToLowerAsciiWide(language) == lower_tag)
      return true;
  }
  return false;
}

LANGID LanguageTagToLcid(const std::wstring& tag) {
  VLOG(1) << "Looking up LCID for " << tag.c_str();
  for (const LanguageTag& entry : kLanguageTags) {
    if (base::WideLowerCaseEqualsAscii(tag, entry.tag))
      return entry.language;
  }
  return 0;
}

void SelectUiLanguage(std::wstring* tag) {
  ConvertOldLanguageCode(tag);
  if (TrySelect(*tag))
    return;
  LOG(INFO) << "Language not in the available languages list: "
            << tag->c_str();
  for (const std::wstring& name : GetPreferredLanguages()) {
    *tag = name;
    LOG(INFO) << "Trying language from system preferred list: "
              << tag->c_str();
    if (TrySelect(*tag))
      return;
    *tag = AdjustSystemLanguageName(name);
    LOG(INFO) << "Retrying after adjustments: " << tag->c_str();
    if (TrySelect(*tag))
      return;
  }
  *tag = kFallbackLanguage;
  LOG(WARNING) << "Falling back to english";
  SetUiLanguage(LanguageTagToLcid(*tag));
}

LANGID GetUiLanguage() {
  return g_ui_language.Get()->language.load();
}

namespace internal {

void SetPreferredUiLanguagesForTesting(
    const std::vector<std::wstring>* languages) {
  g_preferred_languages_for_testing = languages;
}

}  // namespace internal

}  // namespace installer

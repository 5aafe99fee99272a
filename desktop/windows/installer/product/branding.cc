#include "desktop/windows/installer/product/branding.h"

#include <windows.h>

#include "base/json/json_reader.h"
#include "base/lazy_global.h"
#include "base/path_service.h"
#include "base/strings/string_format.h"

namespace installer {
namespace {

constexpr wchar_t kBrandingResourceType[] = L"TXT";
constexpr int kBrandingResourceId = 133;
// Test harnesses that are not the host carry the configuration in this
// module beside the executable.
constexpr wchar_t kFallbackModuleName[] = L"_tvautolib.pyd";

// The resource's bytes, or an empty string when `module` lacks it.
std::string ReadBrandingResource(HMODULE module) {
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kBrandingResourceId),
                                 kBrandingResourceType);
  if (!resource)
    return std::string();
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (!bytes || size == 0)
    return std::string();
  return std::string(static_cast<const char*>(bytes), size);
}

// The fallback module is loaded only from the executable's own folder and
// only as data: a planted file of that name elsewhere on the search path
// must never run.
std::string ReadFallbackBrandingResource() {
  base::FilePath exe_dir;
  if (!base::GetPathForKey(base::kExeDir, &exe_dir))
    return std::string();
  const base::FilePath module_path = exe_dir.Append(kFallbackModuleName);
  HMODULE module = LoadLibraryExW(
      module_path.value().c_str(), nullptr,
      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module)
    return std::string();
  std::string text = ReadBrandingResource(module);
  FreeLibrary(module);
  return text;
}

struct BrandingHolder {
  BrandingHolder() {
    std::string text = ReadBrandingResource(nullptr);
    if (text.empty())
      text = ReadFallbackBrandingResource();
    dictionary = internal::ParseBrandingText(text);
  }
  base::DictionaryValueOwner dictionary;
};

constinit base::LazyGlobalInstance<BrandingHolder> g_branding(
    base::LazyGlobalLifetime::kDestroyAtExit);

// Set by tests only. While set it stands for the configuration, also when
// its text held no dictionary.
struct BrandingForTesting {
  bool active = false;
  base::DictionaryValueOwner dictionary;
};
BrandingForTesting g_branding_for_testing;

std::string GetBrandingString(const char* key) {
  std::string value;
  if (const base::DictionaryValue* branding = GetBrandingDictionary())
    branding->GetString(key, &value);
  return value;
}

int32_t GetBrandingInteger(const char* key) {
  int32_t value = 0;
  if (const base::DictionaryValue* branding = GetBrandingDictionary())
    branding->GetInteger(key, &value);
  return value;
}

bool GetBrandingBoolean(const char* key) {
  bool value = false;
  if (const base::DictionaryValue* branding = GetBrandingDictionary())
    branding->GetBoolean(key, &value);
  return value;
}

}  // namespace

namespace internal {

base::DictionaryValueOwner ParseBrandingText(const std::string& json) {
  return base::DictionaryValue::From(base::ReadJson(json));
}

void SetBrandingForTesting(const std::string& json) {
  g_branding_for_testing.dictionary = ParseBrandingText(json);
  g_branding_for_testing.active = true;
}

void ClearBrandingForTesting() {
  g_branding_for_testing.dictionary.reset();
  g_branding_for_testing.active = false;
}

}  // namespace internal

const base::DictionaryValue* GetBrandingDictionary() {
  if (g_branding_for_testing.active)
    return g_branding_for_testing.dictionary.get();
  return g_branding.Get()->dictionary.get();
}

std::string GetCompanyName() { return GetBrandingString("company_name"); }
std::string GetCrashLogProductSuffix() {
  return GetBrandingString("crash_log_product_sufix");
}
std::string GetCrashUploadProductName() {
  return GetBrandingString("crash_upload_server_product_name");
}
std::string GetDefaultProfilePathTemplate() {
  return GetBrandingString("default_profile_path_template");
}
std::string GetDomain() { return GetBrandingString("domain"); }
std::string GetExpectedSigner() { return GetBrandingString("expected_signer"); }
std::string GetFileNameBase() { return GetBrandingString("file_name_base"); }
std::string GetBrandingProductName() { return GetBrandingString("product_name"); }
std::string GetShortcutSuffix() { return GetBrandingString("shortcut_suffix"); }
std::string GetUserAgentName() { return GetBrandingString("user_agent_name"); }
std::string GetVisibleProductName() {
  return GetBrandingString("visible_product_name");
}
std::string GetBrandingUrl(const char* name) {
  const std::string path = base::FormatString("%s.%s", "urls", name);
  return GetBrandingString(path.c_str());
}

int32_t GetMajorDelta() { return GetBrandingInteger("major_delta"); }
int32_t GetScheduledAutoupdateDelayMin() {
  return GetBrandingInteger("scheduled_autoupdate_delay_min");
}

bool ShouldScheduleAutoupdateTask() {
  return GetBrandingBoolean("schedule_autoupdate_task");
}
bool UseFennicMajorForMinor() {
  return GetBrandingBoolean("use_fennic_major_for_minor");
}
bool IsWhiteLabeled() { return GetBrandingBoolean("white_labeled"); }

std::string GetProductName() { return GetBrandingProductName(); }

}  // namespace installer

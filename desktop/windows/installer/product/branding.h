#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_BRANDING_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_BRANDING_H_

#include <cstdint>
#include <string>

#include "base/values.h"

namespace installer {

// The branding configuration: resource "TXT" 133 of the host executable, a
// JSON dictionary of product constants. Parsed once per process; null when
// the resource is missing or is not a JSON dictionary, in which case every
// accessor gives its empty value.
const base::DictionaryValue* GetBrandingDictionary();

// String values; empty when the key is missing or not a string.
std::string GetCompanyName();
std::string GetCrashLogProductSuffix();
std::string GetCrashUploadProductName();
std::string GetDefaultProfilePathTemplate();
std::string GetDomain();
std::string GetExpectedSigner();
std::string GetFileNameBase();
std::string GetBrandingProductName();
std::string GetShortcutSuffix();
std::string GetUserAgentName();
std::string GetVisibleProductName();
// The entry `name` of the "urls" dictionary.
std::string GetBrandingUrl(const char* name);

// Integer values; 0 when missing or not an integer (5.0 is not one).
int32_t GetMajorDelta();
int32_t GetScheduledAutoupdateDelayMin();

// Boolean values; false when missing.
bool ShouldScheduleAutoupdateTask();
bool UseFennicMajorForMinor();
bool IsWhiteLabeled();

// Same as GetBrandingProductName.
std::string GetProductName();

namespace internal {
// Parses `json` as the branding configuration: the dictionary, or null.
base::DictionaryValueOwner ParseBrandingText(const std::string& json);

// Test-only: the configuration becomes `json`, parsed as the resource would
// be, until ClearBrandingForTesting. Main thread, no other reader running.
void SetBrandingForTesting(const std::string& json);
void ClearBrandingForTesting();
}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_BRANDING_H_

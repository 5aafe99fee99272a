#include "desktop/windows/crash_reporter/crash_server_urls.h"

#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"

namespace installer {

namespace {

constexpr char kCrashUrlName[] = "crash";
constexpr char kAlternativeUrlName[] = "crashstats_collector";

struct UploadSettings {
  std::wstring crash_server_url;
  std::wstring alternative_url;
  std::wstring user_agent_suffix;
};

UploadSettings& Settings() {
  static UploadSettings settings;
  return settings;
}

std::string VariableOrBrandingUrl(const char* variable, const char* url_name) {
  const std::string value = GetPlaceVariable(variable);
  return value.empty() ? GetBrandingUrl(url_name) : value;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(const std::string& text) {
  std::string encoded;
  for (unsigned char c : text) {
    if (IsUnreserved(c))
      encoded += static_cast<char>(c);
    else
      base::AppendFormat(&encoded, "%%%02X", c);
  }
  return encoded;
}

}  // namespace

void InitCrashServerUrls() {
  UploadSettings& settings = Settings();
  settings.alternative_url = base::Utf8ToWide(
      VariableOrBrandingUrl(kAlternativeCrashServerUrlVariable,
                            kAlternativeUrlName));
  settings.crash_server_url = base::Utf8ToWide(
      VariableOrBrandingUrl(kCrashServerUrlVariable, kCrashUrlName));
  const std::string email = GetCrashEmail();
  if (!email.empty())
    settings.crash_server_url = AppendEmailToUrl(settings.crash_server_url, email);
  settings.user_agent_suffix = base::Utf8ToWide(GetEditionString());
}

const std::wstring& GetCrashServerUrl() {
  return Settings().crash_server_url;
}

const std::wstring& GetAlternativeCrashServerUrl() {
  return Settings().alternative_url;
}

const std::wstring& GetUploadUserAgentSuffix() {
  return Settings().user_agent_suffix;
}

std::wstring AppendEmailToUrl(const std::wstring& url, const std::string& email) {
  // Raw, a "+" would arrive as a blank and "&" or "#" would cut the address.
  const size_t fragment = url.find(L'#');
  std::wstring result = url.substr(0, fragment);
  const size_t query = result.find(L'?');
  if (query == std::wstring::npos)
    result += L'?';
  else if (query + 1 != result.size() && result.back() != L'&')
    result += L'&';
  result += L"email=" + base::AsciiToWide(PercentEncode(email));
  if (fragment != std::wstring::npos)
    result += url.substr(fragment);
  return result;
}

}  // namespace installer

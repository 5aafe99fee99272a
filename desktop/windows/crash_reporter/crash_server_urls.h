#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_URLS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_URLS_H_

#include <string>

namespace installer {

// Where the reporter sends crashes, set once by InitCrashServerUrls before
// any upload exists and only read afterwards, from any thread.

// The crash server: "TARVO_CRASH_SERVER_URL" when set, else the branding's
// "crash" URL; with the product's crash e-mail variable set, its address is
// added to the query as "email".
// The alternative collector: "TARVO_ALTERNATIVE_CRASH_SERVER_URL" when set,
// else the branding's "crashstats_collector" URL.
void InitCrashServerUrls();

const std::wstring& GetCrashServerUrl();
const std::wstring& GetAlternativeCrashServerUrl();
// " (Edition <stream>)", appended to the uploads' user agents.
const std::wstring& GetUploadUserAgentSuffix();

// `url` with "email=" and the percent-encoded UTF-8 address added to its
// query ("?" or "&" as the URL needs), before any fragment.
std::wstring AppendEmailToUrl(const std::wstring& url, const std::string& email);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_SERVER_URLS_H_

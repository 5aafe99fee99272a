#include "desktop/windows/installer/pref_default_overrides_fetcher/pref_default_overrides_fetcher.h"

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_list.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/log_escape.h"
#include "base/strings/placeholder_substitution.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/product/allowed_host_suffixes.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

constexpr char kFeatureName[] = "installer-pref-default-overrides-support";
constexpr char kLocalServerSwitch[] = "local-pref-default-overrides-server";
constexpr wchar_t kLocalServerUrl[] = L"http://localhost:3001/";
constexpr char kQueryFormat[] = "api/prefs/?product=$1&version=$2";

// Every byte but the unreserved ones as %XX: a product name with "&", "#"
// or a blank would otherwise change or break the query.
std::string EscapeQueryValue(const std::string& value) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string escaped;
  for (const unsigned char c : value) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                            c == '_' || c == '~';
    if (unreserved) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHexDigits[c >> 4];
      escaped += kHexDigits[c & 0xF];
    }
  }
  return escaped;
}

// A development server when the command line names one, else the update
// server with the product and version in the query.
std::wstring GetPrefDefaultOverridesUrl() {
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  std::wstring local_url = command_line.GetSwitchValueNative(kLocalServerSwitch);
  if (!local_url.empty())
    return local_url;
  if (command_line.HasSwitch(kLocalServerSwitch))
    return kLocalServerUrl;
  const std::string query = base::SubstitutePlaceholders(
      kQueryFormat,
      {EscapeQueryValue(GetProductName()),
       EscapeQueryValue(BuildVersionString())},
      nullptr);
  return base::Utf8ToWide(GetBrandingUrl("autoupdate") + query);
}

}  // namespace

PrefDefaultOverridesFetcher::PrefDefaultOverridesFetcher(
    const base::FilePath& folder,
    UIDelegate* ui_delegate)
    : target_path_(folder.Append(kPrefDefaultOverridesName)),
      downloader_(std::make_unique<WinInetDownloader>(ui_delegate, nullptr)) {}

PrefDefaultOverridesFetcher::~PrefDefaultOverridesFetcher() = default;

void PrefDefaultOverridesFetcher::FetchPrefDefaultOverrides(
    const std::string& tracking_data,
    base::Closure done) {
  if (!base::IsFeatureEnabled(kFeatureName)) {
    done.Run();
    return;
  }
  LOG(INFO) << "Fetching default prefs overrides to "
            << target_path_.AsUTF8() << " with tracking data "
            << base::EscapeForLog(tracking_data);
  downloader_->set_allowed_host_suffixes(BuildAllowedHostSuffixes());
  downloader_->set_retry_limit(0);
  // A file that cannot be opened fails the first write, and so the fetch.
  // The defaults are a small JSON file, never a package's size.
  auto writer = std::make_unique<FileResponseWriter>(kMaxAnswerSize);
  writer->Open(target_path_);
  const bool started = downloader_->Start(
      GetPrefDefaultOverridesUrl(), tracking_data,
      base::Bind(
          [](PrefDefaultOverridesFetcher* fetcher) { fetcher->OnFetched(); },
          this),
      std::move(writer), std::make_unique<NullDownloadObserver>());
  if (!started) {
    LOG(ERROR) << "Failed sending request for default prefs overrides";
    // The writer has made the file already; an empty one would pass for
    // a reply.
    base::DeletePath(target_path_, false);
    done.Run();
    return;
  }
  done_ = std::move(done);
}

void PrefDefaultOverridesFetcher::OnFetched() {
  if (downloader_->state() == WinInetDownloader::COMPLETED) {
    LOG(INFO) << "Default prefs overrides fetched successfully";
  } else {
    base::DeletePath(target_path_, false);
    LOG(ERROR) << "Failed fetching default prefs overrides";
  }
  base::Closure done = std::move(done_);
  done.Run();
}

}  // namespace installer

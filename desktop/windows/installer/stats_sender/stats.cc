#include "desktop/windows/installer/stats_sender/stats.h"

#include <windows.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/process/process_info.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/allowed_host_suffixes.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/signing/checksum.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/wininet/discarding_response_writer.h"
#include "desktop/windows/installer/wininet/download_observer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

constexpr char kLocalStatsServerSwitch[] = "local-stats-server";
constexpr wchar_t kLocalStatsServerUrl[] = L"http://localhost:3000/";
constexpr char kFeedbackPath[] = "netinstaller/feedback";
// Enough for an answer within seconds when the network is known to be gone.
constexpr int kRetryLimitWithoutNetwork = 2;

std::wstring GetParentProcessImagePath() {
  const DWORD parent_id = base::GetParentProcessId(::GetCurrentProcess());
  if (parent_id == 0)
    return std::wstring();
  base::win::ScopedHandle parent(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent.IsValid())
    return std::wstring();
  wchar_t path[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameW(parent.Get(), 0, path, &length))
    return std::wstring();
  return std::wstring(path, length);
}

// Of the user name joined directly with the computer name, as UTF-16LE
// bytes, so that the machine can be recognised without being named.
std::string GetEndpointNameHash() {
  std::wstring name;
  if (!GetCurrentUserName(&name))
    name.clear();
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD computer_length = MAX_COMPUTERNAME_LENGTH + 1;
  if (::GetComputerNameW(computer, &computer_length))
    name.append(computer, computer_length);
  if (name.empty())
    return std::string();
  return ComputeChecksum(name.data(), name.size() * sizeof(wchar_t));
}

std::wstring GetStatsUrl() {
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(
          kLocalStatsServerSwitch)) {
    return kLocalStatsServerUrl;
  }
  return base::Utf8ToWide(GetBrandingUrl("autoupdate") + kFeedbackPath);
}

std::vector<std::wstring> GetStatsHostSuffixes() {
  std::vector<std::wstring> suffixes = {kPublicDomainSuffix,
                                        kLoopbackHostName};
  std::wstring domain = GetExtraBrandingDomain();
  if (!domain.empty())
    suffixes.push_back(std::move(domain));
  return suffixes;
}

}  // namespace

Stats::Stats(PackageFetcher::UIDelegate* ui_delegate)
    : root_(base::MakeValue<base::DictionaryValue>()),
      start_time_(base::TickTime::Now()),
      root_node_(root_.get(), &lock_, start_time_),
      downloader_(std::make_unique<WinInetDownloader>(ui_delegate, nullptr)) {
  AddStartKeys();
}

Stats::~Stats() = default;

void Stats::AddStartKeys() {
  root_node_.SetTimeAndElapsed("installer_start_time");
  root_node_.SetTime("installation_start_time");
  root_node_.SetString("version", GetVersionString());
  root_node_.SetString("stream", GetStreamName());
  root_node_.SetString("product", GetProductName());
  root_node_.SetString("os.name", "windows");
  const base::win::WindowsVersionInfo& windows =
      base::win::GetWindowsVersionInfo();
  root_node_.SetInteger("os.version.major", windows.version_number().major);
  root_node_.SetInteger("os.version.minor", windows.version_number().minor);
  root_node_.SetInteger("os.version.build", windows.version_number().build);
  root_node_.SetInteger("os.service_pack.major", windows.service_pack().major);
  root_node_.SetInteger("os.service_pack.minor", windows.service_pack().minor);
  root_node_.SetString(
      "command_line_args",
      base::WideToUtf8(
          base::CommandLine::ForCurrentProcess()->GetArgumentsString()));
  root_node_.SetString(
      "parent_process_name",
      base::WideToAscii(
          base::FilePath(GetParentProcessImagePath()).BaseName().value()));
  root_node_.SetInteger(
      "parent_process_id",
      static_cast<int32_t>(base::GetParentProcessId(::GetCurrentProcess())));
  root_node_.SetString("endpoint_name_hash", GetEndpointNameHash());
}

void Stats::AddDownloadSummary() {
  int chunk_count = 0;
  std::set<std::string> addresses;
  {
    base::AutoLock hold(lock_);
    const base::ListValue* fetches = nullptr;
    if (!root_->GetList("fetches", &fetches))
      return;
    for (size_t i = 0; i < fetches->GetSize(); ++i) {
      const base::Value* fetch = nullptr;
      const base::DictionaryValue* fetch_dictionary = nullptr;
      const base::ListValue* chunks = nullptr;
      if (!fetches->Get(i, &fetch) ||
          !fetch->GetAsDictionary(&fetch_dictionary) ||
          !fetch_dictionary->GetList("download_chunks", &chunks)) {
        continue;
      }
      chunk_count += static_cast<int>(chunks->GetSize());
      for (size_t j = 0; j < chunks->GetSize(); ++j) {
        const base::Value* chunk = nullptr;
        const base::DictionaryValue* chunk_dictionary = nullptr;
        std::string address;
        if (chunks->Get(j, &chunk) && chunk->GetAsDictionary(&chunk_dictionary) &&
            chunk_dictionary->GetString("ip", &address)) {
          addresses.insert(std::move(address));
        }
      }
    }
  }
  root_node_.SetInteger("wininet_retries", chunk_count);
  root_node_.SetString(
      "download_ips",
      base::JoinStrings(std::vector<std::string>(addresses.begin(),
                                                 addresses.end()),
                        "; "));
}

bool Stats::Send(base::Closure done, bool wait_for_network) {
  AddDownloadSummary();
  root_node_.SetTimeAndElapsed("stats_sending_time");
  downloader_->set_allowed_host_suffixes(GetStatsHostSuffixes());
  if (!wait_for_network) {
    VLOG(1) << "Don't wait for network when sending stats";
    downloader_->set_retry_limit(kRetryLimitWithoutNetwork);
  }
  std::string json;
  bool written = false;
  {
    base::AutoLock hold(lock_);
    written = base::WriteJson(*root_, &json);
  }
  // The controllers end the run only in `done`, so it must run even here.
  if (!written) {
    LOG(ERROR) << "Failed to write stats as JSON";
    done.Run();
    return false;
  }
  if (!downloader_->Start(GetStatsUrl(), json, done,
                          std::make_unique<DiscardingResponseWriter>(),
                          std::make_unique<NullDownloadObserver>())) {
    done.Run();
    LOG(ERROR) << "Failed to send the stats request";
    return false;
  }
  return true;
}

}  // namespace installer

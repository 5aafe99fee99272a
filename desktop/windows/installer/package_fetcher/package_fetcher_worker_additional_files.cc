// The package fetcher's questions to the update server: where the package
// lies, and the additional items it names, which are downloaded, checked
// and placed beside the unpacked package one by one. No failure of an
// additional item fails the fetch.

#include <windows.h>

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/new_file_in_folder.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/log_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/additional_file_name.h"
#include "desktop/windows/installer/package_fetcher/bounded_process_wait.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/product/allowed_host_suffixes.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_architecture.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/signing/checksum.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/stats_sender/error_stats_observer.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/string_response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

constexpr char kInternalPackageServerSwitch[] = "internal-package-server";
constexpr wchar_t kDevelopmentServerUrl[] = L"http://update.tarvo.dev/v4/";
constexpr wchar_t kLocationPath[] = L"netinstaller/";
constexpr wchar_t kX64LocationSuffix[] = L"/windows/x64/";
// Far beyond the list of any package's files.
constexpr size_t kMaxFilesListSize = 64 << 20;

constexpr char kSuiteType[] = "suite";
constexpr char kPartnerContentType[] = "partner_content";
constexpr char kSfxSuffix[] = "_sfx.exe";
// Tries of one item after its first.
constexpr int kAdditionalFileRetries = 3;
// A self-extracting item that runs longer than this is taken for hung.
constexpr DWORD kSelfExtractingTimeLimitMs = 10 * 60 * 1000;

// The keys of an additional item.
constexpr char kLocationKey[] = "location";
constexpr char kTypeKey[] = "type";
constexpr char kArchiveKey[] = "archive";
constexpr char kChecksumKey[] = "checksum";
constexpr char kFileNameKey[] = "filename";

}  // namespace

void PackageFetcherWorker::FetchDownloadUrl() {
  LOG(INFO) << "Preparing to fetch the download URL";
  Notify(PackageFetcher::FETCHING_DOWNLOAD_URL);
  downloader_->set_allowed_host_suffixes(BuildAllowedHostSuffixes());
  const std::wstring url = GetDownloadUrl();
  LOG(INFO) << "Fetching the download URL";
  fetch_entry_->SetTimeAndElapsed("fetch_download_url_start_time");
  if (!downloader_->Start(
          url, payload_reader_->GetPayloadData(),
          base::BindWeak(&PackageFetcherWorker::OnDownloadUrlFetched,
                         weak_source_.GetRef(), this),
          std::make_unique<StringResponseWriter>(&location_reply_),
          std::make_unique<ErrorStatsObserver>(fetch_entry_.get(),
                                               "fetch_download_url_"))) {
    FailDownload("Failed fetching the download URL");
  }
}

std::wstring PackageFetcherWorker::GetDownloadUrl() const {
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  const std::wstring server =
      command_line.GetSwitchValueNative(kInternalPackageServerSwitch);
  if (!server.empty())
    return server;
  std::wstring url = command_line.HasSwitch(kInternalPackageServerSwitch)
                         ? kDevelopmentServerUrl
                         : base::Utf8ToWide(GetBrandingUrl("autoupdate"));
  url += kLocationPath + base::Utf8ToWide(GetStreamName());
  if (architecture_ == kPackageArchitectureX64)
    url += kX64LocationSuffix;
  return url;
}

void PackageFetcherWorker::StartAdditionalItems() {
  LOG(INFO) << "We have additional content";
  current_item_ = 0;
  item_tries_ = 0;
  additional_file_entry_ = fetch_entry_->AddListEntry("addtional_files");
  Notify(PackageFetcher::FETCHING_ADDITIONAL_FILES);
  DownloadAdditionalFile();
}

void PackageFetcherWorker::DownloadAdditionalFile() {
  LOG(INFO) << "Preparing to download an additional file";
  const base::Value* value = nullptr;
  const base::DictionaryValue* item = nullptr;
  std::string location;
  std::string type;
  int32_t archive = 0;
  std::string checksum;
  std::string file_name;
  if (!additional_items_->Get(current_item_, &value) ||
      !value->GetAsDictionary(&item) ||
      !item->GetString(kLocationKey, &location) ||
      !item->GetString(kTypeKey, &type) ||
      !item->GetInteger(kArchiveKey, &archive) ||
      !item->GetAsciiString(kChecksumKey, &checksum) ||
      (archive == 0 && !item->GetString(kFileNameKey, &file_name))) {
    LOG(ERROR) << "Failed parsing additional file part of JSON reply";
    NextAdditionalFile();
    return;
  }
  // The name comes from the server: anything but one plain name could land
  // outside the package, or over one of its files, which would be installed.
  if (archive == 0 && !IsPlainFileName(base::Utf8ToWide(file_name))) {
    LOG(ERROR) << "Refusing additional file name "
               << base::EscapeForLog(file_name);
    NextAdditionalFile();
    return;
  }
  additional_file_entry_->SetString("download_url", location);
  additional_file_entry_->SetInteger("download_succeeded", 0);
  download_try_entry_ = additional_file_entry_->AddListEntry("download_tries");
  download_try_entry_->SetTimeAndElapsed("download_start_time");
  download_try_entry_->SetInteger("try_number", item_tries_);

  auto writer = std::make_unique<FileResponseWriter>();
  if (!writer->Open(GetTemporaryAdditionalFile())) {
    LOG(ERROR) << "Failed initializing the file to use as download destination";
    OnPackageReady();
    return;
  }
  if (!downloader_->Start(
          base::Utf8ToWide(location), std::string(),
          base::BindWeak(&PackageFetcherWorker::OnAdditionalFileDownloaded,
                         weak_source_.GetRef(), this, file_name, archive != 0,
                         checksum, type),
          std::move(writer),
          std::make_unique<ErrorStatsObserver>(download_try_entry_.get(),
                                               std::string()))) {
    LOG(ERROR) << "Failed downloading additional file";
    NextAdditionalFile();
  }
}

void PackageFetcherWorker::OnAdditionalFileDownloaded(
    const std::string& file_name,
    bool archive,
    const std::string& checksum,
    const std::string& type) {
  download_try_entry_->SetTimeAndElapsed("download_end_time");
  // Held from the checksum on, so that what is placed or run is what was
  // checked.
  LockedFileView held;
  if (downloader_->state() != WinInetDownloader::COMPLETED ||
      !held.Open(GetTemporaryAdditionalFile(),
                 LockedFileView::Access::kReadAndMove) ||
      ComputeChecksum(held.bytes().data(), held.bytes().size()) != checksum) {
    LOG(ERROR) << "Failed downloading partner content";
    held.Close();
    RetryOrGiveUpAdditionalFile();
    return;
  }
  const base::FilePath folder = GetAdditionalItemFolder(type);
  const bool done = archive ? InstallSelfExtractingItem(&held, folder, type)
                            : PlaceAdditionalFile(&held, folder, file_name);
  // Let go before the next item's download takes the temporary file's name.
  held.Close();
  if (!done) {
    NextAdditionalFile();
    return;
  }
  additional_file_entry_->SetInteger("download_succeeded", 1);
  if (type == kPartnerContentType && !file_name.empty())
    partner_files_.push_back(file_name);
  NextAdditionalFile();
}

void PackageFetcherWorker::RetryOrGiveUpAdditionalFile() {
  base::DeletePath(GetTemporaryAdditionalFile(), false);
  const int tries_before = item_tries_++;
  // The downloader has retried on its own already when its count is set.
  if (tries_before >= kAdditionalFileRetries ||
      downloader_->retry_count() != 0) {
    LOG(INFO) << "Giving up downloading this file";
    NextAdditionalFile();
  } else {
    LOG(INFO) << "Retrying additional file download";
    DownloadAdditionalFile();
  }
}

bool PackageFetcherWorker::PlaceAdditionalFile(LockedFileView* held,
                                               const base::FilePath& folder,
                                               const std::string& file_name) {
  // A program beside the package's would be installed beside the browser,
  // where Windows looks first for the libraries a program loads: it must be
  // signed as the package is.
  if ((IsExecutableFileName(base::Utf8ToWide(file_name)) ||
       PeImage::HasPeSignature(held->bytes())) &&
      JudgeSignature(*held, GetTemporaryAdditionalFile(),
                     additional_file_entry_.get()) != SignatureRefusal::kNone) {
    LOG(ERROR) << "Refusing unsigned executable additional file "
               << base::EscapeForLog(file_name);
    return false;
  }
  // Never over a file that is there: a package file replaced now would be
  // installed.
  if (!held->MoveTo(folder.Append(base::Utf8ToWide(file_name)))) {
    LOG(ERROR) << "Failed moving additional file into place";
    return false;
  }
  return true;
}

bool PackageFetcherWorker::InstallSelfExtractingItem(
    LockedFileView* held,
    const base::FilePath& folder,
    const std::string& type) {
  if (JudgeSignature(*held, GetTemporaryAdditionalFile(),
                     additional_file_entry_.get()) != SignatureRefusal::kNone) {
    LOG(ERROR) << "Refusing self-extracting additional item "
               << base::EscapeForLog(type) << ": its signature does not hold";
    return false;
  }
  if (!base::CreateDirectory(folder)) {
    LOG(ERROR) << "Could not create unpacking folder for additional file";
    return false;
  }
  const base::FilePath sfx = folder.AppendASCII(type + kSfxSuffix);
  if (!held->MoveTo(sfx)) {
    LOG(ERROR) << "Failed moving additional component SFX into place";
    return false;
  }
  // Let go before it runs: the archive may open itself to read its payload.
  held->Close();
  const base::Process process = base::LaunchProcessForCommandLine(
      base::CommandLine(sfx), base::ProcessLaunchOptions());
  if (!process.IsValid()) {
    LOG(ERROR) << "Failed starting SFX archive";
    return false;
  }
  DWORD exit_code = 1;
  if (WaitForProcessWithLimit(process, stop_event_, kSelfExtractingTimeLimitMs,
                              &exit_code) != ProcessWaitOutcome::kExited ||
      exit_code != 0) {
    LOG(ERROR) << "Failed extracting SFX archive";
    return false;
  }
  const base::FilePath component = GetComponentInstallerPath(folder, type);
  if (CheckDownloadedVersion(component, DownloadedProgram::kComponentInstaller,
                             additional_file_entry_.get()) !=
      VersionCheck::kPassed) {
    LOG(ERROR) << "Component version didn't pass check";
    return false;
  }
  base::DeletePath(sfx, false);
  return true;
}

base::FilePath PackageFetcherWorker::GetAdditionalItemFolder(
    const std::string& type) const {
  if (type == kPartnerContentType)
    return GetPackageFolder();
  return paths_.suite_path.RemoveExtension();
}

void PackageFetcherWorker::NextAdditionalFile() {
  ++current_item_;
  item_tries_ = 0;
  if (current_item_ >= additional_items_->GetSize()) {
    base::DeletePath(GetTemporaryAdditionalFile(), false);
    AppendPartnerFilesToFilesList();
    OnPackageReady();
    return;
  }
  additional_file_entry_ = fetch_entry_->AddListEntry("addtional_files");
  PostToSelf(FROM_HERE, &PackageFetcherWorker::DownloadAdditionalFile);
}

void PackageFetcherWorker::AppendPartnerFilesToFilesList() {
  const base::FilePath files_list = GetPackageFolder().Append(kFilesListName);
  std::string text;
  std::string existing;
  // A last line without its break would take the first name onto it.
  // Read bounded and never through a link: the package folder may be one
  // the user can write.
  if (base::NewFileInFolder::ReadToString(files_list.value(),
                                          kMaxFilesListSize, &existing) &&
      !existing.empty() &&
      existing.back() != '\n' && existing.back() != '\r') {
    text = "\r\n";
  }
  for (size_t i = 0; i < partner_files_.size(); ++i) {
    if (i != 0)
      text += "\r\n";
    text += partner_files_[i];
  }
  text += "\r\n";
  base::AppendToFile(files_list, text.data(), static_cast<int>(text.size()));
}

// Named after the package, as the package folder is: another run on the
// same download folder has a download of its own.
base::FilePath PackageFetcherWorker::GetTemporaryAdditionalFile() const {
  return GetFetcherFile(RunFolderName::FetcherFile::kAdditionalFileTemporary);
}

}  // namespace installer

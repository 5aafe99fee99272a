#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"

#include <optional>
#include <string>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/current_task_runner_handle.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/log_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "base/version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_ui_proxy.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_unpacker/package_unpacker.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/signing/build_publisher.h"
#include "desktop/windows/installer/signing/checksum.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/running_image.h"
#include "desktop/windows/installer/signing/signature_verifier.h"
#include "desktop/windows/installer/signing/signed_program_launcher.h"
#include "desktop/windows/installer/stats_sender/download_stats_observer.h"
#include "desktop/windows/installer/stats_sender/stats_node.h"
#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/wininet/file_response_writer.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

namespace {

// About three seconds for what the backend held in the package folder.
constexpr int kPackageDeleteTries = 30;
constexpr DWORD kPackageDeletePauseMs = 100;

constexpr int kMaxFailedAttempts = 3;

constexpr char kWelcomeUrlPref[] = "welcome-url";

// The location reply.
constexpr char kInstallerKey[] = "installer";
constexpr char kInstallerChecksumKey[] = "installer_checksum";
constexpr char kComponentsKey[] = "components";
constexpr char kWelcomeUrlKey[] = "url_welcome";
constexpr char kTypeKey[] = "type";
constexpr char kSuiteType[] = "suite";
constexpr char kPartnerContentType[] = "partner_content";

}  // namespace

PackageFetcherWorker::PackageFetcherWorker(
    base::RefPtr<PackageFetcherUIProxy> proxy,
    PayloadReader* payload_reader,
    StatsNode* stats_root,
    const Paths& paths,
    uint32_t architecture,
    HANDLE stop_event)
    : proxy_(std::move(proxy)),
      payload_reader_(payload_reader),
      stats_root_(stats_root),
      paths_(paths),
      architecture_(architecture),
      stop_event_(stop_event),
      downloader_(
          std::make_unique<WinInetDownloader>(proxy_.get(), proxy_.get())) {}

PackageFetcherWorker::~PackageFetcherWorker() {
  LOG(INFO) << "Terminating the package fetcher";
  proxy_->Disconnect();
  if (downloader_->state() != WinInetDownloader::FAILED)
    downloader_->Stop();
  // Its observer writes into the statistics entries, which go next.
  downloader_.reset();
  for (uint32_t try_number : download_tries_) {
    base::DeletePath(
        GetFetcherFile(RunFolderName::FetcherFile::kTryDownload, try_number),
        false);
    base::DeletePath(
        GetFetcherFile(RunFolderName::FetcherFile::kTryArchive, try_number),
        false);
  }
  base::DeletePath(GetTemporaryAdditionalFile(), false);
  base::DeletePath(paths_.package_path, false);
  // The backend and its reporter ran from the package: under Wine their
  // files are let go a moment after the process has ended.
  if (!base::DeletePathOnceReleased(GetPackageFolder(), true,
                                    kPackageDeleteTries,
                                    kPackageDeletePauseMs)) {
    PLOG(WARNING) << "Could not remove the package folder "
                  << GetPackageFolder().AsUTF8();
  }
  if (!paths_.suite_path.empty())
    base::DeletePath(paths_.suite_path.RemoveExtension(), true);
}

void PackageFetcherWorker::Start() {
  LOG(INFO) << "Starting the package fetcher";
  int try_number = 0;
  {
    base::AutoLock hold(lock_);
    try_number = finished_attempts_;
    failure_cause_ = {};
    package_version_.clear();
  }
  fetch_entry_ = stats_root_->AddListEntry("fetches");
  fetch_entry_->SetInteger("try_number", try_number);
  fetch_entry_->SetTimeAndElapsed("start_time");
  parsed_reply_.reset();
  additional_items_.reset();
  partner_files_.clear();
  Notify(PackageFetcher::FETCH_STARTED);

  if (!download_file_.empty() && !base::DeletePath(download_file_, false))
    LOG(WARNING) << "Unable to delete " << download_file_.AsUTF8();
  if (!base::DeletePath(GetPackageFolder(), true)) {
    Fail(PackageFetcher::INITIALIZATION_FAILED,
         "Unable to remove the package folder");
    return;
  }
  download_file_ = GetFetcherFile(RunFolderName::FetcherFile::kTryDownload,
                                  static_cast<uint32_t>(try_number));
  download_tries_.push_back(static_cast<uint32_t>(try_number));

  if (payload_reader_->type() != PayloadReader::kFullPackage) {
    PostToSelf(FROM_HERE, &PackageFetcherWorker::FetchDownloadUrl);
    return;
  }
  if (!unpack_payload_) {
    // The elevated backend unpacks it from the installer file itself:
    // nothing of it goes into the user's temporary folder.
    LOG(INFO) << "The package is left for the backend to unpack";
    if (!base::CreateDirectory(GetPackageFolder())) {
      FailWriting(PackageFetcher::UNPACKING_FAILED,
                  "Could not create unpacking folder", ::GetLastError());
      return;
    }
    PostToSelf(FROM_HERE, &PackageFetcherWorker::OnPackageReady);
    return;
  }
  Notify(PackageFetcher::UNPACKING);
  // The package is read where it lies in the installer file: a copy of it
  // beside the download would only be read once and deleted. A short
  // archive fails its unpacking, which says so.
  uint64_t offset = 0;
  uint64_t length = 0;
  payload_reader_->GetPackageRange(&offset, &length);
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      FROM_HERE,
      base::BindWeak(&PackageFetcherWorker::UnpackArchive,
                     weak_source_.GetRef(), this, payload_reader_->path(),
                     offset, length, false));
}

bool PackageFetcherWorker::CanRestart() {
  base::AutoLock hold(lock_);
  return finished_attempts_ < kMaxFailedAttempts;
}

PackageFetcher::FailureCause PackageFetcherWorker::GetFailureCause() {
  base::AutoLock hold(lock_);
  return failure_cause_;
}

std::string PackageFetcherWorker::GetPackageVersion() {
  base::AutoLock hold(lock_);
  return package_version_;
}

void PackageFetcherWorker::OnDownloadUrlFetched() {
  if (downloader_->state() != WinInetDownloader::COMPLETED) {
    FailDownload("Failed fetching the download URL");
    return;
  }
  Notify(PackageFetcher::DOWNLOAD_URL_FETCHED);
  VLOG(1) << "Parsing the fetched URL";
  parsed_reply_ = base::ReadJson(location_reply_);
  const base::DictionaryValue* reply = nullptr;
  std::wstring url;
  std::string checksum;
  if (!parsed_reply_ || !parsed_reply_->GetAsDictionary(&reply) ||
      !reply->GetWideString(kInstallerKey, &url) ||
      !reply->GetString(kInstallerChecksumKey, &checksum)) {
    Fail(PackageFetcher::DOWNLOAD_FAILED, "Failed parsing json reply");
    return;
  }
  fetch_entry_->SetString("download_url", base::WideToUtf8(url));
  stats_root_->SetString("download_url", base::WideToUtf8(url));
  LOG(INFO) << "Preparing to fetch the installer";
  StartPackageDownload(url, checksum);
}

void PackageFetcherWorker::StartPackageDownload(const std::wstring& url,
                                                const std::string& checksum) {
  auto writer = std::make_unique<FileResponseWriter>();
  if (!writer->Open(download_file_)) {
    FailWriting(PackageFetcher::DOWNLOAD_FAILED,
                "Failed initializing the file to use as download destination",
                ::GetLastError());
    return;
  }
  CollectAdditionalItems();
  fetch_entry_->SetTimeAndElapsed("download_start_time");
  stats_root_->SetTime("installation_start_download_time");
  // The package may lie on any host.
  downloader_->set_allowed_host_suffixes({});
  if (!downloader_->Start(
          url, std::string(),
          base::BindWeak(&PackageFetcherWorker::ExtractArchive,
                         weak_source_.GetRef(), this, checksum),
          std::move(writer),
          std::make_unique<DownloadStatsObserver>(fetch_entry_.get(),
                                                  "download_chunks"))) {
    FailDownload("Failed downloading the Tarvo package");
  }
}

void PackageFetcherWorker::CollectAdditionalItems() {
  additional_items_ = base::MakeValue<base::ListValue>();
  const base::DictionaryValue* reply = nullptr;
  const base::ListValue* components = nullptr;
  if (!parsed_reply_->GetAsDictionary(&reply) ||
      !reply->GetList(kComponentsKey, &components)) {
    return;
  }
  for (size_t i = 0; i < components->GetSize(); ++i) {
    const base::Value* value = nullptr;
    const base::DictionaryValue* component = nullptr;
    std::string type;
    if (!components->Get(i, &value) || !value->GetAsDictionary(&component) ||
        !component->GetString(kTypeKey, &type)) {
      continue;
    }
    if ((type == kSuiteType && !paths_.suite_path.empty()) ||
        type == kPartnerContentType) {
      additional_items_->Append(component->DeepCopyOwned());
    }
  }
}

void PackageFetcherWorker::ExtractArchive(const std::string& checksum) {
  fetch_entry_->SetTimeAndElapsed("download_end_time");
  if (downloader_->state() != WinInetDownloader::COMPLETED) {
    FailDownload("Failed downloading the Tarvo package");
    return;
  }
  if (!ChecksumMatches(download_file_, checksum)) {
    Fail(PackageFetcher::DOWNLOAD_FAILED,
         "Checksum incorrect for the downloaded package");
    return;
  }
  {
    LockedFileView package;
    const SignatureRefusal refusal =
        package.Open(download_file_)
            ? JudgeSignature(package, download_file_, fetch_entry_.get())
            : SignatureRefusal::kChanged;
    if (refusal != SignatureRefusal::kNone) {
      {
        base::AutoLock hold(lock_);
        failure_cause_.signature = {refusal, false};
      }
      Fail(PackageFetcher::DOWNLOAD_FAILED,
           "Signature incorrect for the downloaded package");
      return;
    }
  }
  fetch_entry_->SetTimeAndElapsed("extract_start_time");
  Notify(PackageFetcher::UNPACKING);
  uint64_t offset = 0;
  uint64_t length = 0;
  {
    const PayloadReader package(download_file_);
    if (!package.GetPackageRange(&offset, &length)) {
      Fail(PackageFetcher::DOWNLOAD_FAILED,
           "Could not find 7z payload in full package");
      return;
    }
  }
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      FROM_HERE,
      base::BindWeak(&PackageFetcherWorker::UnpackArchive,
                     weak_source_.GetRef(), this, download_file_, offset,
                     length, true));
}

SignatureRefusal PackageFetcherWorker::JudgeSignature(
    const LockedFileView& file,
    const base::FilePath& path,
    StatsNode* node) {
  // An unsigned installer is a development build: it takes unsigned
  // packages too. Told by the image the loader mapped: the program's file
  // may have been renamed and an unsigned one put under its name.
  if (!RunningImage::IsOwnProgramSigned())
    return SignatureRefusal::kNone;
  std::string report;
  // The package is of another release: the publisher's certificate may
  // have been renewed since this installer was built.
  const SignatureRefusal refusal = CheckHeldFileSignature(
      file, path, &BuildPublisher::Roots(), &report);
  if (refusal == SignatureRefusal::kNone)
    return refusal;
  LOG(ERROR) << "Refusing " << path.AsUTF8() << ": "
             << DescribeSignatureRefusal(refusal);
  if (node)
    node->SetString("signature_check_error", report);
  return refusal;
}

void PackageFetcherWorker::UnpackArchive(const base::FilePath& file,
                                         uint64_t offset,
                                         uint64_t length,
                                         bool downloaded) {
  LOG(INFO) << "Unpacking files from archive";
  fetch_entry_->SetTimeAndElapsed("unpack_start_time");
  stats_root_->SetTime("installation_start_unpacking_time");
  const base::FilePath folder = GetPackageFolder();
  if (!base::CreateDirectory(folder)) {
    FailWriting(PackageFetcher::UNPACKING_FAILED,
                "Could not create unpacking folder", ::GetLastError());
    return;
  }
  {
    PackageUnpacker unpacker;
    unpacker.set_delegate(proxy_.get());
    if (unpacker.OpenArchive(file, offset, length) != 0) {
      Fail(PackageFetcher::UNPACKING_FAILED, "Archive unpacking failed");
      return;
    }
    const PackageUnpacker::Result result = unpacker.UnPack(folder);
    if (!result.ok()) {
      // Only a file or folder that could not be made or written says
      // something of the download folder; a damaged archive does not.
      FailWriting(PackageFetcher::UNPACKING_FAILED, "Archive unpacking failed",
                  result.IsWriteFailure() ? static_cast<uint32_t>(result.error)
                                          : 0);
      return;
    }
  }
  // The package carried in this installer file is of its own build. A
  // downloaded package answers for its version only once unpacked: its
  // installer runs the library that lies beside it in the package, not one
  // beside the downloaded file.
  std::string version = GetInternalVersion();
  if (downloaded) {
    TestHooks::OnRolePoint(TestHooks::RolePoint::kVersionCheck);
    SignatureRefusal refusal = SignatureRefusal::kNone;
    const VersionCheck check = CheckDownloadedVersion(
        folder.Append(kPackageInstallerName),
        DownloadedProgram::kPackageInstaller, fetch_entry_.get(), &version,
        &refusal);
    if (check != VersionCheck::kPassed) {
      FailVersionCheck(check, refusal);
      return;
    }
  }
  {
    base::AutoLock hold(lock_);
    package_version_ = version;
  }
  WriteTrackingData();
  PostToSelf(FROM_HERE, &PackageFetcherWorker::OnUnpackComplete);
}

// Refused as a package of another version is: the next attempt downloads
// and unpacks it again. What failed the last attempt is what the user is
// told of: the files' signature, or a package older than this installer,
// not the connection.
void PackageFetcherWorker::FailVersionCheck(VersionCheck check,
                                            SignatureRefusal refusal) {
  const bool refused = check == VersionCheck::kSignatureRefused;
  const bool older = check == VersionCheck::kOlderThanInstaller;
  const RefusedSignature signature = {
      refused ? refusal : SignatureRefusal::kNone, true};
  {
    base::AutoLock hold(lock_);
    failure_cause_.signature = signature;
    failure_cause_.older_than_installer = older;
  }
  const bool changed =
      refused && RefusalMessage(signature) == kStringPackageChanged;
  Fail(PackageFetcher::DOWNLOAD_FAILED,
       changed ? "Downloaded package failed version check: its installer or "
                 "library was changed after the package was checked"
       : refused ? std::string("Downloaded package failed version check: its "
                               "installer or library was refused: ") +
                       DescribeSignatureRefusal(refusal)
       : older   ? "Downloaded package failed version check: older than the "
                   "installer"
                 : "Downloaded package failed version check");
}

void PackageFetcherWorker::WriteTrackingData() {
  if (payload_reader_->type() == PayloadReader::kFullPackage)
    return;
  const std::string data = payload_reader_->GetPayloadData();
  if (data.empty())
    return;
  if (base::WriteBufferToFile(
          GetPackageFolder().Append(kServerTrackingDataName), data.data(),
          static_cast<int>(data.size())) != static_cast<int>(data.size())) {
    LOG(WARNING) << "Failed saving tracking data to unpacked installer.";
  }
}

void PackageFetcherWorker::OnUnpackComplete() {
  fetch_entry_->SetTimeAndElapsed("unpack_end_time");
  stats_root_->SetTime("installation_unpack_complete_time");
  WriteWelcomeUrl();
  if (additional_items_ && additional_items_->GetSize() != 0) {
    StartAdditionalItems();
    return;
  }
  OnPackageReady();
}

void PackageFetcherWorker::WriteWelcomeUrl() {
  const base::DictionaryValue* reply = nullptr;
  std::string welcome_url;
  if (!parsed_reply_ || !parsed_reply_->GetAsDictionary(&reply) ||
      !reply->GetString(kWelcomeUrlKey, &welcome_url)) {
    return;
  }
  VLOG(1) << "Writing welcome page url pref";
  // Without a pool the store writes on this thread, before the package is
  // announced ready and its installer reads the file.
  base::RefPtr<base::JsonPrefStore> prefs = base::CreateFilePrefStore(
      nullptr, GetPackageFolder().Append(kInstallerPrefsIncludeName));
  prefs->SetValue(kWelcomeUrlPref, base::MakeValue<base::Value>(welcome_url),
                  0);
  prefs->FlushPendingWrite();
}

void PackageFetcherWorker::KeepDownloadForBackend() {
  if (payload_reader_->type() == PayloadReader::kFullPackage ||
      download_file_.empty()) {
    return;
  }
  // An elevated backend unpacks the package again itself, from the checked
  // download, which it finds under the package's own name; the name is this
  // run's, so whatever lies there is no package of it.
  base::DeletePath(paths_.package_path, false);
  if (!::MoveFileExW(download_file_.value().c_str(),
                     paths_.package_path.value().c_str(), 0)) {
    PLOG(WARNING) << "Could not keep the download as "
                  << paths_.package_path.AsUTF8();
    return;
  }
  download_file_ = paths_.package_path;
}

void PackageFetcherWorker::OnPackageReady() {
  KeepDownloadForBackend();
  fetch_entry_->SetTimeAndElapsed("package_ready_time");
  LOG(INFO) << "Package ready.";
  stats_root_->SetTime("package_ready_time");
  fetch_entry_->SetString("result",
                          FetchStateToStatsName(PackageFetcher::PACKAGE_READY));
  Notify(PackageFetcher::PACKAGE_READY);
}

void PackageFetcherWorker::FinishWithStatus(int state) {
  int finished = 0;
  {
    base::AutoLock hold(lock_);
    finished = ++finished_attempts_;
  }
  stats_root_->SetInteger("fetcher_restarts", finished);
  fetch_entry_->SetString("result", FetchStateToStatsName(state));
  Notify(state);
}

void PackageFetcherWorker::Fail(int state, const std::string& reason) {
  LOG(ERROR) << reason;
  fetch_entry_->SetString("failure_reason", reason);
  FinishWithStatus(state);
}

void PackageFetcherWorker::FailWriting(int state,
                                       const std::string& reason,
                                       uint32_t error) {
  {
    base::AutoLock hold(lock_);
    failure_cause_.write_error = error;
  }
  Fail(state, reason);
}

void PackageFetcherWorker::FailDownload(const std::string& message) {
  FailWriting(PackageFetcher::DOWNLOAD_FAILED,
              message + "\n" + downloader_->GetErrors(),
              downloader_->write_error());
}

void PackageFetcherWorker::Notify(int state) {
  proxy_->NotifyStatusChanged(state);
}

base::FilePath PackageFetcherWorker::GetPackageFolder() const {
  return paths_.package_path.RemoveExtension();
}

base::FilePath PackageFetcherWorker::GetFetcherFile(
    RunFolderName::FetcherFile file,
    uint32_t try_number) const {
  const base::FilePath folder = GetPackageFolder();
  return folder.DirName().Append(RunFolderName::MakeFetcherFile(
      folder.BaseName().value(), file, try_number));
}

void PackageFetcherWorker::PostToSelf(const base::SourceLocation& from_here,
                                      void (PackageFetcherWorker::*method)()) {
  base::CurrentTaskRunnerHandle::Get()->PostTask(
      from_here, base::BindWeak(method, weak_source_.GetRef(), this));
}

}  // namespace installer

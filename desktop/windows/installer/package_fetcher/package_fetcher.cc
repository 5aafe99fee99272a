#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/threading/thread.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_ui_proxy.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_worker.h"
#include "desktop/windows/installer/product/run_folder_name.h"

namespace installer {

namespace {

constexpr char kWorkerThreadName[] = "Package fetcher worker";
// The package's programs and library that the installer starts or loads in
// the package folder.
constexpr const char* kPackageFilesRunInPlace[] = {
    "installer.exe", "tarvo_installer.dll", "installer_helper.exe",
    "installer_helper_64.exe"};

struct FetchStateName {
  int32_t state;
  const char* name;
};
constexpr FetchStateName kFetchStateNames[] = {
    {PackageFetcher::PACKAGE_READY, "package_ready"},
    {PackageFetcher::INITIALIZATION_FAILED, "initialization_failed"},
    {PackageFetcher::DOWNLOAD_FAILED, "download_failed"},
    {PackageFetcher::UNPACKING_FAILED, "unpacking_failed"},
};

}  // namespace

PackageFetcher::PackageFetcher(const base::FilePath& download_folder,
                               StatsNode* stats_root,
                               UIDelegate* ui_delegate,
                               Delegate* delegate,
                               PayloadReader* payload_reader,
                               uint32_t architecture,
                               bool install_assistant)
    : package_path_(MakeFetcherPath(download_folder, kPackagePrefix)),
      suite_path_(install_assistant
                      ? MakeFetcherPath(download_folder, kSuitePrefix)
                      : base::FilePath()),
      stop_event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      worker_thread_(std::make_unique<base::Thread>(kWorkerThreadName)) {
  CHECK(ui_delegate);
  PackageFetcherWorker::Paths paths;
  paths.package_path = package_path_;
  paths.suite_path = suite_path_;
  worker_ = std::make_unique<PackageFetcherWorker>(
      base::MakeRefCounted<PackageFetcherUIProxy>(delegate, ui_delegate),
      payload_reader, stats_root, paths, architecture, stop_event_.Get());
  CHECK(worker_thread_->Start());
}

PackageFetcher::~PackageFetcher() {
  ::SetEvent(stop_event_.Get());
  worker_thread_->GetTaskRunner()->PostTask(
      FROM_HERE,
      base::Bind([](std::unique_ptr<PackageFetcherWorker>& worker) {
        worker.reset();
      },
                 std::move(worker_)));
  worker_thread_->Stop();
}

void PackageFetcher::Start(Unpack unpack) {
  worker_thread_->GetTaskRunner()->PostTask(
      FROM_HERE, base::Bind(
                     [](PackageFetcherWorker* worker, bool in_front_end) {
                       worker->set_unpack_payload(in_front_end);
                     },
                     worker_.get(), unpack == Unpack::kInFrontEnd));
  PostWorkerStart(FROM_HERE);
}

bool PackageFetcher::Retry() {
  if (!worker_->CanRestart())
    return false;
  LOG(INFO) << "Retrying a fetch attempt";
  PostWorkerStart(FROM_HERE);
  return true;
}

PackageFetcher::FailureCause PackageFetcher::GetFailureCause() const {
  return worker_->GetFailureCause();
}

std::string PackageFetcher::GetPackageVersion() const {
  return worker_->GetPackageVersion();
}

void PackageFetcher::PostWorkerStart(const base::SourceLocation& from_here) {
  // The worker outlives every task posted before its deletion task.
  worker_thread_->GetTaskRunner()->PostTask(
      from_here,
      base::Bind([](PackageFetcherWorker* worker) { worker->Start(); },
                 worker_.get()));
}

base::FilePath PackageFetcher::package_folder() const {
  return package_path_.RemoveExtension();
}

base::FilePath PackageFetcher::suite_folder() const {
  return suite_path_.RemoveExtension();
}

const char* FetchStateToStatsName(int state) {
  for (const FetchStateName& entry : kFetchStateNames) {
    if (entry.state == state)
      return entry.name;
  }
  return "invalid";
}

base::FilePath MakeFetcherPath(const base::FilePath& folder,
                               const wchar_t* prefix) {
  return folder.Append(RunFolderName::MakeFetcherFile(
      RunFolderName::MakeForThisRun(prefix),
      RunFolderName::FetcherFile::kPackage));
}

size_t GetRoomBelowDownloadFolder() {
  size_t longest_file = 0;
  for (const char* file : kPackageFilesRunInPlace)
    longest_file = std::max(longest_file, std::char_traits<char>::length(file));
  // "\<package folder>\<file>"; the downloaded package, the same name with
  // "_<try>.exe", is shorter than that.
  return 1 + std::char_traits<wchar_t>::length(PackageFetcher::kPackagePrefix) +
         RunFolderName::kLongestSuffix + 1 + longest_file;
}

}  // namespace installer

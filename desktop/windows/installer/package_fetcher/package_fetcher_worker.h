#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/ref_counted.h"
#include "base/threading/lock.h"
#include "base/values.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/package_fetcher/downloaded_version_check.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/product/run_folder_name.h"

namespace base {
class SourceLocation;
}

namespace installer {

class LockedFileView;
class PackageFetcherUIProxy;
class PayloadReader;
class StatsNode;
class WinInetDownloader;

// The package fetcher's work, on the thread "Package fetcher worker": one
// fetch attempt after the other (payload or download, checks, unpacking,
// additional items), each ending in a fetch state that the proxy carries to
// the controller. Made on the controller's thread; everything else,
// destruction included, runs on the worker thread.
class PackageFetcherWorker {
 public:
  // In the download folder.
  struct Paths {
    base::FilePath package_path;
    // Empty unless the install assistant was asked for.
    base::FilePath suite_path;
  };

  // `payload_reader` and `stats_root` are not owned. `stop_event` is set
  // when the fetcher goes, to end waits of the worker early.
  PackageFetcherWorker(base::RefPtr<PackageFetcherUIProxy> proxy,
                       PayloadReader* payload_reader,
                       StatsNode* stats_root,
                       const Paths& paths,
                       uint32_t architecture,
                       HANDLE stop_event);
  PackageFetcherWorker(const PackageFetcherWorker&) = delete;
  PackageFetcherWorker& operator=(const PackageFetcherWorker&) = delete;
  // Disconnects the proxy, stops a download and removes every download
  // file, the package folder and the suite folder.
  ~PackageFetcherWorker();

  // Whether a package that the installer file carries is unpacked into the
  // package folder (the default), or left for the backend. Before `Start`.
  void set_unpack_payload(bool unpack) { unpack_payload_ = unpack; }
  // One fetch attempt.
  void Start();
  // Whether fewer than three attempts have failed. Any thread.
  bool CanRestart();
  // What failed the last attempt, beyond its state. Any thread.
  PackageFetcher::FailureCause GetFailureCause();
  // The ready package's internal version. Any thread.
  std::string GetPackageVersion();

 private:
  // The package.
  void OnDownloadUrlFetched();
  void StartPackageDownload(const std::wstring& url,
                            const std::string& checksum);
  void CollectAdditionalItems();
  void ExtractArchive(const std::string& checksum);
  // Why the held `file` at `path` is not signed as the package must be, by
  // the publisher (kNone when it is, or this installer is an unsigned
  // development build); the refusal is logged, the report goes into `node`
  // when given.
  SignatureRefusal JudgeSignature(const LockedFileView& file,
                                  const base::FilePath& path,
                                  StatsNode* node);
  // Unpacks the package where it lies in `file`.
  void UnpackArchive(const base::FilePath& file,
                     uint64_t offset,
                     uint64_t length,
                     bool downloaded);
  // Why the downloaded package was refused, into the failure cause:
  // `refusal` for a signature check that refused its files.
  void FailVersionCheck(VersionCheck check, SignatureRefusal refusal);
  void WriteTrackingData();
  void OnUnpackComplete();
  void WriteWelcomeUrl();
  void OnPackageReady();
  // A downloaded package, once checked and unpacked, under the package
  // path, where an elevated backend finds it.
  void KeepDownloadForBackend();
  void FinishWithStatus(int state);
  void Fail(int state, const std::string& reason);
  // A failure to write into the download folder, with its Windows error.
  void FailWriting(int state, const std::string& reason, uint32_t error);
  void FailDownload(const std::string& message);

  // The location request and the additional items
  // (package_fetcher_worker_additional_files.cc).
  void FetchDownloadUrl();
  std::wstring GetDownloadUrl() const;
  void StartAdditionalItems();
  void DownloadAdditionalFile();
  void OnAdditionalFileDownloaded(const std::string& file_name,
                                  bool archive,
                                  const std::string& checksum,
                                  const std::string& type);
  // The downloaded item, held from its checks until it is moved.
  bool PlaceAdditionalFile(LockedFileView* held,
                           const base::FilePath& folder,
                           const std::string& file_name);
  bool InstallSelfExtractingItem(LockedFileView* held,
                                 const base::FilePath& folder,
                                 const std::string& type);
  void RetryOrGiveUpAdditionalFile();
  base::FilePath GetAdditionalItemFolder(const std::string& type) const;
  void NextAdditionalFile();
  void AppendPartnerFilesToFilesList();

  void Notify(int state);
  base::FilePath GetPackageFolder() const;
  // `file` beside the package folder, named after it.
  base::FilePath GetFetcherFile(RunFolderName::FetcherFile file,
                                uint32_t try_number = 0) const;
  base::FilePath GetTemporaryAdditionalFile() const;
  void PostToSelf(const base::SourceLocation& from_here,
                  void (PackageFetcherWorker::*method)());

  const base::RefPtr<PackageFetcherUIProxy> proxy_;
  PayloadReader* const payload_reader_;
  StatsNode* const stats_root_;
  const Paths paths_;
  const uint32_t architecture_;
  const HANDLE stop_event_;
  bool unpack_payload_ = true;

  base::Lock lock_;
  int finished_attempts_ = 0;
  PackageFetcher::FailureCause failure_cause_;
  std::string package_version_;

  base::FilePath download_file_;
  // Of every attempt so far: their downloads go with the worker.
  std::vector<uint32_t> download_tries_;
  std::unique_ptr<WinInetDownloader> downloader_;

  std::string location_reply_;
  base::ValueOwner parsed_reply_;
  base::ListValueOwner additional_items_;
  size_t current_item_ = 0;
  int item_tries_ = 0;
  std::vector<std::string> partner_files_;

  std::unique_ptr<StatsNode> fetch_entry_;
  std::unique_ptr<StatsNode> additional_file_entry_;
  std::unique_ptr<StatsNode> download_try_entry_;

  // Last: tasks bound to it are dropped before anything else goes.
  base::WeakReferenceSource weak_source_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_WORKER_H_

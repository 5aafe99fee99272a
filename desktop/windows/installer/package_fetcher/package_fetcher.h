#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/closure.h"
#include "base/files/file_path.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/signing/signature_refusal.h"
#include "desktop/windows/installer/wininet/progress_delegate.h"
#include "desktop/windows/installer/wininet/ui_delegate.h"

namespace base {
class SourceLocation;
class Thread;
}

namespace installer {

class PackageFetcherWorker;
class PayloadReader;
class StatsNode;

// Obtains the browser package for a front-end process while the controller
// goes on: from the payload of the host executable when it holds a full
// package, else from the update server, which names the package, its
// checksum and additional items. The package is checked, unpacked into the
// package folder and completed there. All of that runs on the thread
// "Package fetcher worker"; the controller hears of it on its own thread.
// Made, started and destroyed on the controller's thread.
class PackageFetcher {
 public:
  // The run-folder name prefixes of the package and the companion
  // component, downloaded or unpacked.
  static constexpr wchar_t kPackagePrefix[] = L"tarvo_installer";
  static constexpr wchar_t kSuitePrefix[] = L"suite";

  // The downloader's delegates, which the fetcher and its unpacker report
  // through as well.
  using Delegate = ProgressDelegate;
  using UIDelegate = ::installer::UIDelegate;

  // What an attempt is doing; 5 to 8 end it.
  enum FetchState : int32_t {
    FETCH_STARTED = 0,
    FETCHING_DOWNLOAD_URL = 1,
    DOWNLOAD_URL_FETCHED = 2,
    UNPACKING = 3,
    FETCHING_ADDITIONAL_FILES = 4,
    PACKAGE_READY = 5,
    INITIALIZATION_FAILED = 6,
    DOWNLOAD_FAILED = 7,
    UNPACKING_FAILED = 8,
  };

  // `ui_delegate` must not be null. None of the pointers is owned; all must
  // outlive the fetcher.
  PackageFetcher(const base::FilePath& download_folder,
                 StatsNode* stats_root,
                 UIDelegate* ui_delegate,
                 Delegate* delegate,
                 PayloadReader* payload_reader,
                 uint32_t architecture,
                 bool install_assistant);
  PackageFetcher(const PackageFetcher&) = delete;
  PackageFetcher& operator=(const PackageFetcher&) = delete;
  // Stops the work and waits for the worker to have removed what it made:
  // the package folder lives as long as the fetcher.
  ~PackageFetcher();

  // Where a package that the installer file carries is unpacked: here, into
  // the package folder; or by an elevated backend, from the installer file
  // itself, which leaves the package folder to the run's own data.
  enum class Unpack { kInFrontEnd, kInBackend };
  // Starts the first attempt.
  void Start(Unpack unpack = Unpack::kInFrontEnd);
  // Starts another attempt after a failed one, while fewer than three have
  // failed; false, with nothing done, otherwise.
  bool Retry();
  // What failed the last attempt, beyond its state.
  struct FailureCause {
    // The Windows error of the write into the download folder that failed
    // it (a full disk); 0 when it failed otherwise.
    uint32_t write_error = 0;
    // Why a signature check refused the downloaded package (at its first
    // check), or its installer or library in the package folder (after the
    // package was checked: then changed, unless the check names another
    // cause); not refused when none did.
    RefusedSignature signature;
    // The downloaded package is older than this installer.
    bool older_than_installer = false;
  };
  // Read it when the failure is notified, before `Retry`.
  FailureCause GetFailureCause() const;
  // The internal version ("build.patch") of the package that is ready: the
  // one its installer printed for a download, this installer's own for the
  // package it carries. Read it once the package is ready.
  std::string GetPackageVersion() const;
  // Where the package is downloaded and unpacked.
  base::FilePath download_folder() const { return package_path_.DirName(); }

  // The package as downloaded, "tarvo_installer_<stamp>_<pid>.exe" in the
  // download folder.
  const base::FilePath& package_path() const { return package_path_; }
  // Where the package is unpacked: the package path without ".exe".
  base::FilePath package_folder() const;
  // The companion component, empty unless the install assistant was asked
  // for; its folder is the path without ".exe".
  const base::FilePath& suite_path() const { return suite_path_; }
  base::FilePath suite_folder() const;

 private:
  void PostWorkerStart(const base::SourceLocation& from_here);

  base::FilePath package_path_;
  base::FilePath suite_path_;
  // Set before the worker goes, so that a wait of the worker ends at once.
  base::win::ScopedHandle stop_event_;
  // Deleted on the worker thread.
  std::unique_ptr<PackageFetcherWorker> worker_;
  std::unique_ptr<base::Thread> worker_thread_;
};

// The name of a `FetchState` that ends an attempt, as the statistics
// ("result") give it: "package_ready", "initialization_failed",
// "download_failed", "unpacking_failed"; "invalid" for any other value.
const char* FetchStateToStatsName(int state);

// "<prefix>_<YYYYMMDDhhmmss>_<pid>.exe" in `folder`, in UTC. The process
// id keeps apart the packages of fetchers that start in the same second on
// the same folder.
base::FilePath MakeFetcherPath(const base::FilePath& folder,
                               const wchar_t* prefix);

// The most characters that the fetcher's paths add to its download folder,
// separators included: the package folder, named as MakeFetcherPath names
// the package for the largest process id, with the package's installer,
// library and helper in it, which the installer starts or loads from there
// (Windows starts and loads nothing from a path of MAX_PATH characters or
// more). The download folder must leave this much room below MAX_PATH.
size_t GetRoomBelowDownloadFolder();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

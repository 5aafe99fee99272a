#ifndef DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_PREF_DEFAULT_OVERRIDES_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#include <memory>
#include <string>

#include "base/closure.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/wininet/ui_delegate.h"

namespace installer {

class WinInetDownloader;

// Asks the update server for preference defaults that override the
// browser's own and stores the reply as "pref_default_overrides" in a
// folder, for the installation to pick up. A failed fetch leaves no file
// and never stops the installation.
class PrefDefaultOverridesFetcher {
 public:
  // `ui_delegate` is not owned and must outlive the fetcher.
  PrefDefaultOverridesFetcher(const base::FilePath& folder,
                              UIDelegate* ui_delegate);
  PrefDefaultOverridesFetcher(const PrefDefaultOverridesFetcher&) = delete;
  PrefDefaultOverridesFetcher& operator=(const PrefDefaultOverridesFetcher&) =
      delete;
  // Abandons a running request: `done` then never runs.
  ~PrefDefaultOverridesFetcher();

  // Sends `tracking_data` (a POST, or a GET when empty) from the calling
  // thread, which must run a message loop; `done` runs once the fetch ended
  // either way, at once when the feature is off or the request cannot start.
  void FetchPrefDefaultOverrides(const std::string& tracking_data,
                                 base::Closure done);

 private:
  void OnFetched();

  const base::FilePath target_path_;
  std::unique_ptr<WinInetDownloader> downloader_;
  base::Closure done_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PREF_DEFAULT_OVERRIDES_FETCHER_PREF_DEFAULT_OVERRIDES_FETCHER_H_

#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_PROGRESS_DELEGATE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_PROGRESS_DELEGATE_H_

namespace installer {

// Progress and fetch state, on the controller's thread. The downloader
// reports through it, and so do the fetcher and the unpacker above it.
class ProgressDelegate {
 public:
  virtual ~ProgressDelegate() = default;
  // Bytes while downloading, archive entries while unpacking.
  virtual void SetTotalProgress(int total) = 0;
  virtual void SetCurrentProgress(int current) = 0;
  // A download retries after more than one retry in a row.
  virtual void NotifyStalled() = 0;
  // A `PackageFetcher::FetchState`.
  virtual void NotifyStatusChanged(int state) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_PROGRESS_DELEGATE_H_

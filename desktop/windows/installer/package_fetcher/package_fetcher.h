#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

namespace installer {

// Obtains, checks and unpacks the browser package for a controller.
class PackageFetcher {
 public:
  // How the fetcher and its helpers report to a controller. Calls arrive on
  // the thread that does the work; implementations post them on as needed.
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void SetTotalProgress(int total) = 0;
    virtual void SetCurrentProgress(int current) = 0;
    virtual void NotifyStalled() = 0;
    virtual void NotifyStatusChanged(int fetch_state) = 0;
  };
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

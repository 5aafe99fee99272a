#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

namespace installer {

// Carries the fetcher's notifications from the worker thread to the
// controller's thread: each call posts the same call on the controller,
// which runs only while the controller is still connected. Made on the
// controller's thread, whose task runner it keeps.
class PackageFetcherUIProxy : public base::RefCounted<PackageFetcherUIProxy>,
                              public PackageFetcher::Delegate,
                              public PackageFetcher::UIDelegate {
 public:
  PackageFetcherUIProxy(PackageFetcher::Delegate* delegate,
                        PackageFetcher::UIDelegate* ui_delegate);
  PackageFetcherUIProxy(const PackageFetcherUIProxy&) = delete;
  PackageFetcherUIProxy& operator=(const PackageFetcherUIProxy&) = delete;

  // From then on nothing reaches the controller, also of the calls already
  // posted. Any thread.
  void Disconnect();

  // PackageFetcher::Delegate, from any thread:
  void SetTotalProgress(int total) override;
  void SetCurrentProgress(int current) override;
  void NotifyStalled() override;
  void NotifyStatusChanged(int state) override;
  // PackageFetcher::UIDelegate, from any thread:
  void RunUICallbackAndPostReply(UICallback ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 ReplyCallback reply) override;

 private:
  friend class base::RefCounted<PackageFetcherUIProxy>;
  ~PackageFetcherUIProxy() override;

  // Posts `call` with the controller's delegate, when it is still set.
  void PostToDelegate(void (*call)(PackageFetcher::Delegate*, int), int value);
  PackageFetcher::Delegate* delegate();
  PackageFetcher::UIDelegate* ui_delegate();

  const base::RefPtr<base::SequencedTaskRunner> controller_runner_;
  // Read on the controller's thread, cleared by the worker's end.
  base::Lock lock_;
  PackageFetcher::Delegate* delegate_;
  PackageFetcher::UIDelegate* ui_delegate_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_

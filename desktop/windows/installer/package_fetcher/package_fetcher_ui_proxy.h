#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_

#include <memory>

#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/lock.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

namespace installer {

// Carries the fetcher's notifications from the worker thread to the
// controller's thread: each call posts the same call on the controller,
// which runs only while the controller is still connected. Progress comes
// once per unpacked file, faster than a window can show it, and each post
// wakes the controller's thread: while one progress call is on its way,
// later values replace the value it carries. Every other notification keeps
// its place after the progress before it. Made on the controller's thread,
// whose task runner it keeps.
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
  // On the controller: the progress `slot` carries, when still connected.
  void DeliverProgress(const std::shared_ptr<int>& slot);
  // Later progress no longer joins the progress call on its way: what is
  // posted next comes after it.
  void CloseProgressSlot();
  PackageFetcher::Delegate* delegate();
  PackageFetcher::UIDelegate* ui_delegate();

  const base::RefPtr<base::SequencedTaskRunner> controller_runner_;
  // Read on the controller's thread, cleared by the worker's end.
  base::Lock lock_;
  PackageFetcher::Delegate* delegate_;
  PackageFetcher::UIDelegate* ui_delegate_;
  // The value of the progress call on its way, while later values may
  // still replace it; shared with that call.
  std::shared_ptr<int> open_progress_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UI_PROXY_H_

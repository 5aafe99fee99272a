#include "desktop/windows/installer/package_fetcher/package_fetcher_ui_proxy.h"

#include <utility>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/logging.h"

namespace installer {

PackageFetcherUIProxy::PackageFetcherUIProxy(
    PackageFetcher::Delegate* delegate,
    PackageFetcher::UIDelegate* ui_delegate)
    : controller_runner_(base::CurrentTaskRunnerHandle::Get()),
      delegate_(delegate),
      ui_delegate_(ui_delegate) {
  CHECK(controller_runner_);
}

PackageFetcherUIProxy::~PackageFetcherUIProxy() = default;

void PackageFetcherUIProxy::Disconnect() {
  base::AutoLock hold(lock_);
  delegate_ = nullptr;
  ui_delegate_ = nullptr;
}

void PackageFetcherUIProxy::SetTotalProgress(int total) {
  PostToDelegate(
      [](PackageFetcher::Delegate* target, int value) {
        target->SetTotalProgress(value);
      },
      total);
}

void PackageFetcherUIProxy::SetCurrentProgress(int current) {
  std::shared_ptr<int> slot;
  {
    base::AutoLock hold(lock_);
    if (open_progress_) {
      *open_progress_ = current;
      return;
    }
    slot = std::make_shared<int>(current);
    open_progress_ = slot;
  }
  controller_runner_->PostTask(
      FROM_HERE,
      base::Bind(
          [](const base::RefPtr<PackageFetcherUIProxy>& proxy,
             const std::shared_ptr<int>& progress) {
            proxy->DeliverProgress(progress);
          },
          base::RefPtr<PackageFetcherUIProxy>(this), std::move(slot)));
}

void PackageFetcherUIProxy::NotifyStalled() {
  PostToDelegate(
      [](PackageFetcher::Delegate* target, int) { target->NotifyStalled(); },
      0);
}

void PackageFetcherUIProxy::NotifyStatusChanged(int state) {
  PostToDelegate(
      [](PackageFetcher::Delegate* target, int value) {
        target->NotifyStatusChanged(value);
      },
      state);
}

void PackageFetcherUIProxy::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::RefPtr<base::TaskRunner> reply_runner,
    ReplyCallback reply) {
  CloseProgressSlot();
  controller_runner_->PostTask(
      FROM_HERE,
      base::Bind(
          [](const base::RefPtr<PackageFetcherUIProxy>& proxy,
             UICallback& callback, base::RefPtr<base::TaskRunner>& runner,
             ReplyCallback& reply_callback) {
            if (PackageFetcher::UIDelegate* target = proxy->ui_delegate()) {
              target->RunUICallbackAndPostReply(
                  std::move(callback), std::move(runner),
                  std::move(reply_callback));
            }
          },
          base::RefPtr<PackageFetcherUIProxy>(this), std::move(ui_callback),
          std::move(reply_runner), std::move(reply)));
}

void PackageFetcherUIProxy::PostToDelegate(
    void (*call)(PackageFetcher::Delegate*, int),
    int value) {
  CloseProgressSlot();
  controller_runner_->PostTask(
      FROM_HERE,
      base::Bind(
          [](const base::RefPtr<PackageFetcherUIProxy>& proxy,
             void (*target_call)(PackageFetcher::Delegate*, int), int v) {
            if (PackageFetcher::Delegate* target = proxy->delegate())
              target_call(target, v);
          },
          base::RefPtr<PackageFetcherUIProxy>(this), call, value));
}

void PackageFetcherUIProxy::DeliverProgress(const std::shared_ptr<int>& slot) {
  int value = 0;
  PackageFetcher::Delegate* target = nullptr;
  {
    base::AutoLock hold(lock_);
    if (open_progress_ == slot)
      open_progress_.reset();
    value = *slot;
    target = delegate_;
  }
  if (target)
    target->SetCurrentProgress(value);
}

void PackageFetcherUIProxy::CloseProgressSlot() {
  base::AutoLock hold(lock_);
  open_progress_.reset();
}

PackageFetcher::Delegate* PackageFetcherUIProxy::delegate() {
  base::AutoLock hold(lock_);
  return delegate_;
}

PackageFetcher::UIDelegate* PackageFetcherUIProxy::ui_delegate() {
  base::AutoLock hold(lock_);
  return ui_delegate_;
}

}  // namespace installer

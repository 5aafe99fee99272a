#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_STATUS_WAITER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_STATUS_WAITER_H_

#include "base/message_loop/loop_runner.h"
#include "desktop/windows/installer/settings/settings.h"

namespace installer {

// Runs the calling thread's loop until `settings` has adopted the status of
// its folder, which is computed on the worker pool.
inline void WaitForSettingsStatus(Settings& settings) {
  class PathWaiter : public Settings::Observer {
   public:
    explicit PathWaiter(base::LoopRunner* runner) : runner_(runner) {}
    void OnSettingsChanged() override {}
    void OnLanguageChanged() override {}
    void OnPathChanged() override { runner_->Quit(); }

   private:
    base::LoopRunner* runner_;
  };
  if (!settings.IsStatusPending())
    return;
  base::LoopRunner runner;
  PathWaiter waiter(&runner);
  settings.AddObserver(&waiter);
  runner.Run();
  settings.RemoveObserver(&waiter);
}

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_SETTINGS_STATUS_WAITER_H_

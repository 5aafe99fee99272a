#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_

#include <windows.h>
#include <taskschd.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/com_ptr.h"
#include "desktop/windows/installer/tasks/task_scheduler_interfaces.h"

// A recording stand-in for Task Scheduler 2.0: Wine's service refuses
// trigger ids, end boundaries, logon, boot and registration triggers, run
// levels, action lists, task lists and runs, so what the schedulers define
// is checked here. Every property set and every call that changes the
// service is written to a journal as "Object.Property=value"; properties
// nobody reads back answer E_NOTIMPL, as Wine's do.

namespace installer::test {

using Journal = std::vector<std::wstring>;

class FakeTaskFolder;

class FakeTaskService {
 public:
  FakeTaskService();
  ~FakeTaskService();
  FakeTaskService(const FakeTaskService&) = delete;
  FakeTaskService& operator=(const FakeTaskService&) = delete;

  // A new reference to the service, for the scheduler under test.
  base::win::ComPtr<ITaskService> NewServiceReference();

  const Journal& journal() const { return *journal_; }
  void ClearJournal() { journal_->clear(); }

  // Registers a task in the root folder whose actions run `programs` (none:
  // a task without actions); `name` is the registered name.
  void AddTask(const std::wstring& name,
               const std::vector<std::wstring>& programs);
  bool HasTask(const std::wstring& name) const;
  // Registered names, in registration order.
  std::vector<std::wstring> TaskNames() const;

  // What the service answers from now on. A control for a task that is not
  // registered does nothing.
  void SetTaskState(const std::wstring& name, TASK_STATE state);
  void SetLastRun(const std::wstring& name, HRESULT result, DATE date);
  void SetRegisterResult(HRESULT result);
  void SetSecurityDescriptorResult(HRESULT result);

 private:
  std::shared_ptr<Journal> journal_;
  base::win::ComPtr<ITaskService> service_;
  FakeTaskFolder* root_folder_;  // Owned through `service_`.
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_

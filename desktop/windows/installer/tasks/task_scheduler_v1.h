#ifndef DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V1_H_
#define DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V1_H_

#include <windows.h>
#include <mstask.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/com_ptr.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/tasks/task_scheduler.h"

namespace installer {

// The product's tasks on Task Scheduler 1.0 (before Vista): work items kept
// as job files. No registration or boot trigger, no delays, no network
// condition.
class TaskSchedulerV1 : public TaskScheduler {
 public:
  // Opens a daily system task's job file to the users it runs for.
  using JobFileGrant = void (*)(const std::wstring& job_file);

  TaskSchedulerV1();
  // Tests only: `grant` stands in for GrantAuthenticatedUsersReadExecute,
  // whose entry Wine drops (it keeps only what file modes can express).
  explicit TaskSchedulerV1(JobFileGrant grant);
  ~TaskSchedulerV1() override;

  bool Init() override;
  bool CreateTask(const ScheduledTaskInfo& info) override;
  void DeleteStaleTasks() override;
  void DeleteTask(const std::wstring& name) override;
  void SetDailyInterval(const std::wstring& name, int32_t days) override;
  void SetTaskEnabled(const std::wstring& name, bool enabled) override;
  bool RunTask(const std::wstring& name,
               const std::vector<std::wstring>& arguments) override;
  TaskState GetTaskState(const std::wstring& name) override;
  base::Time GetLastRunTime(const std::wstring& name) override;

 private:
  bool OpenWorkItem(const std::wstring& registered_name,
                    base::win::ComPtr<ITask>* task) const;
  // Waits out another process's hold on the job file, as OpenWorkItem does.
  void DeleteWorkItem(const std::wstring& registered_name);
  // An enabled product work item whose application is gone.
  bool IsStaleWorkItem(const std::wstring& registered_name) const;

  JobFileGrant grant_;
  base::win::ComPtr<ITaskScheduler> scheduler_;
};

// Adds an entry that lets authenticated users read and execute the file;
// failures end it silently.
void GrantAuthenticatedUsersReadExecute(const std::wstring& path);

// `dacl` with an explicit entry granting authenticated users generic read
// and execute; null on failure.
base::win::ScopedLocalAlloc<ACL> AddAuthenticatedUsersReadExecute(PACL dacl);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V1_H_

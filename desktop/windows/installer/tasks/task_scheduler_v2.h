#ifndef DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V2_H_
#define DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V2_H_

#include <windows.h>
#include <taskschd.h>

#include <string>
#include <vector>

#include "base/win/com_ptr.h"
#include "desktop/windows/installer/tasks/task_scheduler.h"

namespace installer {

// The product's tasks on Task Scheduler 2.0 (Vista and later), registered
// in the root folder under their registered names.
class TaskSchedulerV2 : public TaskScheduler {
 public:
  TaskSchedulerV2();
  // Tests only: `service` stands in for the system's task service.
  explicit TaskSchedulerV2(base::win::ComPtr<ITaskService> service);
  ~TaskSchedulerV2() override;

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
  bool OpenTask(const std::wstring& name,
                base::win::ComPtr<IRegisteredTask>* task) const;
  void DeleteRegisteredTask(const std::wstring& registered_name);
  bool RegisterTask(const std::wstring& registered_name,
                    const ScheduledTaskInfo& info,
                    const std::wstring& user,
                    ITaskDefinition* definition);
  // Deletes the registered task when its single executing action names a
  // file that is gone.
  void DeleteIfProgramMissing(IRegisteredTask* task);

  base::win::ComPtr<ITaskService> service_;
  base::win::ComPtr<ITaskFolder> root_folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_V2_H_

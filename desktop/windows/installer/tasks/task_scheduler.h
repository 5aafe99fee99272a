#ifndef DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_H_
#define DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_H_

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/time/time.h"

namespace installer {

// One task to create.
struct ScheduledTaskInfo {
  // The two kinds the schedulers know; any other value gives a task without
  // a time trigger.
  static constexpr int32_t kRunOnce = 0;
  static constexpr int32_t kDaily = 1;

  explicit ScheduledTaskInfo(const base::CommandLine& command_line);

  // The program is the task's executable, the rest its arguments.
  base::CommandLine command_line;
  // The task's own name; the registered one is MakeScheduledTaskName(name).
  std::wstring name;
  std::wstring description;
  // Non-zero: the local system account; zero: the current user.
  int32_t run_as_system = 0;
  // The longest one run may take; 0 is no limit.
  int32_t time_limit_seconds = 0;
  int32_t trigger_kind = kRunOnce;
  // With a daily task, also start at logon (user task) or at boot (system).
  bool add_logon_trigger = false;
  // Task Scheduler 2.0 only.
  bool run_only_if_network = false;
};

enum TaskState : int32_t {
  kTaskStateUnavailable = 0,  // The task cannot be opened.
  kTaskStateDisabled = 1,
  kTaskStateIndeterminate = 2,
  kTaskStateReady = 3,  // Also queued, or not yet run.
  kTaskStateRunning = 4,
  kTaskStateNoMoreRuns = 5,  // Task Scheduler 1.0 only.
};

// The product's scheduled tasks on one of the two Windows task schedulers.
// Every name argument is the task's own name; the registered name is built
// from it. Init must succeed before any other call. One thread, with COM
// initialised.
class TaskScheduler {
 public:
  virtual ~TaskScheduler() = default;

  virtual bool Init() = 0;
  virtual bool CreateTask(const ScheduledTaskInfo& info) = 0;
  // Removes this product's tasks whose executable no longer exists.
  virtual void DeleteStaleTasks() = 0;
  // Failures are ignored.
  virtual void DeleteTask(const std::wstring& name) = 0;
  virtual void SetDailyInterval(const std::wstring& name, int32_t days) = 0;
  virtual void SetTaskEnabled(const std::wstring& name, bool enabled) = 0;
  virtual bool RunTask(const std::wstring& name,
                       const std::vector<std::wstring>& arguments) = 0;
  virtual TaskState GetTaskState(const std::wstring& name) = 0;
  // Null when the task has no last run.
  virtual base::Time GetLastRunTime(const std::wstring& name) = 0;
};

// Task Scheduler 2.0 from Vista on, else 1.0; not yet initialised.
std::unique_ptr<TaskScheduler> CreateTaskScheduler();

// The branding's product name + " scheduled " + `name`.
std::wstring MakeScheduledTaskName(const std::wstring& name);

// Helpers the two schedulers share.

// Whether a registered task name is one this product registers.
bool IsProductTaskName(const std::wstring& registered_name);
// Whether the stale-task sweep may delete a product task that runs
// `program`, as the scheduler stored it: true only when the program,
// unquoted and with its environment variables expanded, is a full path to
// nothing.
bool IsTaskProgramMissing(const std::wstring& program);
// The time of calendar fields that the schedulers give in local time; null
// when the fields are not a valid date.
base::Time TimeFromLocalSystemTime(const SYSTEMTIME& local_time);

// The scheduler service reads a task's file whenever it changes, and other
// programs read and write theirs at any time: for those moments the file can
// be neither deleted nor opened. Such a hold is waited out, within about
// three seconds in all.
inline constexpr HRESULT kTaskFileHeld =
    HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
inline constexpr int kTaskFileHeldRetries = 8;
inline constexpr DWORD kFirstTaskRetryDelayMs = 50;
inline constexpr DWORD kLongestTaskRetryDelayMs = 500;

// Logs `what` failing on the task `registered_name`, unless the task was
// only missing.
void LogTaskFailure(const char* what,
                    const std::wstring& registered_name,
                    HRESULT result);

// Runs `attempt` (returning an HRESULT) again while another process holds
// the task's file, a bounded number of times; its last result, logged when
// it failed.
template <typename Attempt>
HRESULT RetryWhileTaskFileHeld(const char* what,
                               const std::wstring& registered_name,
                               Attempt attempt) {
  HRESULT result = attempt();
  DWORD delay_ms = kFirstTaskRetryDelayMs;
  for (int retry = 0; retry < kTaskFileHeldRetries && result == kTaskFileHeld;
       ++retry) {
    ::Sleep(delay_ms);
    delay_ms = std::min(delay_ms * 2, kLongestTaskRetryDelayMs);
    result = attempt();
  }
  if (FAILED(result))
    LogTaskFailure(what, registered_name, result);
  return result;
}

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TASKS_TASK_SCHEDULER_H_

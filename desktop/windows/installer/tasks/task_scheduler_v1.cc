#include "desktop/windows/installer/tasks/task_scheduler_v1.h"

#include <aclapi.h>

#include <algorithm>
#include <memory>

#include "base/strings/string_util.h"
#include "base/win/access_list.h"
#include "base/win/scoped_co_mem.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/tasks/task_scheduler_interfaces.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedCoMem;

// NameSamCompatible: "domain\user".
constexpr int kSamCompatibleName = 2;
// The account name of the local system account.
constexpr wchar_t kSystemAccount[] = L"";
constexpr wchar_t kJobFileExtension[] = L".job";
constexpr DWORD kMillisecondsPerSecond = 1000;
// Just below INFINITE, which means no limit.
constexpr uint64_t kLongestRunTimeMs = INFINITE - 1;

struct StatusMapping {
  HRESULT status;
  TaskState state;
};
constexpr StatusMapping kStatusMappings[] = {
    {SCHED_S_TASK_READY, kTaskStateReady},
    {SCHED_S_TASK_HAS_NOT_RUN, kTaskStateReady},
    {SCHED_S_TASK_RUNNING, kTaskStateRunning},
    {SCHED_S_TASK_DISABLED, kTaskStateDisabled},
    {SCHED_S_TASK_NO_MORE_RUNS, kTaskStateNoMoreRuns},
    {SCHED_S_TASK_NOT_SCHEDULED, kTaskStateNoMoreRuns},
    {SCHED_S_TASK_NO_VALID_TRIGGERS, kTaskStateNoMoreRuns},
};

DWORD MaxRunTimeMs(int32_t time_limit_seconds) {
  if (time_limit_seconds <= 0)
    return INFINITE;
  return static_cast<DWORD>(std::min<uint64_t>(
      static_cast<uint64_t>(time_limit_seconds) * kMillisecondsPerSecond,
      kLongestRunTimeMs));
}

bool DescribeWorkItem(const ScheduledTaskInfo& info,
                      const std::wstring& user,
                      ITask* task) {
  const bool system = info.run_as_system != 0;
  DWORD flags = TASK_FLAG_RUN_ONLY_IF_LOGGED_ON;
  if (info.trigger_kind == ScheduledTaskInfo::kRunOnce)
    flags |= TASK_FLAG_DELETE_WHEN_DONE;
  return SUCCEEDED(task->SetAccountInformation(
             system ? kSystemAccount : user.c_str(), nullptr)) &&
         SUCCEEDED(task->SetApplicationName(
             info.command_line.GetProgram().value().c_str())) &&
         SUCCEEDED(task->SetComment(info.description.c_str())) &&
         SUCCEEDED(task->SetCreator(user.c_str())) &&
         SUCCEEDED(task->SetFlags(flags)) &&
         SUCCEEDED(
             task->SetMaxRunTime(MaxRunTimeMs(info.time_limit_seconds))) &&
         SUCCEEDED(task->SetParameters(
             info.command_line.GetArgumentsString().c_str()));
}

// Starting today at the current hour and minute, in local time.
TASK_TRIGGER MakeTriggerFromNow(TASK_TRIGGER_TYPE type) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  TASK_TRIGGER trigger = {};
  trigger.cbTriggerSize = sizeof(trigger);
  trigger.wBeginYear = now.wYear;
  trigger.wBeginMonth = now.wMonth;
  trigger.wBeginDay = now.wDay;
  trigger.wStartHour = now.wHour;
  trigger.wStartMinute = now.wMinute;
  trigger.TriggerType = type;
  return trigger;
}

bool AddTrigger(TASK_TRIGGER trigger, ITask* task) {
  WORD index = 0;
  ComPtr<ITaskTrigger> new_trigger;
  return SUCCEEDED(task->CreateTrigger(&index, new_trigger.Receive())) &&
         SUCCEEDED(new_trigger->SetTrigger(&trigger));
}

bool AddTriggers(const ScheduledTaskInfo& info, ITask* task) {
  if (info.trigger_kind == ScheduledTaskInfo::kRunOnce)
    return AddTrigger(MakeTriggerFromNow(TASK_TIME_TRIGGER_ONCE), task);
  if (info.trigger_kind == ScheduledTaskInfo::kDaily) {
    TASK_TRIGGER daily = MakeTriggerFromNow(TASK_TIME_TRIGGER_DAILY);
    daily.Type.Daily.DaysInterval = 1;
    if (!AddTrigger(daily, task))
      return false;
  }
  return !info.add_logon_trigger ||
         AddTrigger(MakeTriggerFromNow(TASK_EVENT_TRIGGER_AT_LOGON), task);
}

bool SaveWorkItem(ITask* task, ComPtr<IPersistFile>* file) {
  return SUCCEEDED(task->QueryInterface(__uuidof(IPersistFile),
                                        file->ReceiveVoid())) &&
         SUCCEEDED((*file)->Save(nullptr, TRUE));
}

// The enumeration names work items by their job files; the other calls take
// the name without the extension.
std::wstring WorkItemName(const std::wstring& enumerated_name) {
  if (base::EndsWithWide(enumerated_name, kJobFileExtension,
                         base::CASE_INSENSITIVE_ASCII)) {
    return enumerated_name.substr(
        0, enumerated_name.size() - (std::size(kJobFileExtension) - 1));
  }
  return enumerated_name;
}

// Windows reports a disabled item by its status; Wine only keeps the flag.
bool IsDisabled(ITask* task, HRESULT status) {
  DWORD flags = 0;
  return status == SCHED_S_TASK_DISABLED ||
         (SUCCEEDED(task->GetFlags(&flags)) && (flags & TASK_FLAG_DISABLED));
}

TaskState ToTaskState(HRESULT status) {
  for (const StatusMapping& mapping : kStatusMappings) {
    if (mapping.status == status)
      return mapping.state;
  }
  return kTaskStateIndeterminate;
}

}  // namespace

TaskSchedulerV1::TaskSchedulerV1()
    : TaskSchedulerV1(&GrantAuthenticatedUsersReadExecute) {}

TaskSchedulerV1::TaskSchedulerV1(JobFileGrant grant) : grant_(grant) {}

TaskSchedulerV1::~TaskSchedulerV1() = default;

bool TaskSchedulerV1::Init() {
  return SUCCEEDED(scheduler_.CreateInstance(kCTaskSchedulerClsid));
}

bool TaskSchedulerV1::CreateTask(const ScheduledTaskInfo& info) {
  std::wstring user;
  if (!scheduler_ || !GetUserNameEx(&user, kSamCompatibleName))
    return false;
  const std::wstring registered_name = MakeScheduledTaskName(info.name);
  DeleteWorkItem(registered_name);
  ComPtr<ITask> task;
  ComPtr<IPersistFile> file;
  if (FAILED(scheduler_->NewWorkItem(
          registered_name.c_str(), kCTaskClsid, __uuidof(ITask),
          reinterpret_cast<IUnknown**>(task.Receive()))) ||
      !DescribeWorkItem(info, user, task.Get()) ||
      !AddTriggers(info, task.Get()) || !SaveWorkItem(task.Get(), &file)) {
    return false;
  }
  if (info.run_as_system != 0 &&
      info.trigger_kind == ScheduledTaskInfo::kDaily) {
    ScopedCoMem<wchar_t> job_file;
    if (FAILED(file->GetCurFile(job_file.Receive())) || !job_file.Get())
      return false;
    grant_(job_file.Get());
  }
  return info.trigger_kind != ScheduledTaskInfo::kRunOnce ||
         SUCCEEDED(task->Run());
}

void TaskSchedulerV1::DeleteStaleTasks() {
  ComPtr<IEnumWorkItems> items;
  if (!scheduler_ || FAILED(scheduler_->Enum(items.Receive())))
    return;
  std::vector<std::wstring> stale;
  for (;;) {
    ScopedCoMem<LPWSTR> names;
    ULONG fetched = 0;
    const HRESULT result = items->Next(1, names.Receive(), &fetched);
    if (FAILED(result))
      LogTaskFailure("Enumerating", L"work items", result);
    if (result != S_OK || fetched != 1 || !names.Get())
      break;
    ScopedCoMem<wchar_t> enumerated_name;
    enumerated_name.Reset(names.Get()[0]);
    if (!enumerated_name.Get())
      continue;
    std::wstring name = WorkItemName(enumerated_name.Get());
    if (IsProductTaskName(name) && IsStaleWorkItem(name))
      stale.push_back(name);
  }
  for (const std::wstring& name : stale)
    DeleteWorkItem(name);
}

void TaskSchedulerV1::DeleteTask(const std::wstring& name) {
  if (scheduler_)
    DeleteWorkItem(MakeScheduledTaskName(name));
}

void TaskSchedulerV1::SetDailyInterval(const std::wstring& name, int32_t days) {
  ComPtr<ITask> task;
  WORD count = 0;
  if (!OpenWorkItem(MakeScheduledTaskName(name), &task) ||
      FAILED(task->GetTriggerCount(&count))) {
    return;
  }
  for (WORD index = 0; index < count; ++index) {
    ComPtr<ITaskTrigger> trigger;
    TASK_TRIGGER data = {};
    data.cbTriggerSize = sizeof(data);
    if (FAILED(task->GetTrigger(index, trigger.Receive())) ||
        FAILED(trigger->GetTrigger(&data))) {
      return;
    }
    if (data.TriggerType != TASK_TIME_TRIGGER_DAILY)
      continue;
    if (data.Type.Daily.DaysInterval == days)
      return;
    data.Type.Daily.DaysInterval = static_cast<WORD>(days);
    ComPtr<IPersistFile> file;
    if (SUCCEEDED(trigger->SetTrigger(&data)))
      SaveWorkItem(task.Get(), &file);
    return;
  }
}

// The flags live in the job file: without saving, the change would be lost
// with the object.
void TaskSchedulerV1::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<ITask> task;
  DWORD flags = 0;
  if (!OpenWorkItem(MakeScheduledTaskName(name), &task) ||
      FAILED(task->GetFlags(&flags))) {
    return;
  }
  flags =
      enabled ? (flags & ~TASK_FLAG_DISABLED) : (flags | TASK_FLAG_DISABLED);
  ComPtr<IPersistFile> file;
  if (SUCCEEDED(task->SetFlags(flags)))
    SaveWorkItem(task.Get(), &file);
}

// Work items take no run-time arguments.
bool TaskSchedulerV1::RunTask(const std::wstring& name,
                              const std::vector<std::wstring>& arguments) {
  ComPtr<ITask> task;
  return OpenWorkItem(MakeScheduledTaskName(name), &task) &&
         SUCCEEDED(task->Run());
}

TaskState TaskSchedulerV1::GetTaskState(const std::wstring& name) {
  ComPtr<ITask> task;
  if (!OpenWorkItem(MakeScheduledTaskName(name), &task))
    return kTaskStateUnavailable;
  HRESULT status = S_OK;
  if (FAILED(task->GetStatus(&status)))
    return kTaskStateIndeterminate;
  return ToTaskState(status);
}

// The job file keeps the last run in local time.
base::Time TaskSchedulerV1::GetLastRunTime(const std::wstring& name) {
  ComPtr<ITask> task;
  if (!OpenWorkItem(MakeScheduledTaskName(name), &task))
    return base::Time();
  SYSTEMTIME local_time = {};
  HRESULT result = task->GetMostRecentRunTime(&local_time);
  if (FAILED(result) || result == SCHED_S_TASK_HAS_NOT_RUN)
    return base::Time();
  return TimeFromLocalSystemTime(local_time);
}

bool TaskSchedulerV1::OpenWorkItem(const std::wstring& registered_name,
                                   ComPtr<ITask>* task) const {
  if (!scheduler_)
    return false;
  const HRESULT result =
      RetryWhileTaskFileHeld("Opening", registered_name, [&] {
        return scheduler_->Activate(
            registered_name.c_str(), __uuidof(ITask),
            reinterpret_cast<IUnknown**>(task->Receive()));
      });
  return SUCCEEDED(result);
}

void TaskSchedulerV1::DeleteWorkItem(const std::wstring& registered_name) {
  RetryWhileTaskFileHeld("Deleting", registered_name, [&] {
    return scheduler_->Delete(registered_name.c_str());
  });
}

// Disabled items are kept: someone turned the task off on purpose.
bool TaskSchedulerV1::IsStaleWorkItem(
    const std::wstring& registered_name) const {
  ComPtr<ITask> task;
  HRESULT status = S_OK;
  ScopedCoMem<wchar_t> program;
  return OpenWorkItem(registered_name, &task) &&
         SUCCEEDED(task->GetStatus(&status)) &&
         !IsDisabled(task.Get(), status) &&
         SUCCEEDED(task->GetApplicationName(program.Receive())) &&
         program.Get() && IsTaskProgramMissing(program.Get());
}

void GrantAuthenticatedUsersReadExecute(const std::wstring& path) {
  // `dacl` points into the descriptor.
  PACL dacl = nullptr;
  base::win::ScopedLocalAlloc<> descriptor;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr,
                              descriptor.Receive()) != ERROR_SUCCESS) {
    return;
  }
  const base::win::ScopedLocalAlloc<ACL> new_dacl =
      AddAuthenticatedUsersReadExecute(dacl);
  if (!new_dacl)
    return;
  ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION, nullptr, nullptr,
                          new_dacl.Get(), nullptr);
}

base::win::ScopedLocalAlloc<ACL> AddAuthenticatedUsersReadExecute(PACL dacl) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  if (!::CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid, &sid_size))
    return base::win::ScopedLocalAlloc<ACL>();
  return base::win::AddAccessAllowedEntry(
      dacl, sid, GENERIC_READ | GENERIC_EXECUTE, NO_INHERITANCE);
}

}  // namespace installer

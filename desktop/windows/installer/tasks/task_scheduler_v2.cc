#include "desktop/windows/installer/tasks/task_scheduler_v2.h"

#include <oleauto.h>

#include <utility>

#include "base/logging.h"
#include "base/strings/string_format.h"
#include "base/time/time.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/tasks/task_scheduler_interfaces.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// NameSamCompatible: "domain\user", the form the service takes.
constexpr int kSamCompatibleName = 2;

constexpr wchar_t kRootFolder[] = L"\\";
constexpr wchar_t kRunOnceTriggerId[] = L"Run once";
constexpr wchar_t kDailyTriggerId[] = L"Daily run";
constexpr wchar_t kLogonTriggerId[] = L"Logon run";
constexpr wchar_t kDeleteAtOnce[] = L"PT0S";
constexpr wchar_t kSystemAccount[] = L"SYSTEM";
// Authenticated users may read and run the system task.
constexpr wchar_t kSystemTaskSddl[] = L"D:(A;;GRGX;;;AU)";
constexpr int64_t kRunOnceDelaySeconds = 30;

void AllocateBstr(const std::wstring& text, ScopedBstr* bstr) {
  bstr->Reset(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  CHECK(bstr->Get()) << "Out of memory for a COM string";
}

// Calls a property setter of `object` that takes a BSTR.
template <class Object, class Interface>
HRESULT PutText(Object* object,
                HRESULT (STDMETHODCALLTYPE Interface::*setter)(BSTR),
                const std::wstring& value) {
  ScopedBstr text;
  AllocateBstr(value, &text);
  return (object->*setter)(text.Get());
}

void SetTextVariant(const std::wstring& text, ScopedVariant* variant) {
  ScopedBstr bstr;
  AllocateBstr(text, &bstr);
  VARIANT* slot = variant->Receive();
  V_VT(slot) = VT_BSTR;
  V_BSTR(slot) = bstr.Release();
}

VARIANT_BOOL ToVariantBool(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The service reads boundaries as local time without a zone.
std::wstring FormatBoundary(base::Time time) {
  base::Time::Exploded local;
  time.Explode(/*local=*/true, &local);
  return base::FormatWideString(L"%02d-%02d-%02dT%02d:%02d:%02d", local.year,
                                local.month, local.day_of_month, local.hour,
                                local.minute, local.second);
}

bool DefineRegistrationInfo(const ScheduledTaskInfo& info,
                            const std::wstring& user,
                            ITaskDefinition* definition) {
  ComPtr<IRegistrationInfo> registration;
  return SUCCEEDED(definition->get_RegistrationInfo(registration.Receive())) &&
         SUCCEEDED(PutText(registration.Get(), &IRegistrationInfo::put_Author,
                           user)) &&
         SUCCEEDED(PutText(registration.Get(),
                           &IRegistrationInfo::put_Description,
                           info.description));
}

bool DefineSettings(const ScheduledTaskInfo& info,
                    ITaskDefinition* definition) {
  ComPtr<ITaskSettings> settings;
  if (FAILED(definition->get_Settings(settings.Receive())))
    return false;
  // "PT0S" is no limit.
  std::wstring time_limit =
      L"PT" + std::to_wstring(info.time_limit_seconds) + L"S";
  if (FAILED(PutText(settings.Get(), &ITaskSettings::put_ExecutionTimeLimit,
                     time_limit)) ||
      FAILED(settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW)) ||
      FAILED(settings->put_RunOnlyIfNetworkAvailable(
          ToVariantBool(info.run_only_if_network))) ||
      FAILED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_StartWhenAvailable(VARIANT_TRUE))) {
    return false;
  }
  // A run-once task removes itself once its trigger's end boundary passes.
  return info.trigger_kind != ScheduledTaskInfo::kRunOnce ||
         SUCCEEDED(PutText(settings.Get(),
                           &ITaskSettings::put_DeleteExpiredTaskAfter,
                           kDeleteAtOnce));
}

bool AddRunOnceTrigger(const std::wstring& boundary,
                       ITriggerCollection* triggers) {
  ComPtr<ITrigger> trigger;
  return SUCCEEDED(
             triggers->Create(TASK_TRIGGER_REGISTRATION, trigger.Receive())) &&
         SUCCEEDED(
             PutText(trigger.Get(), &ITrigger::put_Id, kRunOnceTriggerId)) &&
         SUCCEEDED(
             PutText(trigger.Get(), &ITrigger::put_EndBoundary, boundary));
}

bool AddDailyTrigger(const std::wstring& boundary,
                     ITriggerCollection* triggers) {
  ComPtr<ITrigger> trigger;
  ComPtr<IDailyTrigger> daily;
  return SUCCEEDED(triggers->Create(TASK_TRIGGER_DAILY, trigger.Receive())) &&
         SUCCEEDED(
             PutText(trigger.Get(), &ITrigger::put_Id, kDailyTriggerId)) &&
         SUCCEEDED(
             PutText(trigger.Get(), &ITrigger::put_StartBoundary, boundary)) &&
         SUCCEEDED(trigger.QueryInterface(&daily)) &&
         SUCCEEDED(daily->put_DaysInterval(1));
}

// At boot for a system task, at the user's logon otherwise; delayed so that
// the check does not compete with the start of the session.
bool AddLogonTrigger(const ScheduledTaskInfo& info,
                     const std::wstring& boundary,
                     const std::wstring& user,
                     ITriggerCollection* triggers) {
  const bool system = info.run_as_system != 0;
  ComPtr<ITrigger> trigger;
  if (FAILED(triggers->Create(system ? TASK_TRIGGER_BOOT : TASK_TRIGGER_LOGON,
                              trigger.Receive())) ||
      FAILED(PutText(trigger.Get(), &ITrigger::put_Id, kLogonTriggerId)) ||
      FAILED(PutText(trigger.Get(), &ITrigger::put_StartBoundary, boundary))) {
    return false;
  }
  std::wstring delay =
      base::FormatWideString(L"PT%dM", GetScheduledAutoupdateDelayMin());
  if (system) {
    ComPtr<IBootTrigger> boot;
    return SUCCEEDED(trigger.QueryInterface(&boot)) &&
           SUCCEEDED(PutText(boot.Get(), &IBootTrigger::put_Delay, delay));
  }
  ComPtr<ILogonTrigger> logon;
  return SUCCEEDED(trigger.QueryInterface(&logon)) &&
         SUCCEEDED(PutText(logon.Get(), &ILogonTrigger::put_Delay, delay)) &&
         SUCCEEDED(PutText(logon.Get(), &ILogonTrigger::put_UserId, user));
}

bool DefineTriggers(const ScheduledTaskInfo& info,
                    const std::wstring& user,
                    ITaskDefinition* definition) {
  ComPtr<ITriggerCollection> triggers;
  if (FAILED(definition->get_Triggers(triggers.Receive())))
    return false;
  const bool run_once = info.trigger_kind == ScheduledTaskInfo::kRunOnce;
  base::Time start = base::Time::Now();
  if (run_once)
    start += base::TimeDelta::FromSeconds(kRunOnceDelaySeconds);
  const std::wstring boundary = FormatBoundary(start);
  if (run_once)
    return AddRunOnceTrigger(boundary, triggers.Get());
  if (info.trigger_kind == ScheduledTaskInfo::kDaily &&
      !AddDailyTrigger(boundary, triggers.Get())) {
    return false;
  }
  return !info.add_logon_trigger ||
         AddLogonTrigger(info, boundary, user, triggers.Get());
}

bool DefineExecAction(const ScheduledTaskInfo& info,
                      ITaskDefinition* definition) {
  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec;
  return SUCCEEDED(definition->get_Actions(actions.Receive())) &&
         SUCCEEDED(actions->Create(TASK_ACTION_EXEC, action.Receive())) &&
         SUCCEEDED(action.QueryInterface(&exec)) &&
         SUCCEEDED(PutText(exec.Get(), &IExecAction::put_Path,
                           info.command_line.GetProgram().value())) &&
         SUCCEEDED(PutText(exec.Get(), &IExecAction::put_Arguments,
                           info.command_line.GetArgumentsString()));
}

bool DefineRunLevel(ITaskDefinition* definition) {
  if (!IsUserAdmin(/*check_linked_token=*/false))
    return true;
  ComPtr<IPrincipal> principal;
  return SUCCEEDED(definition->get_Principal(principal.Receive())) &&
         SUCCEEDED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST));
}

bool DefineTask(const ScheduledTaskInfo& info,
                const std::wstring& user,
                ITaskDefinition* definition) {
  return DefineRegistrationInfo(info, user, definition) &&
         DefineSettings(info, definition) &&
         DefineTriggers(info, user, definition) &&
         DefineExecAction(info, definition) && DefineRunLevel(definition);
}

// The path of a definition's only action when that is an executing action.
bool GetSingleExecPath(ITaskDefinition* definition, std::wstring* path) {
  ComPtr<IActionCollection> actions;
  LONG count = 0;
  if (FAILED(definition->get_Actions(actions.Receive())) ||
      FAILED(actions->get_Count(&count)) || count != 1) {
    return false;
  }
  ComPtr<IAction> action;
  TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
  ComPtr<IExecAction> exec;
  ScopedBstr exec_path;
  if (FAILED(actions->get_Item(1, action.Receive())) ||
      FAILED(action->get_Type(&type)) || type != TASK_ACTION_EXEC ||
      FAILED(action.QueryInterface(&exec)) ||
      FAILED(exec->get_Path(exec_path.Receive())) || !exec_path.Get()) {
    return false;
  }
  *path = exec_path.Get();
  return true;
}

// The collection counts from 1.
bool FindDailyTrigger(ITriggerCollection* triggers,
                      ComPtr<IDailyTrigger>* daily) {
  LONG count = 0;
  if (FAILED(triggers->get_Count(&count)))
    return false;
  for (LONG index = 1; index <= count; ++index) {
    ComPtr<ITrigger> trigger;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    if (FAILED(triggers->get_Item(index, trigger.Receive())) ||
        FAILED(trigger->get_Type(&type))) {
      return false;
    }
    if (type == TASK_TRIGGER_DAILY)
      return SUCCEEDED(trigger.QueryInterface(daily));
  }
  return false;
}

bool MakeRunParameters(const std::vector<std::wstring>& arguments,
                       ScopedVariant* parameters) {
  if (arguments.empty())
    return true;
  SAFEARRAY* array =
      ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(arguments.size()));
  if (!array)
    return false;
  VARIANT* slot = parameters->Receive();
  V_VT(slot) = VT_ARRAY | VT_BSTR;
  V_ARRAY(slot) = array;
  for (LONG index = 0; index < static_cast<LONG>(arguments.size()); ++index) {
    ScopedBstr argument;
    AllocateBstr(arguments[index], &argument);
    // The array keeps a copy.
    if (FAILED(::SafeArrayPutElement(array, &index, argument.Get())))
      return false;
  }
  return true;
}

TaskState ToTaskState(TASK_STATE state) {
  switch (state) {
    case TASK_STATE_DISABLED:
      return kTaskStateDisabled;
    case TASK_STATE_QUEUED:
    case TASK_STATE_READY:
      return kTaskStateReady;
    case TASK_STATE_RUNNING:
      return kTaskStateRunning;
    default:
      return kTaskStateIndeterminate;
  }
}

}  // namespace

TaskSchedulerV2::TaskSchedulerV2() = default;

TaskSchedulerV2::TaskSchedulerV2(ComPtr<ITaskService> service)
    : service_(std::move(service)) {}

TaskSchedulerV2::~TaskSchedulerV2() = default;

bool TaskSchedulerV2::Init() {
  if (!service_ && FAILED(service_.CreateInstance(kTaskServiceClsid)))
    return false;
  // Empty arguments: this machine, the current user.
  ScopedVariant empty;
  if (FAILED(service_->Connect(empty.Get(), empty.Get(), empty.Get(),
                               empty.Get()))) {
    return false;
  }
  ScopedBstr root;
  AllocateBstr(kRootFolder, &root);
  return SUCCEEDED(service_->GetFolder(root.Get(), root_folder_.Receive()));
}

bool TaskSchedulerV2::CreateTask(const ScheduledTaskInfo& info) {
  std::wstring user;
  if (!root_folder_ || !GetUserNameEx(&user, kSamCompatibleName))
    return false;
  const std::wstring registered_name = MakeScheduledTaskName(info.name);
  DeleteRegisteredTask(registered_name);
  ComPtr<ITaskDefinition> definition;
  if (FAILED(service_->NewTask(0, definition.Receive())) ||
      !DefineTask(info, user, definition.Get())) {
    return false;
  }
  // A run-once task stays registered until its end boundary has passed and
  // the service deletes it: deleting it here could come before the
  // registration trigger has started its program.
  return RegisterTask(registered_name, info, user, definition.Get());
}

void TaskSchedulerV2::DeleteStaleTasks() {
  ComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  if (!root_folder_ || FAILED(root_folder_->GetTasks(0, tasks.Receive())) ||
      FAILED(tasks->get_Count(&count))) {
    return;
  }
  // Collected first: deleting while walking could shift the indexes.
  std::vector<ComPtr<IRegisteredTask>> product_tasks;
  for (LONG index = 1; index <= count; ++index) {
    ScopedVariant item_index;
    VARIANT* slot = item_index.Receive();
    V_VT(slot) = VT_I4;
    V_I4(slot) = index;
    ComPtr<IRegisteredTask> task;
    ScopedBstr name;
    if (SUCCEEDED(tasks->get_Item(item_index.Get(), task.Receive())) &&
        SUCCEEDED(task->get_Name(name.Receive())) && name.Get() &&
        IsProductTaskName(name.Get())) {
      product_tasks.push_back(std::move(task));
    }
  }
  for (const ComPtr<IRegisteredTask>& task : product_tasks)
    DeleteIfProgramMissing(task.Get());
}

void TaskSchedulerV2::DeleteTask(const std::wstring& name) {
  DeleteRegisteredTask(MakeScheduledTaskName(name));
}

void TaskSchedulerV2::SetDailyInterval(const std::wstring& name, int32_t days) {
  ComPtr<IRegisteredTask> task;
  ComPtr<ITaskDefinition> definition;
  ComPtr<ITriggerCollection> triggers;
  ComPtr<IDailyTrigger> daily;
  short current_days = 0;
  if (!OpenTask(name, &task) ||
      FAILED(task->get_Definition(definition.Receive())) ||
      FAILED(definition->get_Triggers(triggers.Receive())) ||
      !FindDailyTrigger(triggers.Get(), &daily) ||
      FAILED(daily->get_DaysInterval(&current_days)) || current_days == days ||
      FAILED(daily->put_DaysInterval(static_cast<short>(days)))) {
    return;
  }
  ScopedBstr registered_name;
  AllocateBstr(MakeScheduledTaskName(name), &registered_name);
  ScopedVariant empty;
  ScopedVariant sddl;
  SetTextVariant(L"", &sddl);
  ComPtr<IRegisteredTask> updated;
  root_folder_->RegisterTaskDefinition(
      registered_name.Get(), definition.Get(), TASK_UPDATE, empty.Get(),
      empty.Get(), TASK_LOGON_NONE, sddl.Get(), updated.Receive());
}

void TaskSchedulerV2::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<IRegisteredTask> task;
  if (OpenTask(name, &task))
    task->put_Enabled(ToVariantBool(enabled));
}

bool TaskSchedulerV2::RunTask(const std::wstring& name,
                              const std::vector<std::wstring>& arguments) {
  ComPtr<IRegisteredTask> task;
  ScopedVariant parameters;
  if (!OpenTask(name, &task) || !MakeRunParameters(arguments, &parameters))
    return false;
  ComPtr<IRunningTask> running;
  return SUCCEEDED(task->Run(parameters.Get(), running.Receive()));
}

TaskState TaskSchedulerV2::GetTaskState(const std::wstring& name) {
  ComPtr<IRegisteredTask> task;
  if (!OpenTask(name, &task))
    return kTaskStateUnavailable;
  TASK_STATE state = TASK_STATE_UNKNOWN;
  if (FAILED(task->get_State(&state)))
    return kTaskStateIndeterminate;
  return ToTaskState(state);
}

// The service gives the last run in local time. A task that has not run
// answers with a success code and the date 0 (30 December 1899), which is no
// run at all.
base::Time TaskSchedulerV2::GetLastRunTime(const std::wstring& name) {
  ComPtr<IRegisteredTask> task;
  DATE date = 0;
  SYSTEMTIME local_time = {};
  if (!OpenTask(name, &task) || task->get_LastRunTime(&date) != S_OK ||
      !::VariantTimeToSystemTime(date, &local_time)) {
    return base::Time();
  }
  return TimeFromLocalSystemTime(local_time);
}

bool TaskSchedulerV2::OpenTask(const std::wstring& name,
                               ComPtr<IRegisteredTask>* task) const {
  if (!root_folder_)
    return false;
  ScopedBstr registered_name;
  AllocateBstr(MakeScheduledTaskName(name), &registered_name);
  return SUCCEEDED(
      root_folder_->GetTask(registered_name.Get(), task->Receive()));
}

void TaskSchedulerV2::DeleteRegisteredTask(
    const std::wstring& registered_name) {
  if (!root_folder_)
    return;
  ScopedBstr bstr;
  AllocateBstr(registered_name, &bstr);
  RetryWhileTaskFileHeld("Deleting", registered_name, [&] {
    return root_folder_->DeleteTask(bstr.Get(), 0);
  });
}

bool TaskSchedulerV2::RegisterTask(const std::wstring& registered_name,
                                   const ScheduledTaskInfo& info,
                                   const std::wstring& user,
                                   ITaskDefinition* definition) {
  const bool system = info.run_as_system != 0;
  ScopedBstr name;
  AllocateBstr(registered_name, &name);
  ScopedVariant account;
  SetTextVariant(system ? kSystemAccount : user, &account);
  ScopedVariant no_password;
  ScopedVariant sddl;
  SetTextVariant(L"", &sddl);
  ComPtr<IRegisteredTask> registered;
  HRESULT result = root_folder_->RegisterTaskDefinition(
      name.Get(), definition, TASK_CREATE_OR_UPDATE, account.Get(),
      no_password.Get(),
      system ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN,
      sddl.Get(), registered.Receive());
  if (FAILED(result)) {
    LOG(ERROR) << "Failed task registration: " << result;
    return false;
  }
  if (system) {
    ScopedBstr security;
    AllocateBstr(kSystemTaskSddl, &security);
    result = registered->SetSecurityDescriptor(security.Get(), 0);
    if (FAILED(result))
      LOG(ERROR) << "Failed setting SDDL: " << result;
  }
  return true;
}

void TaskSchedulerV2::DeleteIfProgramMissing(IRegisteredTask* task) {
  ComPtr<ITaskDefinition> definition;
  ScopedBstr name;
  std::wstring program;
  if (SUCCEEDED(task->get_Definition(definition.Receive())) &&
      GetSingleExecPath(definition.Get(), &program) &&
      IsTaskProgramMissing(program) &&
      SUCCEEDED(task->get_Name(name.Receive())) && name.Get()) {
    DeleteRegisteredTask(name.Get());
  }
}

}  // namespace installer

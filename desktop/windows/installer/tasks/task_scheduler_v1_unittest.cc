#include "desktop/windows/installer/tasks/task_scheduler_v1.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/child_output.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_co_mem.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/tasks/task_scheduler_interfaces.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::ComPtr;
using base::win::ScopedCoMem;

// Task Scheduler 1.0 works under Wine: these tests use the real service and
// the job files it writes. Names are their own, as the end-to-end tests share
// the prefix's task folder.

std::vector<std::wstring> g_granted_job_files;
void RecordGrant(const std::wstring& job_file) {
  g_granted_job_files.push_back(job_file);
}

base::FilePath ToolPath() {
  base::FilePath exe;
  EXPECT_TRUE(base::GetPathForKey(base::kExeFile, &exe));
  return exe.DirName().Append(L"installer").Append(L"task_scheduler_tool.exe");
}

// The job files' work items as the service's enumeration in another process
// names them.
std::vector<std::string> EnumerateInSecondProcess() {
  const base::FilePath tool = ToolPath();
  std::string output;
  EXPECT_TRUE(base::RunChildAndReadOutput(
      tool.value(), L"\"" + tool.value() + L"\" enumerate", &output));
  return base::SplitOutputLines(output);
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::wstring JobFilePath(const std::wstring& registered_name) {
  wchar_t windows[MAX_PATH];
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Tasks\\" + registered_name + L".job";
}

// A second process that has the work item's job file open, without letting
// it be deleted, for a moment from the return on.
base::Process HoldJobFileInSecondProcess(const std::wstring& registered_name) {
  const std::wstring event_name = L"TarvoTest job file held " +
                                  std::to_wstring(::GetCurrentProcessId()) +
                                  L" " + registered_name;
  const base::win::ScopedHandle held(
      ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  const base::FilePath tool = ToolPath();
  base::Process holder = base::LaunchProcess(
      L"\"" + tool.value() + L"\" hold \"" + JobFilePath(registered_name) +
          L"\" \"" + event_name + L"\" 400",
      base::ProcessLaunchOptions());
  EXPECT_TRUE(holder.IsValid());
  if (!held.IsValid() || !holder.IsValid())
    return holder;
  // Hang guard only: the holder sets the event as soon as it has the file.
  const HANDLE objects[] = {held.Get(), holder.Handle()};
  EXPECT_EQ(WAIT_OBJECT_0,
            ::WaitForMultipleObjects(2, objects, FALSE, 60 * 1000));
  return holder;
}

// The allow entries of a list as "SID mask", sorted.
std::vector<std::wstring> AllowEntries(PACL dacl) {
  std::vector<std::wstring> entries;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    base::win::ScopedLocalAlloc<wchar_t> sid;
    if (!::GetAce(dacl, index, reinterpret_cast<void**>(&ace)) ||
        ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
        !::ConvertSidToStringSidW(&ace->SidStart, sid.Receive())) {
      entries.push_back(L"(other)");
      continue;
    }
    wchar_t mask[16];
    std::swprintf(mask, 16, L"%08lx", static_cast<unsigned long>(ace->Mask));
    entries.push_back(std::wstring(sid.Get()) + L" " + mask);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

class TaskSchedulerV1Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(service_.CreateInstance(kCTaskSchedulerClsid));
    ASSERT_TRUE(scheduler_.Init());
    program_ = temp_.path().Append(L"launcher.exe");
    ASSERT_EQ(0, base::WriteBufferToFile(program_, "", 0));
  }
  void TearDown() override {
    for (const std::wstring& name : registered_names_)
      service_->Delete(name.c_str());
  }

  ScheduledTaskInfo MakeInfo(const std::wstring& name, int32_t trigger_kind) {
    base::CommandLine command_line(program_);
    command_line.AppendSwitch("scheduledautoupdate");
    command_line.AppendArg("$(Arg0)");
    ScheduledTaskInfo info(command_line);
    info.name = name;
    info.description = L"Keeps Tarvo up to date.";
    info.time_limit_seconds = 3600;
    info.trigger_kind = trigger_kind;
    registered_names_.push_back(MakeScheduledTaskName(name));
    return info;
  }

  // A work item made directly through the service, as another program or
  // an older installation would leave it.
  void AddWorkItem(const std::wstring& registered_name,
                   const std::wstring& application,
                   DWORD flags) {
    registered_names_.push_back(registered_name);
    service_->Delete(registered_name.c_str());
    ComPtr<ITask> task;
    ComPtr<IPersistFile> file;
    ASSERT_HRESULT_SUCCEEDED(service_->NewWorkItem(
        registered_name.c_str(), kCTaskClsid, __uuidof(ITask),
        reinterpret_cast<IUnknown**>(task.Receive())));
    ASSERT_HRESULT_SUCCEEDED(task->SetApplicationName(application.c_str()));
    ASSERT_HRESULT_SUCCEEDED(task->SetFlags(flags));
    ASSERT_HRESULT_SUCCEEDED(task.QueryInterface(&file));
    ASSERT_HRESULT_SUCCEEDED(file->Save(nullptr, TRUE));
  }

  ComPtr<ITask> Open(const std::wstring& registered_name) {
    ComPtr<ITask> task;
    service_->Activate(registered_name.c_str(), __uuidof(ITask),
                       reinterpret_cast<IUnknown**>(task.Receive()));
    return task;
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempFolder temp_;
  base::FilePath program_;
  ComPtr<ITaskScheduler> service_;
  TaskSchedulerV1 scheduler_;
  std::vector<std::wstring> registered_names_;
};

TEST_F(TaskSchedulerV1Test, DailyTaskIsFoundBySecondProcessUntilDeleted) {
  ScheduledTaskInfo info = MakeInfo(L"V1 daily", ScheduledTaskInfo::kDaily);
  info.add_logon_trigger = true;
  ASSERT_TRUE(scheduler_.CreateTask(info));
  EXPECT_TRUE(
      Contains(EnumerateInSecondProcess(), "Tarvo scheduled V1 daily.job"));

  ComPtr<ITask> task = Open(L"Tarvo scheduled V1 daily");
  ASSERT_TRUE(task);
  ScopedCoMem<wchar_t> application;
  ScopedCoMem<wchar_t> parameters;
  DWORD flags = 0;
  DWORD max_run_time = 0;
  WORD trigger_count = 0;
  ASSERT_HRESULT_SUCCEEDED(task->GetApplicationName(application.Receive()));
  ASSERT_HRESULT_SUCCEEDED(task->GetParameters(parameters.Receive()));
  ASSERT_HRESULT_SUCCEEDED(task->GetFlags(&flags));
  ASSERT_HRESULT_SUCCEEDED(task->GetMaxRunTime(&max_run_time));
  ASSERT_HRESULT_SUCCEEDED(task->GetTriggerCount(&trigger_count));
  EXPECT_EQ(program_.value(), application.Get());
  EXPECT_STREQ(L"--scheduledautoupdate $(Arg0)", parameters.Get());
  EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON), flags);
  EXPECT_EQ(3600000u, max_run_time);
  EXPECT_EQ(2, trigger_count);
  task.Reset();

  scheduler_.DeleteTask(L"V1 daily");
  EXPECT_FALSE(
      Contains(EnumerateInSecondProcess(), "Tarvo scheduled V1 daily.job"));
}

// Wine's Run answers success and starts nothing, so that the task runs at
// once cannot be seen; what it will do when done is in its flags.
TEST_F(TaskSchedulerV1Test, RunOnceTaskDeletesItselfWhenDone) {
  ScheduledTaskInfo info = MakeInfo(L"V1 once", ScheduledTaskInfo::kRunOnce);
  info.time_limit_seconds = 0;
  ASSERT_TRUE(scheduler_.CreateTask(info));
  ComPtr<ITask> task = Open(L"Tarvo scheduled V1 once");
  ASSERT_TRUE(task);
  DWORD flags = 0;
  DWORD max_run_time = 0;
  ComPtr<ITaskTrigger> trigger;
  TASK_TRIGGER data = {};
  data.cbTriggerSize = sizeof(data);
  ASSERT_HRESULT_SUCCEEDED(task->GetFlags(&flags));
  ASSERT_HRESULT_SUCCEEDED(task->GetMaxRunTime(&max_run_time));
  ASSERT_HRESULT_SUCCEEDED(task->GetTrigger(0, trigger.Receive()));
  ASSERT_HRESULT_SUCCEEDED(trigger->GetTrigger(&data));
  EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON |
                               TASK_FLAG_DELETE_WHEN_DONE),
            flags);
  EXPECT_EQ(INFINITE, max_run_time);
  EXPECT_EQ(TASK_TIME_TRIGGER_ONCE, data.TriggerType);
}

// Wine keeps of a file's access list only what its modes can express, so
// the grant is recorded here and its entry checked on a list of its own.
TEST_F(TaskSchedulerV1Test, DailySystemTaskJobFileIsOpenedToUsers) {
  TaskSchedulerV1 scheduler(&RecordGrant);
  ASSERT_TRUE(scheduler.Init());
  const struct {
    int32_t run_as_system;
    int32_t trigger_kind;
    bool granted;
  } kCases[] = {
      {0, ScheduledTaskInfo::kDaily, false},
      {1, ScheduledTaskInfo::kDaily, true},
      // Any non-zero value is the system account.
      {2, ScheduledTaskInfo::kDaily, true},
      {1, ScheduledTaskInfo::kRunOnce, false},
  };
  for (const auto& test_case : kCases) {
    g_granted_job_files.clear();
    const std::wstring name = L"V1 system " +
                              std::to_wstring(test_case.run_as_system) + L" " +
                              std::to_wstring(test_case.trigger_kind);
    ScheduledTaskInfo info = MakeInfo(name, test_case.trigger_kind);
    info.run_as_system = test_case.run_as_system;
    ASSERT_TRUE(scheduler.CreateTask(info));
    std::vector<std::wstring> expected;
    if (test_case.granted)
      expected.push_back(JobFilePath(MakeScheduledTaskName(name)));
    EXPECT_EQ(expected, g_granted_job_files) << name;
  }

  base::win::ScopedLocalAlloc<> descriptor;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, descriptor.Receive(),
      nullptr));
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl,
                                          &defaulted));
  const base::win::ScopedLocalAlloc<ACL> granted =
      AddAuthenticatedUsersReadExecute(dacl);
  ASSERT_TRUE(granted);
  // Generic read | generic execute for S-1-5-11, the other entries kept.
  const std::vector<std::wstring> expected = {
      L"S-1-5-11 a0000000", L"S-1-5-18 001f01ff", L"S-1-5-32-544 001f01ff"};
  EXPECT_EQ(expected, AllowEntries(granted.Get()));
}

TEST_F(TaskSchedulerV1Test, SweepJudgesOnlyEnabledOwnTasksByTheirRealProgram) {
  const std::wstring present = program_.value();
  const std::wstring missing = temp_.path().Append(L"gone.exe").value();
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TARVO_TASK_TEST_DIR",
                                        temp_.path().value().c_str()));
  const struct {
    const wchar_t* name;
    std::wstring application;
    DWORD flags;
    bool kept;
  } kItems[] = {
      {L"Tarvo scheduled V1 sweep gone", missing, 0, false},
      {L"Tarvo scheduled V1 sweep quoted gone", L"\"" + missing + L"\"", 0,
       false},
      {L"Tarvo scheduled V1 sweep quoted", L"\"" + present + L"\"", 0, true},
      {L"Tarvo scheduled V1 sweep expanded",
       L"%TARVO_TASK_TEST_DIR%\\launcher.exe", 0, true},
      {L"Tarvo scheduled V1 sweep disabled", missing, TASK_FLAG_DISABLED, true},
      // Another program's work item that happens to say " Scheduled ".
      {L"Backup Scheduled V1 sweep", missing, 0, true},
  };
  for (const auto& item : kItems)
    AddWorkItem(item.name, item.application, item.flags);

  scheduler_.DeleteStaleTasks();

  for (const auto& item : kItems)
    EXPECT_EQ(item.kept, static_cast<bool>(Open(item.name))) << item.name;
  ::SetEnvironmentVariableW(L"TARVO_TASK_TEST_DIR", nullptr);
}

// The scheduler service reads a job file whenever it changes, and other
// programs may at any time: while it is open the file cannot be deleted.
TEST_F(TaskSchedulerV1Test, DeletionWaitsOutAnotherProcessReadingTheJobFile) {
  const std::wstring missing = temp_.path().Append(L"gone.exe").value();
  const struct {
    const wchar_t* name;
    void (*remove)(TaskSchedulerV1* scheduler);
  } kCases[] = {
      {L"V1 held stale",
       [](TaskSchedulerV1* scheduler) { scheduler->DeleteStaleTasks(); }},
      {L"V1 held deleted",
       [](TaskSchedulerV1* scheduler) {
         scheduler->DeleteTask(L"V1 held deleted");
       }},
  };
  for (const auto& test_case : kCases) {
    const std::wstring registered_name = MakeScheduledTaskName(test_case.name);
    AddWorkItem(registered_name, missing, 0);
    base::Process holder = HoldJobFileInSecondProcess(registered_name);

    test_case.remove(&scheduler_);

    EXPECT_FALSE(Open(registered_name)) << test_case.name;
    int exit_code = -1;
    EXPECT_TRUE(holder.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(60),
                                              &exit_code));
    EXPECT_EQ(0, exit_code);
  }
}

TEST_F(TaskSchedulerV1Test, IntervalAndEnabledFlagAreSaved) {
  ScheduledTaskInfo info = MakeInfo(L"V1 interval", ScheduledTaskInfo::kDaily);
  info.add_logon_trigger = true;
  ASSERT_TRUE(scheduler_.CreateTask(info));
  EXPECT_EQ(kTaskStateReady, scheduler_.GetTaskState(L"V1 interval"));
  EXPECT_TRUE(scheduler_.GetLastRunTime(L"V1 interval").is_null());
  EXPECT_EQ(kTaskStateUnavailable, scheduler_.GetTaskState(L"V1 absent"));

  scheduler_.SetDailyInterval(L"V1 interval", 3);
  scheduler_.SetTaskEnabled(L"V1 interval", false);
  ComPtr<ITask> task = Open(L"Tarvo scheduled V1 interval");
  ASSERT_TRUE(task);
  ComPtr<ITaskTrigger> trigger;
  TASK_TRIGGER data = {};
  data.cbTriggerSize = sizeof(data);
  DWORD flags = 0;
  ASSERT_HRESULT_SUCCEEDED(task->GetTrigger(0, trigger.Receive()));
  ASSERT_HRESULT_SUCCEEDED(trigger->GetTrigger(&data));
  ASSERT_HRESULT_SUCCEEDED(task->GetFlags(&flags));
  EXPECT_EQ(TASK_TIME_TRIGGER_DAILY, data.TriggerType);
  EXPECT_EQ(3, data.Type.Daily.DaysInterval);
  EXPECT_TRUE(flags & TASK_FLAG_DISABLED);

  scheduler_.SetTaskEnabled(L"V1 interval", true);
  task = Open(L"Tarvo scheduled V1 interval");
  ASSERT_TRUE(task);
  ASSERT_HRESULT_SUCCEEDED(task->GetFlags(&flags));
  EXPECT_FALSE(flags & TASK_FLAG_DISABLED);
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/tasks/task_scheduler_v2.h"

#include <windows.h>
#include <oleauto.h>

#include <cwchar>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/test/fake_task_service.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::ComPtr;
using test::FakeTaskService;
using test::Journal;

constexpr wchar_t kLauncher[] = L"C:\\Program Files\\Tarvo\\launcher.exe";
constexpr wchar_t kBoundaryMark[] = L"<boundary>";

bool AnswerAdmin(bool) {
  return true;
}
bool AnswerNotAdmin(bool) {
  return false;
}

ScheduledTaskInfo MakeInfo(const std::wstring& name, int32_t trigger_kind) {
  base::CommandLine command_line{base::FilePath(kLauncher)};
  command_line.AppendSwitch("scheduledautoupdate");
  command_line.AppendArg("$(Arg0)");
  ScheduledTaskInfo info(command_line);
  info.name = name;
  info.trigger_kind = trigger_kind;
  return info;
}

std::wstring UserName() {
  std::wstring user;
  GetUserNameEx(&user, 2);
  return user;
}

// Checks each boundary the journal holds against [earliest, latest] (whole
// seconds, local time, as the service reads them) and replaces it by a mark,
// so that the rest of the journal can be compared as it stands.
Journal MarkBoundaries(Journal journal,
                       base::Time earliest,
                       base::Time latest) {
  for (std::wstring& entry : journal) {
    size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos ||
        entry.find(L"Boundary=") == std::wstring::npos) {
      continue;
    }
    base::Time::Exploded fields;
    EXPECT_EQ(6, std::swscanf(entry.c_str() + equals + 1, L"%d-%d-%dT%d:%d:%d",
                              &fields.year, &fields.month, &fields.day_of_month,
                              &fields.hour, &fields.minute, &fields.second))
        << entry;
    base::Time boundary;
    EXPECT_TRUE(base::Time::FromExploded(fields, &boundary)) << entry;
    EXPECT_GE(boundary, earliest - base::TimeDelta::FromSeconds(1)) << entry;
    EXPECT_LE(boundary, latest) << entry;
    entry = entry.substr(0, equals + 1) + kBoundaryMark;
  }
  return journal;
}

class TaskSchedulerV2Test : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_admin_query_ = SetAdminQueryForTesting(&AnswerNotAdmin);
    ASSERT_TRUE(scheduler_.Init());
    service_.ClearJournal();
  }
  void TearDown() override { SetAdminQueryForTesting(previous_admin_query_); }

  // The journal of one CreateTask, its boundaries checked to lie `delay`
  // after the call.
  Journal CreateAndRecord(const ScheduledTaskInfo& info,
                          base::TimeDelta delay = base::TimeDelta()) {
    service_.ClearJournal();
    base::Time before = base::Time::Now();
    EXPECT_TRUE(scheduler_.CreateTask(info));
    base::Time after = base::Time::Now();
    return MarkBoundaries(service_.journal(), before + delay, after + delay);
  }

  base::win::ScopedCOMInitializer com_;
  FakeTaskService service_;
  TaskSchedulerV2 scheduler_{service_.NewServiceReference()};
  AdminQuery previous_admin_query_ = nullptr;
};

TEST_F(TaskSchedulerV2Test, DailyUserTaskAsDefined) {
  SetAdminQueryForTesting(&AnswerAdmin);
  ScheduledTaskInfo info =
      MakeInfo(L"Autoupdate 1234", ScheduledTaskInfo::kDaily);
  info.description = L"Keeps Tarvo up to date.";
  info.time_limit_seconds = 3600;
  info.add_logon_trigger = true;
  info.run_only_if_network = true;
  const std::wstring user = UserName();
  ASSERT_FALSE(user.empty());

  const Journal expected = {
      L"Folder.DeleteTask=Tarvo scheduled Autoupdate 1234",
      L"RegistrationInfo.Author=" + user,
      L"RegistrationInfo.Description=Keeps Tarvo up to date.",
      L"Settings.ExecutionTimeLimit=PT3600S",
      L"Settings.MultipleInstances=2",
      L"Settings.RunOnlyIfNetworkAvailable=true",
      L"Settings.StopIfGoingOnBatteries=false",
      L"Settings.DisallowStartIfOnBatteries=false",
      L"Settings.StartWhenAvailable=true",
      L"Trigger1.Type=2",
      L"Trigger1.Id=Daily run",
      L"Trigger1.StartBoundary=<boundary>",
      L"Trigger1.DaysInterval=1",
      L"Trigger2.Type=9",
      L"Trigger2.Id=Logon run",
      L"Trigger2.StartBoundary=<boundary>",
      L"Trigger2.Delay=PT5M",
      L"Trigger2.UserId=" + user,
      std::wstring(L"Action1.Path=") + kLauncher,
      L"Action1.Arguments=--scheduledautoupdate $(Arg0)",
      L"Principal.RunLevel=1",
      L"Folder.Register=Tarvo scheduled Autoupdate 1234 flags=6 user=" + user +
          L" password=(empty) logon=3 sddl=",
  };
  EXPECT_EQ(expected, CreateAndRecord(info));
}

TEST_F(TaskSchedulerV2Test, RunOnceSystemTaskIsLeftForItsExpiry) {
  ScheduledTaskInfo info = MakeInfo(L"Elevate", ScheduledTaskInfo::kRunOnce);
  info.run_as_system = 1;
  info.add_logon_trigger = true;  // Ignored for a run-once task.

  // The registration trigger starts the task; its end boundary, 30 s on,
  // and the expiry setting remove it. Nothing deletes it after registering.
  const Journal expected = {
      L"Folder.DeleteTask=Tarvo scheduled Elevate",
      L"RegistrationInfo.Author=" + UserName(),
      L"RegistrationInfo.Description=",
      L"Settings.ExecutionTimeLimit=PT0S",
      L"Settings.MultipleInstances=2",
      L"Settings.RunOnlyIfNetworkAvailable=false",
      L"Settings.StopIfGoingOnBatteries=false",
      L"Settings.DisallowStartIfOnBatteries=false",
      L"Settings.StartWhenAvailable=true",
      L"Settings.DeleteExpiredTaskAfter=PT0S",
      L"Trigger1.Type=7",
      L"Trigger1.Id=Run once",
      L"Trigger1.EndBoundary=<boundary>",
      std::wstring(L"Action1.Path=") + kLauncher,
      L"Action1.Arguments=--scheduledautoupdate $(Arg0)",
      L"Folder.Register=Tarvo scheduled Elevate flags=6 user=SYSTEM "
      L"password=(empty) logon=5 sddl=",
      L"Task.SecurityDescriptor=D:(A;;GRGX;;;AU)",
  };
  EXPECT_EQ(expected, CreateAndRecord(info, base::TimeDelta::FromSeconds(30)));
  EXPECT_TRUE(service_.HasTask(L"Tarvo scheduled Elevate"));
}

TEST_F(TaskSchedulerV2Test, TriggersFollowKindAccountAndLogonFlag) {
  struct Case {
    int32_t run_as_system;
    int32_t trigger_kind;
    bool add_logon_trigger;
    std::vector<std::wstring> trigger_types;
    const wchar_t* account;
  };
  const Case kCases[] = {
      {0, ScheduledTaskInfo::kDaily, true, {L"2", L"9"}, L"user"},
      {1, ScheduledTaskInfo::kDaily, true, {L"2", L"8"}, L"SYSTEM"},
      // Any non-zero value asks for the system account.
      {2, ScheduledTaskInfo::kDaily, true, {L"2", L"8"}, L"SYSTEM"},
      {0, ScheduledTaskInfo::kDaily, false, {L"2"}, L"user"},
      {0, ScheduledTaskInfo::kRunOnce, true, {L"7"}, L"user"},
      // The installer's kind for "no time trigger".
      {0, 2, true, {L"9"}, L"user"},
      {0, 2, false, {}, L"user"},
  };
  const std::wstring user = UserName();
  for (const Case& test_case : kCases) {
    ScheduledTaskInfo info = MakeInfo(L"Kinds", test_case.trigger_kind);
    info.run_as_system = test_case.run_as_system;
    info.add_logon_trigger = test_case.add_logon_trigger;
    std::vector<std::wstring> types;
    std::wstring account;
    const base::TimeDelta delay =
        base::TimeDelta::FromSeconds(info.trigger_kind == 0 ? 30 : 0);
    for (const std::wstring& entry : CreateAndRecord(info, delay)) {
      if (entry.starts_with(L"Trigger") && entry.find(L".Type=") != entry.npos)
        types.push_back(entry.substr(entry.find(L'=') + 1));
      if (entry.starts_with(L"Folder.Register=")) {
        size_t start = entry.find(L"user=") + 5;
        account = entry.substr(start, entry.find(L' ', start) - start);
      }
    }
    const std::wstring expected_account =
        std::wstring(test_case.account) == L"user" ? user : test_case.account;
    EXPECT_EQ(test_case.trigger_types, types)
        << test_case.run_as_system << " " << test_case.trigger_kind;
    EXPECT_EQ(expected_account, account) << test_case.run_as_system;
  }
}

TEST_F(TaskSchedulerV2Test, RegistrationFailureIsLoggedAndFails) {
  service_.SetRegisterResult(E_ACCESSDENIED);
  base::ScopedLogCapture log;
  EXPECT_FALSE(scheduler_.CreateTask(MakeInfo(L"Denied", 1)));
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ("Failed task registration: -2147024891", log.lines()[0]);
}

TEST_F(TaskSchedulerV2Test, RefusedSecurityDescriptorIsLoggedOnly) {
  service_.SetSecurityDescriptorResult(E_NOTIMPL);
  ScheduledTaskInfo info = MakeInfo(L"System", ScheduledTaskInfo::kDaily);
  info.run_as_system = 1;
  base::ScopedLogCapture log;
  EXPECT_TRUE(scheduler_.CreateTask(info));
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_EQ("Failed setting SDDL: -2147467263", log.lines()[0]);
}

TEST_F(TaskSchedulerV2Test, SweepJudgesOnlyOwnTasksByTheirRealProgram) {
  base::ScopedTempFolder temp;
  const base::FilePath present = temp.path().Append(L"launcher.exe");
  ASSERT_EQ(0, base::WriteBufferToFile(present, "", 0));
  const std::wstring missing = temp.path().Append(L"gone.exe").value();
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TARVO_TASK_TEST_DIR",
                                        temp.path().value().c_str()));

  struct Task {
    const wchar_t* name;
    std::vector<std::wstring> programs;
    bool kept;
  };
  const Task kTasks[] = {
      {L"Tarvo scheduled Autoupdate gone", {missing}, false},
      {L"Tarvo scheduled Autoupdate quoted gone",
       {L"\"" + missing + L"\""},
       false},
      {L"Tarvo scheduled Autoupdate here", {present.value()}, true},
      {L"Tarvo scheduled Autoupdate quoted",
       {L"\"" + present.value() + L"\""},
       true},
      {L"Tarvo scheduled Autoupdate expanded",
       {L"%TARVO_TASK_TEST_DIR%\\launcher.exe"},
       true},
      {L"Tarvo scheduled Autoupdate unknown variable",
       {L"%TARVO_TASK_UNSET%\\launcher.exe"},
       true},
      {L"Tarvo scheduled Autoupdate two actions", {missing, missing}, true},
      // Another program's task that happens to say " Scheduled ".
      {L"Backup Scheduled Nightly", {missing}, true},
      {L"OtherTarvo scheduled Autoupdate", {missing}, true},
  };
  std::vector<std::wstring> expected_names;
  for (const Task& task : kTasks) {
    service_.AddTask(task.name, task.programs);
    if (task.kept)
      expected_names.push_back(task.name);
  }

  scheduler_.DeleteStaleTasks();

  EXPECT_EQ(expected_names, service_.TaskNames());
  ::SetEnvironmentVariableW(L"TARVO_TASK_TEST_DIR", nullptr);
}

TEST_F(TaskSchedulerV2Test, SetDailyIntervalRegistersTheChangedTrigger) {
  ScheduledTaskInfo info = MakeInfo(L"Interval", ScheduledTaskInfo::kDaily);
  info.add_logon_trigger = true;
  ASSERT_TRUE(scheduler_.CreateTask(info));
  service_.ClearJournal();

  scheduler_.SetDailyInterval(L"Interval", 3);
  const Journal expected = {
      L"Trigger1.DaysInterval=3",
      L"Folder.Register=Tarvo scheduled Interval flags=4 user=(empty) "
      L"password=(empty) logon=0 sddl=",
  };
  EXPECT_EQ(expected, service_.journal());

  service_.ClearJournal();
  scheduler_.SetDailyInterval(L"Interval", 3);
  EXPECT_TRUE(service_.journal().empty());
}

TEST_F(TaskSchedulerV2Test, RunAndEnableReachTheRegisteredTask) {
  service_.AddTask(L"Tarvo scheduled Run", {kLauncher});
  EXPECT_TRUE(scheduler_.RunTask(L"Run", {}));
  EXPECT_TRUE(scheduler_.RunTask(L"Run", {L"first", L"second one"}));
  scheduler_.SetTaskEnabled(L"Run", false);
  EXPECT_FALSE(scheduler_.RunTask(L"Absent", {}));

  const Journal expected = {
      L"Task.Run=(none)",
      L"Task.Run=first second one",
      L"Task.Enabled=false",
  };
  EXPECT_EQ(expected, service_.journal());
}

TEST_F(TaskSchedulerV2Test, TaskStatesMapOntoTheInterface) {
  const std::wstring registered = L"Tarvo scheduled State";
  service_.AddTask(registered, {kLauncher});
  const struct {
    TASK_STATE service_state;
    TaskState expected;
  } kCases[] = {
      {TASK_STATE_DISABLED, kTaskStateDisabled},
      {TASK_STATE_QUEUED, kTaskStateReady},
      {TASK_STATE_READY, kTaskStateReady},
      {TASK_STATE_RUNNING, kTaskStateRunning},
      {TASK_STATE_UNKNOWN, kTaskStateIndeterminate},
      {static_cast<TASK_STATE>(7), kTaskStateIndeterminate},
  };
  for (const auto& test_case : kCases) {
    service_.SetTaskState(registered, test_case.service_state);
    EXPECT_EQ(test_case.expected, scheduler_.GetTaskState(L"State"))
        << test_case.service_state;
  }
  EXPECT_EQ(kTaskStateUnavailable, scheduler_.GetTaskState(L"Absent"));
}

TEST_F(TaskSchedulerV2Test, LastRunTimeIsLocalAndNeverRunIsNull) {
  const std::wstring registered = L"Tarvo scheduled Last run";
  service_.AddTask(registered, {kLauncher});
  EXPECT_TRUE(scheduler_.GetLastRunTime(L"Last run").is_null());

  // 2024-03-10 08:15:30. Under a zone other than this process's UTC the
  // end-to-end test shows the conversion as local time.
  service_.SetLastRun(registered, S_OK, 45361.34409722222);
  base::Time::Exploded fields;
  fields.year = 2024;
  fields.month = 3;
  fields.day_of_month = 10;
  fields.hour = 8;
  fields.minute = 15;
  fields.second = 30;
  base::Time expected;
  ASSERT_TRUE(base::Time::FromExploded(fields, &expected));
  EXPECT_EQ(expected, scheduler_.GetLastRunTime(L"Last run"));

  // The service's answer for a task that has never run, date 0 included.
  service_.SetLastRun(registered, SCHED_S_TASK_HAS_NOT_RUN, 0);
  EXPECT_TRUE(scheduler_.GetLastRunTime(L"Last run").is_null());
  service_.SetLastRun(registered, E_FAIL, 45361.0);
  EXPECT_TRUE(scheduler_.GetLastRunTime(L"Last run").is_null());
}

// Wine's service keeps plain daily tasks but refuses trigger ids, so
// CreateTask cannot finish there: the task is registered with the calls Wine
// has, and the scheduler finds, reads and deletes it.
TEST(TaskSchedulerV2RealTest, PlainDailyTaskIsReadAndDeleted) {
  base::win::ScopedCOMInitializer com;
  ComPtr<ITaskService> service;
  ASSERT_HRESULT_SUCCEEDED(service.CreateInstance(kTaskServiceClsid));
  base::win::ScopedVariant empty;
  ASSERT_HRESULT_SUCCEEDED(
      service->Connect(empty.Get(), empty.Get(), empty.Get(), empty.Get()));
  ComPtr<ITaskFolder> root;
  base::win::ScopedBstr root_path(L"\\");
  ASSERT_HRESULT_SUCCEEDED(service->GetFolder(root_path.Get(), root.Receive()));

  ComPtr<ITaskDefinition> definition;
  ComPtr<ITriggerCollection> triggers;
  ComPtr<ITrigger> trigger;
  ComPtr<IDailyTrigger> daily;
  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec;
  base::win::ScopedBstr start(L"2024-03-10T08:15:30");
  base::win::ScopedBstr path(kLauncher);
  ASSERT_HRESULT_SUCCEEDED(service->NewTask(0, definition.Receive()));
  ASSERT_HRESULT_SUCCEEDED(definition->get_Triggers(triggers.Receive()));
  ASSERT_HRESULT_SUCCEEDED(
      triggers->Create(TASK_TRIGGER_DAILY, trigger.Receive()));
  ASSERT_HRESULT_SUCCEEDED(trigger->put_StartBoundary(start.Get()));
  ASSERT_HRESULT_SUCCEEDED(trigger.QueryInterface(&daily));
  ASSERT_HRESULT_SUCCEEDED(daily->put_DaysInterval(1));
  ASSERT_HRESULT_SUCCEEDED(definition->get_Actions(actions.Receive()));
  ASSERT_HRESULT_SUCCEEDED(actions->Create(TASK_ACTION_EXEC, action.Receive()));
  ASSERT_HRESULT_SUCCEEDED(action.QueryInterface(&exec));
  ASSERT_HRESULT_SUCCEEDED(exec->put_Path(path.Get()));

  const std::wstring user = UserName();
  base::win::ScopedVariant account(user.c_str());
  base::win::ScopedVariant sddl(L"");
  base::win::ScopedBstr name(L"Tarvo scheduled Autoupdate real");
  root->DeleteTask(name.Get(), 0);
  ComPtr<IRegisteredTask> registered;
  ASSERT_HRESULT_SUCCEEDED(root->RegisterTaskDefinition(
      name.Get(), definition.Get(), TASK_CREATE_OR_UPDATE, account.Get(),
      empty.Get(), TASK_LOGON_INTERACTIVE_TOKEN, sddl.Get(),
      registered.Receive()));

  TaskSchedulerV2 scheduler;
  ASSERT_TRUE(scheduler.Init());
  EXPECT_EQ(kTaskStateReady, scheduler.GetTaskState(L"Autoupdate real"));
  // Wine answers the has-not-run code with the date 0.
  EXPECT_TRUE(scheduler.GetLastRunTime(L"Autoupdate real").is_null());
  scheduler.DeleteTask(L"Autoupdate real");
  EXPECT_EQ(kTaskStateUnavailable, scheduler.GetTaskState(L"Autoupdate real"));
  ComPtr<IRegisteredTask> gone;
  EXPECT_HRESULT_FAILED(root->GetTask(name.Get(), gone.Receive()));
}

}  // namespace
}  // namespace installer

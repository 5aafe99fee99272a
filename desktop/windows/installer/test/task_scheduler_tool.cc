// The scheduled-task code as a second process for the tests:
//   task_scheduler_tool enumerate
//       the names of all Task Scheduler 1.0 work items, one a line, read
//       with the service's own enumeration
//   task_scheduler_tool create NAME PROGRAM
//       the product's daily current-user task NAME on Task Scheduler 1.0,
//       running PROGRAM --scheduledautoupdate $(Arg0), at most 3600 s a run,
//       also started at logon
//   task_scheduler_tool last-run NAME
//       the last run of the product task NAME on Task Scheduler 1.0 as UTC
//       "YYYY-MM-DD HH:MM:SS", or "null"
//   task_scheduler_tool last-run-v2 DATE
//       the same through Task Scheduler 2.0 for a task whose service answers
//       the OLE date DATE (a stand-in service: Wine's gives no last run)
//   task_scheduler_tool delete NAME
//   task_scheduler_tool hold FILE EVENT MILLISECONDS
//       opens FILE for reading without letting it be deleted, as the
//       scheduler service does when a job file changes, sets the named
//       EVENT, and keeps it open for MILLISECONDS
// Exit 0 on success, 1 on failure, 2 for a usage error. The time zone is
// the caller's (Wine takes it from TZ).

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/com_ptr.h"
#include "base/win/scoped_co_mem.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/tasks/task_scheduler_interfaces.h"
#include "desktop/windows/installer/tasks/task_scheduler_v1.h"
#include "desktop/windows/installer/tasks/task_scheduler_v2.h"
#include "desktop/windows/installer/test/fake_task_service.h"

namespace {

using base::win::ComPtr;
using base::win::ScopedCoMem;

constexpr int kUsageError = 2;

int Enumerate() {
  ComPtr<ITaskScheduler> scheduler;
  ComPtr<IEnumWorkItems> items;
  if (FAILED(scheduler.CreateInstance(installer::kCTaskSchedulerClsid)) ||
      FAILED(scheduler->Enum(items.Receive()))) {
    return 1;
  }
  for (;;) {
    ScopedCoMem<LPWSTR> names;
    ULONG fetched = 0;
    if (items->Next(1, names.Receive(), &fetched) != S_OK || fetched != 1)
      return 0;
    ScopedCoMem<wchar_t> name;
    name.Reset(names.Get()[0]);
    std::printf("%s\n", base::WideToUtf8(name.Get()).c_str());
  }
}

int Create(installer::TaskScheduler* scheduler,
           const std::wstring& name,
           const std::wstring& program) {
  base::CommandLine command_line{base::FilePath(program)};
  command_line.AppendSwitch("scheduledautoupdate");
  command_line.AppendArg("$(Arg0)");
  installer::ScheduledTaskInfo info(command_line);
  info.name = name;
  info.description = L"Keeps Tarvo up to date.";
  info.time_limit_seconds = 3600;
  info.trigger_kind = installer::ScheduledTaskInfo::kDaily;
  info.add_logon_trigger = true;
  return scheduler->CreateTask(info) ? 0 : 1;
}

int PrintTime(base::Time time) {
  base::Time::Exploded utc;
  if (time.is_null() || !time.Explode(/*local=*/false, &utc)) {
    std::printf("null\n");
    return 0;
  }
  std::printf("%04d-%02d-%02d %02d:%02d:%02d\n", utc.year, utc.month,
              utc.day_of_month, utc.hour, utc.minute, utc.second);
  return 0;
}

int LastRunThroughStandIn(const std::wstring& date_text) {
  const DATE date = std::wcstod(date_text.c_str(), nullptr);
  installer::test::FakeTaskService service;
  const std::wstring name = L"Autoupdate last run";
  service.AddTask(installer::MakeScheduledTaskName(name), {});
  service.SetLastRun(installer::MakeScheduledTaskName(name), S_OK, date);
  installer::TaskSchedulerV2 scheduler(service.NewServiceReference());
  if (!scheduler.Init())
    return 1;
  return PrintTime(scheduler.GetLastRunTime(name));
}

int Hold(const std::wstring& file,
         const std::wstring& event_name,
         const std::wstring& milliseconds) {
  const base::win::ScopedHandle held(::CreateFileW(
      file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const base::win::ScopedHandle event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name.c_str()));
  if (!held.IsValid() || !event.IsValid() || !::SetEvent(event.Get()))
    return 1;
  ::Sleep(std::wcstoul(milliseconds.c_str(), nullptr, 10));
  return 0;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  int count = 0;
  base::win::ScopedLocalAlloc<wchar_t*> owned_argv(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!owned_argv || count < 2) {
    std::fputs("usage: task_scheduler_tool COMMAND [ARGUMENTS]\n", stdout);
    return kUsageError;
  }
  const std::vector<std::wstring> argv(owned_argv.Get(),
                                       owned_argv.Get() + count);
  base::win::ScopedCOMInitializer com;
  const std::wstring& command = argv[1];
  if (command == L"enumerate" && count == 2)
    return Enumerate();
  if (command == L"last-run-v2" && count == 3)
    return LastRunThroughStandIn(argv[2]);
  if (command == L"hold" && count == 5)
    return Hold(argv[2], argv[3], argv[4]);

  installer::TaskSchedulerV1 scheduler;
  if (!scheduler.Init())
    return 1;
  if (command == L"create" && count == 4)
    return Create(&scheduler, argv[2], argv[3]);
  if (command == L"last-run" && count == 3)
    return PrintTime(scheduler.GetLastRunTime(argv[2]));
  if (command == L"delete" && count == 3) {
    scheduler.DeleteTask(argv[2]);
    return 0;
  }
  std::fputs("usage: task_scheduler_tool COMMAND [ARGUMENTS]\n", stdout);
  return kUsageError;
}

#include "desktop/windows/installer/tasks/task_scheduler.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/tasks/task_scheduler_v1.h"
#include "desktop/windows/installer/tasks/task_scheduler_v2.h"

namespace installer {

namespace {

constexpr wchar_t kScheduledInfix[] = L" scheduled ";

// Environment variables expanded; the text as it was when that fails, which
// then names no file the sweep could test.
std::wstring ExpandEnvironment(const std::wstring& text) {
  DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (size == 0)
    return text;
  std::wstring expanded(size, L'\0');
  DWORD written =
      ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), size);
  if (written == 0 || written > size)
    return text;
  expanded.resize(written - 1);
  return expanded;
}

std::wstring Unquote(const std::wstring& text) {
  if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
    return text.substr(1, text.size() - 2);
  return text;
}

}  // namespace

ScheduledTaskInfo::ScheduledTaskInfo(const base::CommandLine& command_line)
    : command_line(command_line) {}

std::unique_ptr<TaskScheduler> CreateTaskScheduler() {
  if (base::win::GetWindowsVersion() >= base::win::kVersionVista)
    return std::make_unique<TaskSchedulerV2>();
  return std::make_unique<TaskSchedulerV1>();
}

std::wstring MakeScheduledTaskName(const std::wstring& name) {
  return base::Utf8ToWide(GetProductName()) + kScheduledInfix + name;
}

// Only names this product builds: another program's task that merely
// contains " scheduled " is not ours to judge. Task names ignore case.
bool IsProductTaskName(const std::wstring& registered_name) {
  return base::StartsWithWide(registered_name, MakeScheduledTaskName(L""),
                              base::CASE_INSENSITIVE_ASCII);
}

// The schedulers store the program as it was given: quoted, with
// environment variables, or cut short by a NUL. A relative name is looked up
// by the scheduler, not here, so it is never judged missing.
bool IsTaskProgramMissing(const std::wstring& program) {
  std::wstring text(program.c_str());
  base::FilePath path(Unquote(ExpandEnvironment(text)));
  if (path.empty() || !path.IsAbsolute())
    return false;
  return !base::PathExists(path);
}

base::Time TimeFromLocalSystemTime(const SYSTEMTIME& local_time) {
  base::Time::Exploded exploded;
  exploded.year = local_time.wYear;
  exploded.month = local_time.wMonth;
  exploded.day_of_week = local_time.wDayOfWeek;
  exploded.day_of_month = local_time.wDay;
  exploded.hour = local_time.wHour;
  exploded.minute = local_time.wMinute;
  exploded.second = local_time.wSecond;
  exploded.millisecond = 0;
  base::Time time;
  if (!base::Time::FromExploded(exploded, &time))
    return base::Time();
  return time;
}

void LogTaskFailure(const char* what,
                    const std::wstring& registered_name,
                    HRESULT result) {
  if (result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
      result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) {
    return;
  }
  LOG(WARNING) << what << " task " << base::WideToUtf8(registered_name)
               << " failed: 0x" << std::hex << result;
}

}  // namespace installer

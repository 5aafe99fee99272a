// The body of a crash reporter relaunched by a crashed one: it captures the
// crashed reporter from outside, lets it end, and sends the report, at most
// once every 3 days.

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/counter_file_writer.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_file_names.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_processor.h"
#include "desktop/windows/crash_reporter/crash_report_fields.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/crash_reporter_paths.h"
#include "desktop/windows/crash_reporter/crash_reporting.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "desktop/windows/crash_reporter/crash_uploads.h"
#include "desktop/windows/crash_reporter/debugged_process_state.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/own_crash_log_writer.h"
#include "desktop/windows/crash_reporter/reporter_crash_handler.h"
#include "desktop/windows/crash_reporter/reporter_features.h"
#include "desktop/windows/crash_reporter/reporter_log.h"
#include "desktop/windows/crash_reporter/reporter_switches.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"
#include "desktop/windows/crash_reporter/upload_parameter_set.h"
#include "desktop/windows/installer/product/role_switches.h"
#include "desktop/windows/installer/system/utils.h"

namespace installer {

namespace {

constexpr wchar_t kLastOwnCrashValue[] = L"Last crash in crash reporter";
constexpr uint64_t kFileTimeUnitsPerDay = 864000000000;
constexpr uint64_t kMinDaysBetweenReports = 3;
constexpr uint64_t kOwnDumpLimit = 512000;
constexpr char kReporterProcessType[] = "crash_reporter";
constexpr wchar_t kReporterProcessTypeWide[] = L"crash_reporter";
// Of the crashed reporter's CrashExceptionInfo.
constexpr size_t kThreadIdOffset = offsetof(CrashExceptionInfo, thread_id);
constexpr size_t kExceptionPointersOffset =
    offsetof(CrashExceptionInfo, exception_pointers);
constexpr size_t kAssertionOffset = offsetof(CrashExceptionInfo, assertion);

uint64_t Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

bool OpenCompanyKey(base::win::RegistryKey* key) {
  return key->Create(HKEY_CURRENT_USER, GetCompanyRegistryPath().c_str(),
                     KEY_QUERY_VALUE | KEY_SET_VALUE) == ERROR_SUCCESS;
}

bool WriteLastOwnCrash(const base::win::RegistryKey& key, uint64_t time) {
  return ::RegSetValueExW(key.Handle(), kLastOwnCrashValue, 0, REG_QWORD,
                          reinterpret_cast<const BYTE*>(&time),
                          sizeof(time)) == ERROR_SUCCESS;
}

// Days since the last reporter crash that reached the crash server; the
// first one ever counts as long ago.
std::optional<uint64_t> DaysSinceLastOwnCrash() {
  base::win::RegistryKey key;
  if (!OpenCompanyKey(&key))
    return std::nullopt;
  uint64_t stored = 0;
  DWORD type = 0;
  DWORD size = sizeof(stored);
  const LONG result =
      ::RegQueryValueExW(key.Handle(), kLastOwnCrashValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(&stored), &size);
  if (result == ERROR_FILE_NOT_FOUND) {
    stored = 0;
    if (!WriteLastOwnCrash(key, stored))
      return std::nullopt;
  } else if (result != ERROR_SUCCESS || type != REG_QWORD ||
             size != sizeof(stored)) {
    return std::nullopt;
  }
  const uint64_t now = Now();
  if (now < stored)
    return std::nullopt;
  return (now - stored) / kFileTimeUnitsPerDay;
}

// Lets the crashed reporter end: sets the event it made under the name it
// gave. Without one it ends once its wait runs out.
void ReleaseCrashedReporter() {
  uint32_t event_id = 0;
  if (!ParseExceptionEventId(&event_id))
    return;
  const base::win::ScopedHandle event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE,
                   GetCrashReporterExceptionEventName(event_id).c_str()));
  if (event.IsValid())
    ::SetEvent(event.Get());
}

void CountOwnCrash() {
  CounterFileWriter counter(GetCounterFilePath());
  counter.AddCount(kReporterProcessType, 1, true);
}

bool WriteFullCrashLog(uint32_t pid,
                       uint64_t info_address,
                       const base::FilePath& path,
                       base::FilePath* made_path) {
  const ScopedDebuggerAttachment debugger(pid);
  DebuggedProcessState state;
  if (!state.Collect(pid, info_address + kExceptionPointersOffset,
                     info_address + kThreadIdOffset, {})) {
    return false;
  }
  CrashLogData data;
  data.metadata.emplace_back("process_type", kReporterProcessType);
  ApplyCrashLogHeaderDefaults(&data);
  MemoryRangeSet ranges;
  return WriteCrashLog(&ranges, state, data, path, made_path);
}

bool WriteReporterMinidump(uint32_t pid,
                           uint64_t info_address,
                           const base::FilePath& path,
                           base::FilePath* made_path,
                           UploadParameterSet* fields) {
  if (!WriteMinidumpFromClientInfo(pid, info_address + kThreadIdOffset,
                                   info_address + kExceptionPointersOffset,
                                   info_address + kAssertionOffset, path,
                                   kOwnDumpLimit, made_path)) {
    return false;
  }
  const std::string email = GetCrashEmail();
  if (!email.empty())
    fields->SetUtf8(L"Email", email);
  fields->Set(L"ProcessType", kReporterProcessTypeWide);
  const base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  AddCrashTimes(process.Get(), std::nullopt, fields);
  AddProductInformation(process.Get(), fields);
  return true;
}

}  // namespace

void HandleCrashReporterCrash() {
  uint32_t pid = 0;
  if (!ParseParentProcessId(&pid))
    return;
  uint64_t info_address = 0;
  const bool has_address = base::StringToUint64(
      base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(
          switches::kCrashReporterExceptionInfo),
      &info_address);
  const std::optional<uint64_t> days = DaysSinceLastOwnCrash();
  if (!has_address || !days || *days < kMinDaysBetweenReports) {
    ReleaseCrashedReporter();
    return;
  }

  GetCrashDirectory();
  ApplyFeatureOverrides(GetPreferencesFilePath());
  const bool alternative = IsAlternativeCrashLoggingEnabled();
  const bool minidump = base::CommandLine::ForCurrentProcess()->HasSwitch(
      kCrashReporterMinidumpSwitch);
  if (!alternative && !minidump) {
    // A crash of this process is reported in the short form.
    PrepareCrashReporterRelaunch(true);
    ReporterLogInit();
    CountOwnCrash();
  }

  const uint32_t crash_number = NextCrashNumber();
  UploadParameterSet fields;
  base::FilePath temp;
  base::GetTempDir(&temp);
  base::FilePath file;
  bool written = false;
  if (alternative) {
    written = WriteReporterMinidump(
        pid, info_address, temp.Append(CrashDumpFileName(crash_number)), &file,
        &fields);
  } else {
    const base::FilePath wanted = temp.Append(CrashTextFileName(crash_number));
    if (minidump) {
      CrashLogData data;
      data.metadata.emplace_back("process_type", kReporterProcessType);
      ApplyCrashLogHeaderDefaults(&data);
      written = WriteOwnCrashLog(pid, info_address, data, wanted,
                                 kOwnDumpLimit, &file);
    } else {
      written = WriteFullCrashLog(pid, info_address, wanted, &file);
    }
    const std::string email = GetCrashEmail();
    if (written && !email.empty())
      fields.SetUtf8(L"email", email);
  }
  ReleaseCrashedReporter();
  if (!written)
    return;

  InitCrashServerUrls();
  const bool uploaded =
      alternative ? RunAlternativeUpload(file, fields.Release(), !minidump)
                  : RunCrashServerUpload(file, fields.Release(), !minidump);
  base::DeletePath(file, false);
  if (uploaded) {
    base::win::RegistryKey key;
    if (!OpenCompanyKey(&key) || !WriteLastOwnCrash(key, Now()))
      LOG(ERROR) << "Cannot note the reporter's crash";
  }
}

}  // namespace installer

#include "desktop/windows/crash_reporter/crash_processor.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/counter_file_writer.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/crash_reporter/crash_file_names.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_report_fields.h"
#include "desktop/windows/crash_reporter/crash_reporter_paths.h"
#include "desktop/windows/crash_reporter/crash_server_handshake.h"
#include "desktop/windows/crash_reporter/crash_uploads.h"
#include "desktop/windows/crash_reporter/debugged_process_state.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/own_minidump_writer.h"
#include "desktop/windows/crash_reporter/parameter_map.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/reporter_features.h"
#include "desktop/windows/crash_reporter/reporter_log.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"
#include "desktop/windows/crash_reporter/upload_parameter_set.h"

namespace installer {

namespace {

constexpr int kHandshakeTimeoutMs = 3000;
constexpr uint64_t kAlternativeDumpLimit = 3072000;
constexpr DWORD kDumpProcessAccess =
    PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

constexpr wchar_t kProcessType[] = L"ptype";
constexpr wchar_t kCrashUrl[] = L"URL";
constexpr wchar_t kOrigin[] = L"Origin";
constexpr wchar_t kCrashGuid[] = L"crash_guid";
constexpr wchar_t kModules[] = L"modules";
constexpr wchar_t kReportId[] = L"stacktraceId";
// In a crash folder of its own, a crash without a guid still gets an id file.
constexpr char kOverriddenCrashGuid = '0';

ParameterMap ParametersOf(const PipeClientRecord& client) {
  return ParameterMap::FromCustomInfo(client.custom_info_entries(),
                                      client.custom_info_count());
}

bool ReadFully(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address),
                             buffer, size, &read) &&
         read == size;
}

void AddMemoryCounters(const DebuggedProcessState& state, CrashLogData* data) {
  data->metadata.emplace_back("mem_working_set_size",
                              base::Uint64ToString(state.working_set_size()));
  data->metadata.emplace_back(
      "mem_peak_working_set_size",
      base::Uint64ToString(state.peak_working_set_size()));
  data->metadata.emplace_back("mem_private_usage",
                              base::Uint64ToString(state.private_usage()));
}

}  // namespace

CrashProcessor::CrashProcessor(CounterFileWriter* counter_writer,
                               bool keep_logs)
    : counter_writer_(counter_writer), keep_logs_(keep_logs) {}

CrashProcessor::~CrashProcessor() = default;

// static
void CrashProcessor::OnClientDumpRequested(void* context,
                                           const PipeClientRecord& client,
                                           const std::wstring* dump_path) {
  auto* processor = static_cast<CrashProcessor*>(context);
  ReporterQuitSignal* quit_signal = ReporterQuitSignal::Instance();
  quit_signal->AddHold();
  const ParameterMap parameters = ParametersOf(client);
  const std::wstring& process_type = parameters.Get(kProcessType);
  if (!process_type.empty() && processor->counter_writer_) {
    processor->counter_writer_->AddCount(base::WideToUtf8(process_type), 1,
                                         true);
  }
  const uint32_t crash_number = NextCrashNumber();
  if (IsAlternativeCrashLoggingEnabled())
    processor->ProcessCrashAlternative(crash_number, client, parameters);
  else
    processor->ProcessCrash(crash_number, client, parameters);
  quit_signal->ReleaseHold();
}

void CrashProcessor::ProcessCrash(uint32_t crash_number,
                                  const PipeClientRecord& client,
                                  const ParameterMap& parameters) {
  BeginLogCapture();
  // Relative: the crash folder is the reporter's current directory, and
  // the name is what the crash server sees of the file.
  CrashFile log =
      CrashFile::Create(base::FilePath(CrashTextFileName(crash_number)));
  if (log.IsValid() && WriteCrashLogViaDebugger(client, &log) &&
      AppendCapturedLog(&log)) {
    const base::FilePath log_path = log.path();
    log.Close();
    std::wstring report_id;
    std::wstring location;
    const CrashServerHandshakeResult answer = CrashServerHandshake(
        parameters.Get(kCrashUrl), parameters.Get(kOrigin), &report_id,
        &location, kHandshakeTimeoutMs);
    if (answer == kCrashServerRefused) {
      if (!keep_logs_)
        base::DeletePath(log_path, false);
    } else {
      UploadParameterSet fields;
      FillRegularUploadFields(parameters, &fields);
      if (!report_id.empty())
        fields.Set(kReportId, report_id);
      if (PostCrashServerUpload(log_path, fields.Release(), !keep_logs_) &&
          !location.empty()) {
        WriteCrashId(crash_number, parameters, location);
      }
    }
  } else {
    log.Discard();
  }
  EndLogCapture();
}

void CrashProcessor::WriteCrashId(uint32_t crash_number,
                                  const ParameterMap& parameters,
                                  const std::wstring& location) {
  std::string crash_guid = base::WideToUtf8(parameters.Get(kCrashGuid));
  if (crash_guid.empty() && IsCrashLogDirOverridden())
    crash_guid.assign(1, kOverriddenCrashGuid);
  const base::FilePath path = CrashIdFileName(crash_number);
  if (crash_guid.empty() || path.empty())
    return;
  FILE* file = _wfopen(path.value().c_str(), L"wt");
  if (!file) {
    PLOG(ERROR) << "Cannot write the crash id file " << path.value().c_str();
    return;
  }
  std::fprintf(file, "%s=%s", crash_guid.c_str(),
               base::WideToUtf8(location).c_str());
  std::fclose(file);
}

void CrashProcessor::ProcessCrashAlternative(uint32_t crash_number,
                                             const PipeClientRecord& client,
                                             const ParameterMap& parameters) {
  base::FilePath dump_path;
  if (!WriteMinidumpFromClientInfo(
          client.process_id(), client.thread_id_address(),
          client.exception_pointers_address(), client.assertion_address(),
          base::FilePath(CrashDumpFileName(crash_number)),
          kAlternativeDumpLimit, &dump_path)) {
    return;
  }
  UploadParameterSet fields;
  FillAlternativeUploadFields(parameters, client.process_handle(), &fields);
  PostAlternativeUpload(dump_path, fields.Release(), !keep_logs_);
}

bool WriteCrashLogViaDebugger(const PipeClientRecord& client, CrashFile* file) {
  const ScopedDebuggerAttachment debugger(client.process_id());
  const ParameterMap parameters = ParametersOf(client);
  DebuggedProcessState state;
  if (!state.Collect(client.process_id(), client.exception_pointers_address(),
                     client.thread_id_address(),
                     ParseFallbackModules(parameters.Get(kModules)))) {
    return false;
  }
  CrashLogData data;
  FillCrashLogData(parameters, &data);
  AddMemoryCounters(state, &data);
  MemoryRangeSet ranges;
  return WriteCrashLog(&ranges, state, data, file);
}

bool WriteMinidumpFromClientInfo(DWORD process_id,
                                 uint64_t thread_id_address,
                                 uint64_t exception_pointers_address,
                                 uint64_t assertion_address,
                                 const base::FilePath& path,
                                 uint64_t size_limit,
                                 base::FilePath* made_path) {
  // Holds the crashed process still: one whose wait for the dump runs out
  // would otherwise end, and change its memory, under the dump.
  const ScopedDebuggerAttachment debugger(process_id);
  const base::win::ScopedHandle process(
      ::OpenProcess(kDumpProcessAccess, FALSE, process_id));
  if (!process.IsValid()) {
    PLOG(ERROR) << "Cannot open process " << process_id;
    return false;
  }
  CrashExceptionInfo info = {};
  if (!ReadFully(process.Get(), exception_pointers_address,
                 &info.exception_pointers, sizeof(info.exception_pointers)) ||
      !ReadFully(process.Get(), thread_id_address, &info.thread_id,
                 sizeof(info.thread_id)) ||
      (assertion_address &&
       !ReadFully(process.Get(), assertion_address, &info.assertion,
                  sizeof(info.assertion)))) {
    LOG(ERROR) << "Cannot read the crash of process " << process_id;
    return false;
  }
  // Written at offsets: a handle that writes, not one that appends.
  CrashFile file = CrashFile::Create(path, GENERIC_WRITE);
  if (!file.IsValid())
    return false;
  if (!WriteOwnMinidump(process.Get(), process_id, info, file.handle(),
                        size_limit)) {
    file.Discard();
    return false;
  }
  if (made_path)
    *made_path = file.path();
  return true;
}

}  // namespace installer

#include "desktop/windows/crash_reporter/pipe_client_record.h"

#include <cwchar>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace installer {

namespace {

// More would be a client announcing garbage.
constexpr uint64_t kMaxCustomInfoEntries = 4096;
constexpr wchar_t kUptimeEntryName[] = L"ptime";
constexpr uint64_t kFileTimeUnitsPerMs = 10000;

// Reading crash data, handing over the events, noticing the exit, writing
// dumps: nothing more.
constexpr DWORD kClientProcessAccess = PROCESS_DUP_HANDLE | PROCESS_VM_READ |
                                       PROCESS_QUERY_INFORMATION | SYNCHRONIZE;

uint64_t FileTimeValue(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

bool DuplicateInto(HANDLE client,
                   HANDLE handle,
                   DWORD access,
                   uint64_t* duplicate) {
  HANDLE target = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, client, &target, access,
                         FALSE, 0)) {
    PLOG(ERROR) << "Cannot hand a crash-pipe handle to the client";
    return false;
  }
  *duplicate = reinterpret_cast<uint64_t>(target);
  return true;
}

void CloseInClient(HANDLE client, uint64_t handle) {
  if (handle) {
    ::DuplicateHandle(client, reinterpret_cast<HANDLE>(handle), nullptr,
                      nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
  }
}

}  // namespace

PipeClientRecord::PipeClientRecord(CrashPipeServer* server,
                                   const CrashPipeMessage& request)
    : server_(server),
      process_id_(request.process_id),
      dump_type_(request.dump_type),
      thread_id_address_(request.thread_id_address),
      exception_pointers_address_(request.exception_pointers_address),
      assertion_address_(request.assertion_address),
      custom_info_address_(request.custom_info_address),
      custom_info_count_(request.custom_info_count) {
  ::GetSystemTimeAsFileTime(&creation_time_);
}

PipeClientRecord::~PipeClientRecord() = default;

const DumpInfoEntry* PipeClientRecord::custom_info_entries() const {
  return custom_info_fetched_ ? custom_info_.data() : nullptr;
}

size_t PipeClientRecord::custom_info_count() const {
  return custom_info_fetched_ ? custom_info_.size() : 0;
}

bool PipeClientRecord::Open() {
  process_.Set(::OpenProcess(kClientProcessAccess, FALSE, process_id_));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "Cannot open crash-pipe client " << process_id_;
    return false;
  }
  FILETIME created, exited, kernel, user;
  if (::GetProcessTimes(process_.Get(), &created, &exited, &kernel, &user))
    creation_time_ = created;
  dump_requested_event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  dump_generated_event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return dump_requested_event_.IsValid() && dump_generated_event_.IsValid();
}

bool PipeClientRecord::DuplicateHandlesInto(HANDLE server_alive_mutex,
                                            CrashPipeMessage* reply) const {
  const HANDLE client = process_.Get();
  if (DuplicateInto(client, dump_requested_event_.Get(), EVENT_MODIFY_STATE,
                    &reply->dump_request_event) &&
      DuplicateInto(client, dump_generated_event_.Get(),
                    SYNCHRONIZE | EVENT_MODIFY_STATE,
                    &reply->dump_generated_event) &&
      DuplicateInto(client, server_alive_mutex, SYNCHRONIZE,
                    &reply->server_alive_mutex)) {
    return true;
  }
  CloseInClient(client, reply->dump_request_event);
  CloseInClient(client, reply->dump_generated_event);
  CloseInClient(client, reply->server_alive_mutex);
  reply->dump_request_event = 0;
  reply->dump_generated_event = 0;
  reply->server_alive_mutex = 0;
  return false;
}

bool PipeClientRecord::FetchCustomInfo() {
  custom_info_fetched_ = false;
  if (custom_info_count_ > kMaxCustomInfoEntries) {
    LOG(ERROR) << "Crash-pipe client " << process_id_ << " announces "
               << custom_info_count_ << " crash keys";
    return false;
  }
  if (custom_info_.empty()) {
    custom_info_.assign(custom_info_count_ + 1, DumpInfoEntry{});
    std::wcscpy(custom_info_.back().name, kUptimeEntryName);
  }
  const size_t size = custom_info_count_ * sizeof(DumpInfoEntry);
  SIZE_T read = 0;
  if (size != 0 &&
      (!::ReadProcessMemory(process_.Get(),
                            reinterpret_cast<const void*>(custom_info_address_),
                            custom_info_.data(), size, &read) ||
       read != size)) {
    PLOG(ERROR) << "Cannot read the crash keys of " << process_id_;
    return false;
  }
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  // A clock set back since the client started gives no negative uptime.
  const uint64_t started = FileTimeValue(creation_time_);
  const uint64_t current = FileTimeValue(now);
  const uint64_t uptime_ms =
      current > started ? (current - started) / kFileTimeUnitsPerMs : 0;
  const std::wstring uptime = base::Uint64ToString16(uptime_ms);
  std::wcsncpy(custom_info_.back().value, uptime.c_str(),
               DumpInfoEntry::kMaxTextLength);
  custom_info_fetched_ = true;
  return true;
}

}  // namespace installer

#include "desktop/windows/crash_reporter/crash_pipe_client.h"

#include <atomic>
#include <string>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"

// Registration runs before the process opens its log: failures are told
// only in verbose lines, which do not create a log file of their own.

namespace installer {

namespace {

constexpr int kMaxConnectAttempts = 2;
constexpr DWORD kBusyWaitMs = 2000;
// The reporter answers a registration at once; the bound is for a server
// that never does.
constexpr DWORD kReplyWaitMs = 5000;
constexpr DWORD kDumpWaitMs = 15000;
// The longest a registration takes once the reporter serves: the connection
// attempts, the request and its reply, the acknowledgement.
constexpr DWORD kRegistrationExchangeMs =
    kMaxConnectAttempts * kBusyWaitMs + 2 * kReplyWaitMs;

std::atomic<DWORD> g_dump_wait_ms{kDumpWaitMs};

uint64_t AddressOf(const void* pointer) {
  return reinterpret_cast<uint64_t>(pointer);
}

// Ends an exchange started on `pipe` with `overlapped` (`started` is what
// the call returned) within the reply bound; one still pending then is
// cancelled and counts as failed.
bool FinishWithinBound(HANDLE pipe,
                       OVERLAPPED* overlapped,
                       bool started,
                       DWORD* bytes) {
  if (!started) {
    if (::GetLastError() != ERROR_IO_PENDING)
      return false;
    if (::WaitForSingleObject(overlapped->hEvent, kReplyWaitMs) !=
        WAIT_OBJECT_0) {
      ::CancelIo(pipe);
      // The cancelled call still writes into `overlapped` as it ends.
      ::GetOverlappedResult(pipe, overlapped, bytes, TRUE);
      ::SetLastError(ERROR_TIMEOUT);
      return false;
    }
  }
  return ::GetOverlappedResult(pipe, overlapped, bytes, FALSE);
}

// Begins an exchange on `pipe` through `start`, which is handed a fresh
// OVERLAPPED with its own event, and ends it within the reply bound.
template <typename Start>
bool ExchangeWithinBound(HANDLE pipe, DWORD* bytes, Start start) {
  const base::win::ScopedHandle event(
      ::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event.IsValid())
    return false;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = event.Get();
  const bool started = start(&overlapped);
  return FinishWithinBound(pipe, &overlapped, started, bytes);
}

bool TransactWithinBound(HANDLE pipe,
                         const CrashPipeMessage& request,
                         CrashPipeMessage* reply,
                         DWORD* read) {
  return ExchangeWithinBound(pipe, read, [&](OVERLAPPED* overlapped) {
    return ::TransactNamedPipe(pipe, const_cast<CrashPipeMessage*>(&request),
                               sizeof(request), reply, sizeof(*reply), read,
                               overlapped) != FALSE;
  });
}

bool WriteWithinBound(HANDLE pipe, const CrashPipeMessage& message) {
  DWORD written = 0;
  return ExchangeWithinBound(pipe, &written,
                             [&](OVERLAPPED* overlapped) {
                               return ::WriteFile(pipe, &message,
                                                  sizeof(message), &written,
                                                  overlapped) != FALSE;
                             }) &&
         written == sizeof(message);
}

}  // namespace

CrashPipeClient::CrashPipeClient(uint32_t reporter_pid,
                                 uint32_t dump_type,
                                 const CustomInfoBlock& custom_info)
    : reporter_pid_(reporter_pid),
      dump_type_(dump_type),
      custom_info_(custom_info) {}

CrashPipeClient::CrashPipeClient(base::win::ScopedHandle pipe,
                                 uint32_t dump_type,
                                 const CustomInfoBlock& custom_info)
    : given_pipe_(std::move(pipe)),
      dump_type_(dump_type),
      custom_info_(custom_info) {}

// The registration thread uses this object to its end.
CrashPipeClient::~CrashPipeClient() {
  if (registration_thread_.IsValid())
    ::WaitForSingleObject(registration_thread_.Get(), INFINITE);
}

bool CrashPipeClient::Register() {
  if (IsRegistered())
    return true;
  base::win::ScopedHandle pipe = Connect();
  if (!pipe.IsValid())
    return false;
  CrashPipeMessage request = MakeRegisterRequest();
  CrashPipeMessage reply = {};
  DWORD read = 0;
  if (!TransactWithinBound(pipe.Get(), request, &reply, &read) ||
      read != sizeof(reply)) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "Crash reporter refused the registration"
            << ", error " << error;
    return false;
  }
  if (!AcceptReply(reply))
    return false;
  const CrashPipeMessage ack = {CrashPipeMessage::kRegisterAck};
  WriteWithinBound(pipe.Get(), ack);
  return true;
}

bool CrashPipeClient::StartLaunchingReporter(ReporterLaunch launch,
                                             DWORD wait_ms) {
  if (IsRegistered() || registration_thread_.IsValid())
    return false;
  launch_ = launch;
  serving_wait_ms_ = wait_ms;
  launch_ended_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!launch_ended_.IsValid())
    return false;
  registration_thread_.Set(
      ::CreateThread(nullptr, 0, &LaunchAndRegister, this, 0, nullptr));
  if (!registration_thread_.IsValid()) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "Cannot start the crash pipe's registration"
            << ", error " << error;
    return false;
  }
  return true;
}

bool CrashPipeClient::AwaitRegistration() const {
  if (registration_thread_.IsValid()) {
    const DWORD bound = serving_wait_ms_ == INFINITE
                            ? INFINITE
                            : serving_wait_ms_ + kRegistrationExchangeMs;
    // Still under way: what it writes cannot be read yet.
    if (::WaitForSingleObject(registration_thread_.Get(), bound) !=
        WAIT_OBJECT_0) {
      return false;
    }
  }
  return IsRegistered();
}

uint32_t CrashPipeClient::AwaitLaunch() const {
  // The launch ends by itself: it waits for nothing another process does.
  if (launch_ended_.IsValid())
    ::WaitForSingleObject(launch_ended_.Get(), INFINITE);
  // One given up on already serves nobody.
  const bool given_up =
      registration_thread_.IsValid() &&
      ::WaitForSingleObject(registration_thread_.Get(), 0) == WAIT_OBJECT_0 &&
      !IsRegistered();
  return given_up ? 0 : reporter_pid_;
}

// static
DWORD WINAPI CrashPipeClient::LaunchAndRegister(void* context) {
  CrashPipeClient* const client = static_cast<CrashPipeClient*>(context);
  const LaunchedReporter reporter = client->launch_();
  if (reporter.process.IsValid())
    client->reporter_pid_ = reporter.pid;
  ::SetEvent(client->launch_ended_.Get());
  if (!reporter.process.IsValid())
    return 0;
  // A reporter that ends first, or is too slow, serves nobody; it is left
  // to end by itself.
  const HANDLE handles[] = {reporter.serving.Get(), reporter.process.Handle()};
  if (reporter.serving.IsValid() &&
      ::WaitForMultipleObjects(2, handles, FALSE, client->serving_wait_ms_) !=
          WAIT_OBJECT_0) {
    VLOG(1) << "The crash reporter did not start";
    return 0;
  }
  return client->Register() ? 1 : 0;
}

bool CrashPipeClient::RequestDump(EXCEPTION_POINTERS* pointers,
                                  const AssertionRecord* assertion) {
  // A crash before the reporter serves waits for it.
  if (!AwaitRegistration())
    return false;
  exception_pointers_ = pointers;
  crashing_thread_id_ = ::GetCurrentThreadId();
  if (assertion)
    assertion_ = *assertion;
  else
    assertion_ = {};
  if (!::ResetEvent(dump_generated_event_.Get()) ||
      !::SetEvent(dump_request_event_.Get())) {
    return false;
  }
  // A reporter that dies abandons the mutex, which ends the wait at once.
  const HANDLE handles[] = {dump_generated_event_.Get(),
                            server_alive_mutex_.Get()};
  return ::WaitForMultipleObjects(2, handles, FALSE, g_dump_wait_ms) ==
         WAIT_OBJECT_0;
}

// static
void CrashPipeClient::SetDumpWaitForTesting(DWORD milliseconds) {
  g_dump_wait_ms = milliseconds;
}

// static
DWORD CrashPipeClient::GetDumpWaitForTesting() {
  return g_dump_wait_ms;
}

base::win::ScopedHandle CrashPipeClient::Connect() {
  base::win::ScopedHandle pipe;
  if (given_pipe_.IsValid()) {
    pipe = std::move(given_pipe_);
  } else {
    const std::wstring pipe_name = GetCrashReporterPipeName(reporter_pid_);
    for (int attempt = 0; !pipe_name.empty() && attempt < kMaxConnectAttempts;
         ++attempt) {
      // Overlapped, so that no exchange with the server can outlast its
      // bound.
      pipe.Set(::CreateFileW(
          pipe_name.c_str(),
          FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0, nullptr,
          OPEN_EXISTING,
          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT |
              SECURITY_IDENTIFICATION,
          nullptr));
      if (pipe.IsValid())
        break;
      // One instance serves every client: another one is registering.
      if (::GetLastError() != ERROR_PIPE_BUSY ||
          !::WaitNamedPipeW(pipe_name.c_str(), kBusyWaitMs)) {
        const DWORD error = ::GetLastError();
        VLOG(1) << "Cannot connect to the crash reporter"
                << ", error " << error;
        return base::win::ScopedHandle();
      }
    }
    // Any process may make a pipe of that name first: only the reporter
    // started for this process is told where its crash slots are.
    ULONG server_pid = 0;
    if (pipe.IsValid() &&
        (!::GetNamedPipeServerProcessId(pipe.Get(), &server_pid) ||
         server_pid != reporter_pid_)) {
      VLOG(1) << "The crash pipe is served by process " << server_pid
              << ", not by the crash reporter " << reporter_pid_;
      return base::win::ScopedHandle();
    }
  }
  if (!pipe.IsValid())
    return pipe;
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) {
    const DWORD error = ::GetLastError();
    VLOG(1) << "Cannot read the crash pipe by messages"
            << ", error " << error;
    return base::win::ScopedHandle();
  }
  return pipe;
}

CrashPipeMessage CrashPipeClient::MakeRegisterRequest() const {
  CrashPipeMessage request = {};
  request.tag = CrashPipeMessage::kRegisterRequest;
  request.process_id = ::GetCurrentProcessId();
  request.dump_type = dump_type_;
  request.thread_id_address = AddressOf(&crashing_thread_id_);
  request.exception_pointers_address = AddressOf(&exception_pointers_);
  request.assertion_address = AddressOf(&assertion_);
  request.custom_info_address = AddressOf(custom_info_.entries);
  request.custom_info_count = custom_info_.count;
  return request;
}

bool CrashPipeClient::AcceptReply(const CrashPipeMessage& reply) {
  if (reply.tag != CrashPipeMessage::kRegisterReply || !reply.process_id ||
      !reply.dump_request_event || !reply.dump_generated_event ||
      !reply.server_alive_mutex) {
    VLOG(1) << "Unexpected reply from the crash reporter";
    return false;
  }
  dump_request_event_.Set(reinterpret_cast<HANDLE>(reply.dump_request_event));
  dump_generated_event_.Set(
      reinterpret_cast<HANDLE>(reply.dump_generated_event));
  server_alive_mutex_.Set(reinterpret_cast<HANDLE>(reply.server_alive_mutex));
  server_process_id_ = reply.process_id;
  return true;
}

}  // namespace installer

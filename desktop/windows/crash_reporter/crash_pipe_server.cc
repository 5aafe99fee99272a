#include "desktop/windows/crash_reporter/crash_pipe_server.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/dump_file_writer.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"

namespace installer {

namespace {

constexpr DWORD kPipeBufferSize = 64;
// How long destruction waits for the state machine to notice it.
constexpr int kShutdownPolls = 100;
constexpr DWORD kShutdownPollMs = 10;

bool ReadClientMemory(const PipeClientRecord& client,
                      uint64_t address,
                      void* buffer,
                      size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(client.process_handle(),
                             reinterpret_cast<const void*>(address), buffer,
                             size, &read) &&
         read == size;
}

}  // namespace

CrashPipeServer::CrashPipeServer(const std::wstring& pipe_name,
                                 SECURITY_ATTRIBUTES* security,
                                 const Callbacks& callbacks,
                                 bool generate_dumps,
                                 const std::wstring& dump_folder)
    : pipe_name_(pipe_name),
      security_(security),
      callbacks_(callbacks),
      generate_dumps_(generate_dumps),
      dump_folder_(dump_folder) {}

CrashPipeServer::~CrashPipeServer() {
  {
    base::AutoLock hold(lock_);
    shutting_down_ = true;
    if (pipe_.IsValid()) {
      ::DisconnectNamedPipe(pipe_.Get());
      // A pending connect or read completes now, and its step sees the flag.
      ::CancelIoEx(pipe_.Get(), nullptr);
    }
  }
  for (int poll = 0; poll < kShutdownPolls && state_ != kError; ++poll)
    ::Sleep(kShutdownPollMs);
  pipe_wait_.Unregister(true);
  if (pipe_.IsValid()) {
    // The system may still write into `overlapped_` until the I/O is over.
    ::CancelIoEx(pipe_.Get(), &overlapped_);
    DWORD transferred = 0;
    ::GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, TRUE);
    pipe_.Close();
  }

  std::vector<std::unique_ptr<PipeClientRecord>> clients;
  {
    base::AutoLock hold(lock_);
    clients.swap(clients_);
  }
  // Each record waits for its running callbacks.
  clients.clear();

  // Clients still waiting for a dump see the reporter go.
  if (server_alive_mutex_.IsValid())
    ::ReleaseMutex(server_alive_mutex_.Get());
  server_alive_mutex_.Close();
  overlapped_event_.Close();
}

bool CrashPipeServer::Start() {
  if (state_ != kNotStarted)
    return false;
  state_ = kConnect;
  server_alive_mutex_.Set(::CreateMutexW(nullptr, TRUE, nullptr));
  overlapped_event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!server_alive_mutex_.IsValid() || !overlapped_event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the crash pipe's objects";
    state_ = kError;
    return false;
  }
  overlapped_.hEvent = overlapped_event_.Get();
  if (!pipe_wait_.Register(overlapped_event_.Get(), &OnPipeEvent, this,
                           WT_EXECUTEINWAITTHREAD)) {
    state_ = kError;
    return false;
  }
  {
    base::AutoLock hold(lock_);
    pipe_.Set(::CreateNamedPipeW(
        pipe_name_.c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
            FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
        kPipeBufferSize, kPipeBufferSize, 0, security_));
  }
  if (!pipe_.IsValid()) {
    PLOG(ERROR) << "Cannot create the crash pipe";
    state_ = kError;
    return false;
  }
  if (!::SetEvent(overlapped_event_.Get())) {
    state_ = kError;
    return false;
  }
  return true;
}

// static
void CALLBACK CrashPipeServer::OnPipeEvent(void* server, BOOLEAN timed_out) {
  static_cast<CrashPipeServer*>(server)->RunStep();
}

// static
void CALLBACK CrashPipeServer::OnDumpRequestEvent(void* record,
                                                  BOOLEAN timed_out) {
  auto* client = static_cast<PipeClientRecord*>(record);
  client->server_->HandleDumpRequest(client);
}

// static
void CALLBACK CrashPipeServer::OnClientExitEvent(void* record,
                                                 BOOLEAN timed_out) {
  auto* client = static_cast<PipeClientRecord*>(record);
  client->server_->HandleClientExit(client);
}

void CrashPipeServer::RunStep() {
  {
    base::AutoLock hold(lock_);
    if (shutting_down_) {
      state_ = kError;
      ::ResetEvent(overlapped_event_.Get());
      return;
    }
  }
  switch (state_) {
    case kError:
      HandleError();
      break;
    case kConnect:
      HandleConnect();
      break;
    case kConnecting:
      HandleConnecting();
      break;
    case kConnected:
      HandleConnected();
      break;
    case kReading:
      HandleReading();
      break;
    case kReadDone:
      HandleReadDone();
      break;
    case kReplying:
      HandleReplying();
      break;
    case kReplied:
      HandleReplied();
      break;
    case kReadingAck:
      HandleReadingAck();
      break;
    case kDisconnecting:
      HandleDisconnecting();
      break;
    default:
      break;
  }
}

void CrashPipeServer::GoTo(State state) {
  state_ = state;
  if (!::SetEvent(overlapped_event_.Get()))
    state_ = kError;
}

void CrashPipeServer::Fail() {
  ::SetEvent(overlapped_event_.Get());
  state_ = kError;
}

// The pipe itself failed: nobody can be served any more. The wait stays
// until destruction, which must wait for this very callback.
void CrashPipeServer::HandleError() {
  base::AutoLock hold(lock_);
  ::ResetEvent(overlapped_event_.Get());
  if (shutting_down_)
    return;
  LOG(ERROR) << "The crash pipe stopped serving";
  pipe_.Close();
}

void CrashPipeServer::HandleConnect() {
  if (!::ResetEvent(overlapped_event_.Get())) {
    Fail();
    return;
  }
  // Overlapped, a connect only ever reports success through the event.
  if (::ConnectNamedPipe(pipe_.Get(), &overlapped_)) {
    Fail();
    return;
  }
  switch (::GetLastError()) {
    case ERROR_PIPE_CONNECTED:
      GoTo(kConnected);
      break;
    case ERROR_IO_PENDING:
      state_ = kConnecting;
      break;
    default:
      PLOG(ERROR) << "Cannot listen on the crash pipe";
      Fail();
      break;
  }
}

void CrashPipeServer::HandleConnecting() {
  DWORD transferred = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE))
    GoTo(kConnected);
  else if (::GetLastError() != ERROR_IO_INCOMPLETE)
    GoTo(kDisconnecting);
}

void CrashPipeServer::HandleConnected() {
  message_ = {};
  if (!::ReadFile(pipe_.Get(), &message_, sizeof(message_), nullptr,
                  &overlapped_) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    GoTo(kDisconnecting);
    return;
  }
  state_ = kReading;
}

void CrashPipeServer::HandleReading() {
  DWORD transferred = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) &&
      transferred == sizeof(message_)) {
    GoTo(kReadDone);
  } else {
    GoTo(kDisconnecting);
  }
}

void CrashPipeServer::HandleReadDone() {
  if (RegisterClient())
    state_ = kReplying;
  else
    GoTo(kDisconnecting);
}

void CrashPipeServer::HandleReplying() {
  DWORD transferred = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE))
    GoTo(kReplied);
  else
    GoTo(kDisconnecting);
}

void CrashPipeServer::HandleReplied() {
  message_ = {};
  if (::ReadFile(pipe_.Get(), &message_, sizeof(message_), nullptr,
                 &overlapped_)) {
    GoTo(kReadingAck);
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    state_ = kReadingAck;
  } else {
    GoTo(kDisconnecting);
  }
}

void CrashPipeServer::HandleReadingAck() {
  DWORD transferred = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &transferred, FALSE) &&
      callbacks_.on_connect) {
    base::AutoLock hold(lock_);
    const bool registered = std::any_of(
        clients_.begin(), clients_.end(),
        [this](const auto& client) { return client.get() == registering_; });
    if (registered)
      callbacks_.on_connect(callbacks_.connect_context, *registering_);
  }
  GoTo(kDisconnecting);
}

void CrashPipeServer::HandleDisconnecting() {
  const HANDLE event = overlapped_.hEvent;
  overlapped_ = {};
  overlapped_.hEvent = event;
  registering_ = nullptr;
  if (!::ResetEvent(overlapped_event_.Get()) ||
      !::DisconnectNamedPipe(pipe_.Get())) {
    Fail();
    return;
  }
  base::AutoLock hold(lock_);
  if (shutting_down_)
    state_ = kError;
  else
    GoTo(kConnect);
}

bool CrashPipeServer::RegisterClient() {
  if (message_.tag == CrashPipeMessage::kUploadRequest &&
      callbacks_.on_upload) {
    callbacks_.on_upload(callbacks_.upload_context, message_.process_id);
    return false;
  }
  if (message_.tag != CrashPipeMessage::kRegisterRequest ||
      message_.process_id == 0 || message_.thread_id_address == 0 ||
      message_.exception_pointers_address == 0 ||
      message_.assertion_address == 0) {
    LOG(WARNING) << "Refused a malformed crash-pipe request";
    return false;
  }
  if (!IsFromConnectedProcess(message_))
    return false;
  auto record = std::make_unique<PipeClientRecord>(this, message_);
  if (!record->Open())
    return false;
  CrashPipeMessage reply = {};
  reply.tag = CrashPipeMessage::kRegisterReply;
  reply.process_id = ::GetCurrentProcessId();
  if (!record->DuplicateHandlesInto(server_alive_mutex_.Get(), &reply))
    return false;
  // Added before the reply goes out, so that nothing can fail while the
  // write is in flight; a client that never gets the reply is dropped when
  // it exits.
  PipeClientRecord* client = record.get();
  if (!AddClient(std::move(record)))
    return false;
  // The buffer must outlive the overlapped write.
  message_ = reply;
  if (!::WriteFile(pipe_.Get(), &message_, sizeof(message_), nullptr,
                   &overlapped_) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot reply on the crash pipe";
    return false;
  }
  registering_ = client;
  return true;
}

// The pipe is open to low-integrity processes: a request may name any
// process, and the server would open it and plant handles in it. Only the
// process at the other end of the pipe may register, itself.
bool CrashPipeServer::IsFromConnectedProcess(
    const CrashPipeMessage& request) const {
  ULONG connected = 0;
  if (!::GetNamedPipeClientProcessId(pipe_.Get(), &connected)) {
    PLOG(ERROR) << "Cannot tell who is on the crash pipe";
    return false;
  }
  if (connected != request.process_id) {
    LOG(ERROR) << "Process " << connected << " tried to register as process "
               << request.process_id;
    return false;
  }
  return true;
}

bool CrashPipeServer::AddClient(std::unique_ptr<PipeClientRecord> record) {
  PipeClientRecord* client = record.get();
  base::AutoLock hold(lock_);
  if (shutting_down_)
    return false;
  if (!client->dump_request_wait_.Register(
          client->dump_requested_event_.Get(), &OnDumpRequestEvent, client,
          WT_EXECUTEINWAITTHREAD | WT_EXECUTELONGFUNCTION)) {
    return false;
  }
  // From here on the record is destroyed only from a thread that may wait
  // for its callbacks: on its exit, or with the server.
  clients_.push_back(std::move(record));
  if (!client->exit_wait_.Register(client->process_handle(), &OnClientExitEvent,
                                   client, WT_EXECUTEONLYONCE)) {
    LOG(ERROR) << "The exit of crash-pipe client " << client->process_id()
               << " goes unnoticed";
  }
  return true;
}

void CrashPipeServer::HandleDumpRequest(PipeClientRecord* record) {
  record->FetchCustomInfo();
  std::wstring dump_path;
  bool dump_written = true;
  if (generate_dumps_)
    dump_written = WriteDump(record, &dump_path);
  if (callbacks_.on_dump && dump_written) {
    callbacks_.on_dump(callbacks_.dump_context, *record,
                       dump_path.empty() ? nullptr : &dump_path);
  }
  // Reset before answering: a request the client makes once answered must
  // not be wiped out.
  ::ResetEvent(record->dump_requested_event_.Get());
  ::SetEvent(record->dump_generated_event_.Get());
}

bool CrashPipeServer::WriteDump(PipeClientRecord* record,
                                std::wstring* dump_path) {
  DWORD thread_id = 0;
  uint64_t exception_pointers = 0;
  if (!ReadClientMemory(*record, record->thread_id_address(), &thread_id,
                        sizeof(thread_id)) ||
      !ReadClientMemory(*record, record->exception_pointers_address(),
                        &exception_pointers, sizeof(exception_pointers))) {
    PLOG(ERROR) << "Cannot read the crash of " << record->process_id();
    return false;
  }
  bool written = false;
  {
    DumpFileWriter writer(dump_folder_, record->process_handle(),
                          record->process_id(), thread_id, thread_id,
                          exception_pointers, record->assertion_address(),
                          record->dump_type(), true);
    written = writer.CreateDumpFile(dump_path) && writer.WriteMinidump();
  }
  // Half a dump is no use to anyone who finds it later.
  if (!written && !dump_path->empty()) {
    ::DeleteFileW(dump_path->c_str());
    dump_path->clear();
  }
  return written;
}

void CrashPipeServer::HandleClientExit(PipeClientRecord* record) {
  record->dump_request_wait_.Unregister(true);
  if (callbacks_.on_exit)
    callbacks_.on_exit(callbacks_.exit_context, *record);
  std::unique_ptr<PipeClientRecord> exited;
  {
    base::AutoLock hold(lock_);
    if (shutting_down_)
      return;
    auto found = std::find_if(
        clients_.begin(), clients_.end(),
        [record](const auto& client) { return client.get() == record; });
    if (found != clients_.end()) {
      exited = std::move(*found);
      clients_.erase(found);
    }
  }
  if (exited)
    exited->exit_wait_.Unregister(false);
}

}  // namespace installer

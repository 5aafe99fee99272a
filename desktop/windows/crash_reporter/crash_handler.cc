#include "desktop/windows/crash_reporter/crash_handler.h"

#include <dbghelp.h>
#include <rpc.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cwchar>
#include <utility>

#include "base/files/file_path.h"
#include "base/process/launch.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/dump_streams.h"
#include "desktop/windows/crash_reporter/scoped_system_library.h"

namespace installer {

namespace {

constexpr DWORD kInvalidHandleCode = 0xC0000008;
constexpr DWORD kInvalidParameterCode = 0xC000000D;
constexpr DWORD kPureCallCode = 0xC0000025;
// What abort() and std::terminate are reported as.
constexpr DWORD kFatalAppExitCode = 0x40000015;
// Breakpoint, single step, and the narrow and wide debug prints.
constexpr DWORD kDebugExceptionCodes[] = {0x80000003, 0x80000004, 0x40010006,
                                          0x4001000A};

constexpr DWORD kHandlerThreadStackSize = 65536;
constexpr DWORD kHandlerThreadStopMs = 60000;
constexpr uint64_t kInstructionMemoryRadius = 128;

constexpr int kHandlerKinds[] = {RuntimeCrashHandlers::kUnhandledException,
                                 RuntimeCrashHandlers::kInvalidParameter,
                                 RuntimeCrashHandlers::kPureCall};

using MiniDumpWriteDumpFunction = decltype(&::MiniDumpWriteDump);
using UuidCreateFunction = RPC_STATUS(RPC_ENTRY*)(UUID* uuid);

// The handler thread while it writes an in-process dump.
std::atomic<DWORD> g_dump_writer_thread{0};

// The installed handlers, innermost last, and how deep the handling of a
// crash is. The lock is never deleted, so that a crash during exit still
// finds it.
struct HandlerStack {
  HandlerStack() { ::InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::unique_ptr<std::vector<CrashHandler*>> handlers;
  size_t depth = 0;
};

HandlerStack& GetHandlerStack() {
  static HandlerStack stack;
  return stack;
}

RuntimeCrashHandlers OurHandlers() {
  RuntimeCrashHandlers handlers;
  handlers.exception_filter = &CrashHandler::HandleException;
  handlers.invalid_parameter = &CrashHandler::HandleInvalidParameter;
  handlers.pure_call = &CrashHandler::HandlePureCall;
  handlers.terminate = &CrashHandler::HandleTerminate;
  handlers.abort_signal = &CrashHandler::HandleAbortSignal;
  return handlers;
}

bool IsDebugException(DWORD code) {
  return std::find(std::begin(kDebugExceptionCodes),
                   std::end(kDebugExceptionCodes),
                   code) != std::end(kDebugExceptionCodes);
}

void CopyAssertionText(const wchar_t* text, wchar_t* field) {
  field[0] = L'\0';
  if (text) {
    std::wcsncpy(field, text, AssertionRecord::kTextUnits - 1);
    field[AssertionRecord::kTextUnits - 1] = L'\0';
  }
}

template <typename Handler>
void ReplaceIfOurs(Handler ours, Handler replacement, Handler* saved) {
  if (*saved == ours)
    *saved = replacement;
}

}  // namespace

// The handling of one crash. It holds the process-wide lock throughout, so
// a crash on another thread waits at the entry (and the handler's filter
// may park it there for good). A crash inside the handling, on the same
// thread, comes back in one level deeper and goes to the handler below,
// and below the last one to the handlers that were there before any of
// ours. The handlers stay installed all along: putting the previous ones
// back for the time of the handling would hand every other thread's crash
// to them, and end the process before the dump is taken.
class CrashHandling {
 public:
  CrashHandling() : stack_(GetHandlerStack()) {
    // The dump writer's thread must not wait for the crashed thread, which
    // holds the lock while it waits for the dump.
    if (::GetCurrentThreadId() == g_dump_writer_thread)
      return;
    ::EnterCriticalSection(&stack_.lock);
    locked_ = true;
    ++stack_.depth;
    if (stack_.handlers && stack_.depth <= stack_.handlers->size())
      handler_ = (*stack_.handlers)[stack_.handlers->size() - stack_.depth];
  }
  CrashHandling(const CrashHandling&) = delete;
  CrashHandling& operator=(const CrashHandling&) = delete;
  ~CrashHandling() {
    if (!locked_)
      return;
    --stack_.depth;
    ::LeaveCriticalSection(&stack_.lock);
  }

  // Null when no handler is left for this crash.
  CrashHandler* handler() const { return handler_; }
  // What the first of our handlers replaced.
  RuntimeCrashHandlers originals() const {
    if (!stack_.handlers || stack_.handlers->empty())
      return RuntimeCrashHandlers();
    return stack_.handlers->front()->previous_handlers_;
  }

 private:
  HandlerStack& stack_;
  bool locked_ = false;
  CrashHandler* handler_ = nullptr;
};

CrashHandler::CrashHandler(const std::wstring& dump_folder,
                           FilterCallback filter,
                           AfterDumpCallback after_dump,
                           void* context,
                           int handler_types,
                           uint32_t dump_type,
                           uint32_t reporter_pid,
                           base::win::ScopedHandle pipe,
                           const CustomInfoBlock& custom_info)
    : filter_(filter),
      after_dump_(after_dump),
      context_(context),
      dump_type_(dump_type),
      handler_types_(handler_types) {
  std::unique_ptr<CrashPipeClient> client;
  if (reporter_pid != 0) {
    client =
        std::make_unique<CrashPipeClient>(reporter_pid, dump_type, custom_info);
  } else if (pipe.IsValid()) {
    client = std::make_unique<CrashPipeClient>(std::move(pipe), dump_type,
                                               custom_info);
  }
  if (client && !client->Register())
    client.reset();
  Install(std::move(client), dump_folder);
}

CrashHandler::CrashHandler(FilterCallback filter,
                           AfterDumpCallback after_dump,
                           void* context,
                           int handler_types,
                           std::unique_ptr<CrashPipeClient> client)
    : filter_(filter),
      after_dump_(after_dump),
      context_(context),
      // Read by in-process dumps only: the client carries its own.
      dump_type_(0),
      handler_types_(handler_types) {
  Install(std::move(client), std::wstring());
}

void CrashHandler::Install(std::unique_ptr<CrashPipeClient> client,
                           const std::wstring& dump_folder) {
  pipe_client_ = std::move(client);
  if (!pipe_client_)
    StartInProcessMode(dump_folder);
  app_memory_.push_back({0, 0});
  if (handler_types_ != 0)
    PushOnHandlerStack();
}

CrashHandler::~CrashHandler() {
  if (handler_types_ != 0)
    RemoveFromHandlerStack();
  if (handler_thread_.IsValid()) {
    shutting_down_ = true;
    ::ReleaseSemaphore(start_semaphore_.Get(), 1, nullptr);
    ::WaitForSingleObject(handler_thread_.Get(), kHandlerThreadStopMs);
  }
}

bool CrashHandler::AwaitReporter() const {
  return pipe_client_ && pipe_client_->AwaitRegistration();
}

uint32_t CrashHandler::AwaitReporterLaunch() const {
  return pipe_client_ ? pipe_client_->AwaitLaunch() : 0;
}

uint32_t CrashHandler::reporter_process_id() const {
  return pipe_client_ ? pipe_client_->server_process_id() : 0;
}

bool CrashHandler::WriteMinidumpForException(EXCEPTION_POINTERS* pointers) {
  if (pipe_client_)
    return WriteMinidumpWithException(::GetCurrentThreadId(), pointers,
                                      nullptr);
  const bool written = WriteMinidumpOnHandlerThread(pointers, nullptr);
  UpdateNextDumpPath();
  return written;
}

// static
LONG WINAPI CrashHandler::HandleException(EXCEPTION_POINTERS* pointers) {
  const CrashHandling handling;
  if (CrashHandler* handler = handling.handler())
    return handler->FilterException(pointers);
  const LPTOP_LEVEL_EXCEPTION_FILTER original =
      handling.originals().exception_filter;
  return original ? original(pointers) : EXCEPTION_CONTINUE_SEARCH;
}

// static
void __cdecl CrashHandler::HandleInvalidParameter(const wchar_t* expression,
                                                  const wchar_t* function,
                                                  const wchar_t* file,
                                                  unsigned int line,
                                                  uintptr_t reserved) {
  {
    const CrashHandling handling;
    CrashHandler* handler = handling.handler();
    RuntimeCrashHandlers::InvalidParameterHandler fallback =
        handling.originals().invalid_parameter;
    if (handler) {
      AssertionRecord assertion = {};
      CopyAssertionText(expression, assertion.expression);
      CopyAssertionText(function, assertion.function);
      CopyAssertionText(file, assertion.file);
      assertion.line = line;
      assertion.type = AssertionRecord::kInvalidParameter;
      if (handler->WriteForRuntimeReport(kInvalidParameterCode, &assertion))
        base::TerminateCurrentProcess(kInvalidParameterCode);
      fallback = handler->previous_handlers_.invalid_parameter;
    }
    if (fallback)
      fallback(expression, function, file, line, reserved);
  }
  base::TerminateCurrentProcess(kInvalidParameterCode);
}

// static
void __cdecl CrashHandler::HandlePureCall() {
  {
    const CrashHandling handling;
    CrashHandler* handler = handling.handler();
    RuntimeCrashHandlers::PureCallHandler fallback =
        handling.originals().pure_call;
    if (handler) {
      AssertionRecord assertion = {};
      assertion.type = AssertionRecord::kPureVirtualCall;
      if (handler->WriteForRuntimeReport(kPureCallCode, &assertion))
        base::TerminateCurrentProcess(kPureCallCode);
      fallback = handler->previous_handlers_.pure_call;
    }
    if (fallback)
      fallback();
  }
  base::TerminateCurrentProcess(kPureCallCode);
}

// static
void CrashHandler::HandleTerminate() {
  {
    const CrashHandling handling;
    CrashHandler* handler = handling.handler();
    std::terminate_handler fallback = handling.originals().terminate;
    if (handler) {
      if (handler->WriteForRuntimeReport(kFatalAppExitCode, nullptr))
        base::TerminateCurrentProcess(kFatalAppExitCode);
      fallback = handler->previous_handlers_.terminate;
    }
    // The default one aborts, which comes back here one level deeper.
    if (fallback)
      fallback();
  }
  base::TerminateCurrentProcess(kFatalAppExitCode);
}

// static
void __cdecl CrashHandler::HandleAbortSignal(int signal) {
  {
    const CrashHandling handling;
    CrashHandler* handler = handling.handler();
    RuntimeCrashHandlers::SignalHandler fallback =
        handling.originals().abort_signal;
    if (handler) {
      if (handler->WriteForRuntimeReport(kFatalAppExitCode, nullptr))
        base::TerminateCurrentProcess(kFatalAppExitCode);
      fallback = handler->previous_handlers_.abort_signal;
    }
    if (fallback && fallback != SIG_IGN)
      fallback(signal);
  }
  base::TerminateCurrentProcess(kFatalAppExitCode);
}

void CrashHandler::StartInProcessMode(const std::wstring& dump_folder) {
  start_semaphore_.Set(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
  finish_semaphore_.Set(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
  if (start_semaphore_.IsValid() && finish_semaphore_.IsValid()) {
    handler_thread_.Set(::CreateThread(nullptr, kHandlerThreadStackSize,
                                       &HandlerThreadMain, this, 0, nullptr));
  }
  dbghelp_ = std::make_unique<ScopedSystemLibrary>(L"dbghelp.dll");
  rpcrt4_ = std::make_unique<ScopedSystemLibrary>(L"rpcrt4.dll");
  dump_folder_ = dump_folder;
  UpdateNextDumpPath();
}

void CrashHandler::PushOnHandlerStack() {
  HandlerStack& stack = GetHandlerStack();
  ::EnterCriticalSection(&stack.lock);
  if (!stack.handlers)
    stack.handlers = std::make_unique<std::vector<CrashHandler*>>();
  stack.handlers->push_back(this);
  previous_handlers_ =
      InstallRuntimeCrashHandlers(OurHandlers(), handler_types_);
  ::LeaveCriticalSection(&stack.lock);
}

// Only the handler on top puts the saved handlers back; one further down
// hands them to the one above it, which saved ours instead. Putting them
// back from the middle would leave the handler on top deaf.
void CrashHandler::RemoveFromHandlerStack() {
  HandlerStack& stack = GetHandlerStack();
  ::EnterCriticalSection(&stack.lock);
  if (stack.handlers) {
    std::vector<CrashHandler*>& handlers = *stack.handlers;
    const auto found = std::find(handlers.begin(), handlers.end(), this);
    if (found != handlers.end()) {
      if (found + 1 != handlers.end())
        std::fputs("warning: removing crash handler out of order\n", stderr);
      for (const int kind : kHandlerKinds) {
        if (!(handler_types_ & kind))
          continue;
        const auto above = std::find_if(found + 1, handlers.end(),
                                        [kind](const CrashHandler* handler) {
                                          return handler->handler_types_ & kind;
                                        });
        if (above != handlers.end())
          HandOverPreviousHandlers(*above, kind);
        else
          InstallRuntimeCrashHandlers(previous_handlers_, kind);
      }
      handlers.erase(found);
    }
    if (handlers.empty())
      stack.handlers.reset();
  }
  ::LeaveCriticalSection(&stack.lock);
}

void CrashHandler::HandOverPreviousHandlers(CrashHandler* above,
                                            int kind) const {
  const RuntimeCrashHandlers ours = OurHandlers();
  const RuntimeCrashHandlers& mine = previous_handlers_;
  RuntimeCrashHandlers& theirs = above->previous_handlers_;
  if (kind == RuntimeCrashHandlers::kUnhandledException) {
    ReplaceIfOurs(ours.exception_filter, mine.exception_filter,
                  &theirs.exception_filter);
  } else if (kind == RuntimeCrashHandlers::kInvalidParameter) {
    ReplaceIfOurs(ours.invalid_parameter, mine.invalid_parameter,
                  &theirs.invalid_parameter);
  } else if (kind == RuntimeCrashHandlers::kPureCall) {
    ReplaceIfOurs(ours.pure_call, mine.pure_call, &theirs.pure_call);
    ReplaceIfOurs(ours.terminate, mine.terminate, &theirs.terminate);
    ReplaceIfOurs(ours.abort_signal, mine.abort_signal, &theirs.abort_signal);
  }
}

LONG CrashHandler::FilterException(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers && pointers->ExceptionRecord
                         ? pointers->ExceptionRecord->ExceptionCode
                         : 0;
  if (code == kInvalidHandleCode && consume_invalid_handle_exceptions_)
    return EXCEPTION_CONTINUE_EXECUTION;
  if (!IsDebugException(code) || handle_debug_exceptions_) {
    const bool written = pipe_client_
                             ? WriteMinidumpWithException(
                                   ::GetCurrentThreadId(), pointers, nullptr)
                             : WriteMinidumpOnHandlerThread(pointers, nullptr);
    // Ended here with the code the system would give it, but never in the
    // middle of another thread's start of a child.
    if (written)
      base::TerminateCurrentProcess(code);
  }
  if (previous_handlers_.exception_filter)
    return previous_handlers_.exception_filter(pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

bool CrashHandler::WriteForRuntimeReport(DWORD code,
                                         AssertionRecord* assertion) {
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  if (pipe_client_)
    return WriteMinidumpWithException(::GetCurrentThreadId(), &pointers,
                                      assertion);
  return WriteMinidumpOnHandlerThread(&pointers, assertion);
}

bool CrashHandler::WriteMinidumpWithException(DWORD thread_id,
                                              EXCEPTION_POINTERS* pointers,
                                              AssertionRecord* assertion) {
  if (filter_ && !filter_(context_, pointers, assertion))
    return false;
  const bool succeeded =
      pipe_client_ ? pipe_client_->RequestDump(pointers, assertion)
                   : WriteMinidumpInProcess(thread_id, pointers, assertion);
  if (after_dump_) {
    return after_dump_(dump_folder_.c_str(), next_dump_id_.c_str(), context_,
                       pointers, assertion, succeeded);
  }
  return succeeded;
}

bool CrashHandler::WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* pointers,
                                                AssertionRecord* assertion) {
  base::AutoLock hold(request_lock_);
  if (!handler_thread_.IsValid())
    return false;
  requesting_thread_id_ = ::GetCurrentThreadId();
  exception_pointers_ = pointers;
  assertion_ = assertion;
  ::ReleaseSemaphore(start_semaphore_.Get(), 1, nullptr);
  ::WaitForSingleObject(finish_semaphore_.Get(), INFINITE);
  requesting_thread_id_ = 0;
  exception_pointers_ = nullptr;
  assertion_ = nullptr;
  return request_result_;
}

bool CrashHandler::WriteMinidumpInProcess(DWORD thread_id,
                                          EXCEPTION_POINTERS* pointers,
                                          AssertionRecord* assertion) {
  auto write_dump = dbghelp_ ? dbghelp_->GetFunction<MiniDumpWriteDumpFunction>(
                                   "MiniDumpWriteDump")
                             : nullptr;
  if (!write_dump)
    return false;
  const CrashFile file =
      CrashFile::Create(base::FilePath(next_dump_path_), GENERIC_WRITE);
  if (!file.IsValid())
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {thread_id, pointers, FALSE};
  DumpInformationStream information = {DumpInformationStream::kThreadIdsValid,
                                       ::GetCurrentThreadId(), thread_id};
  MINIDUMP_USER_STREAM streams[2] = {
      {kInformationStreamType, sizeof(information), &information}};
  ULONG stream_count = 1;
  if (assertion) {
    streams[stream_count++] = {kAssertionStreamType, sizeof(*assertion),
                               assertion};
  }
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};
  if (pointers)
    KeepMemoryAroundInstruction(pointers);
  next_app_memory_ = 0;
  MINIDUMP_CALLBACK_INFORMATION callback = {&OnMinidumpCallback, this};
  return write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.handle(),
                    static_cast<MINIDUMP_TYPE>(dump_type_),
                    pointers ? &exception : nullptr, &user_streams, &callback);
}

void CrashHandler::UpdateNextDumpPath() {
  UUID id = {};
  auto uuid_create =
      rpcrt4_ ? rpcrt4_->GetFunction<UuidCreateFunction>("UuidCreate")
              : nullptr;
  if (uuid_create)
    uuid_create(&id);
  next_dump_id_ = GuidToDumpId(id);
  next_dump_path_ = dump_folder_ + L"\\" + next_dump_id_ + L".dmp";
  if (next_dump_path_.size() >= MAX_PATH)
    next_dump_path_.clear();
}

void CrashHandler::KeepMemoryAroundInstruction(
    const EXCEPTION_POINTERS* pointers) {
  if (!pointers->ContextRecord)
    return;
  const uint64_t instruction = pointers->ContextRecord->Rip;
  MEMORY_BASIC_INFORMATION region = {};
  if (!::VirtualQueryEx(::GetCurrentProcess(),
                        reinterpret_cast<const void*>(instruction), &region,
                        sizeof(region)) ||
      region.State != MEM_COMMIT) {
    return;
  }
  const uint64_t region_base = reinterpret_cast<uint64_t>(region.BaseAddress);
  const uint64_t region_end = region_base + region.RegionSize;
  const uint64_t begin =
      std::max(region_base, instruction > kInstructionMemoryRadius
                                ? instruction - kInstructionMemoryRadius
                                : 0);
  const uint64_t end =
      std::min(region_end, instruction + kInstructionMemoryRadius);
  app_memory_[0] = {begin, static_cast<uint32_t>(end - begin)};
}

// static
DWORD WINAPI CrashHandler::HandlerThreadMain(void* handler) {
  auto* self = static_cast<CrashHandler*>(handler);
  while (::WaitForSingleObject(self->start_semaphore_.Get(), INFINITE) ==
         WAIT_OBJECT_0) {
    if (self->shutting_down_)
      break;
    g_dump_writer_thread = ::GetCurrentThreadId();
    self->request_result_ = self->WriteMinidumpWithException(
        self->requesting_thread_id_, self->exception_pointers_,
        self->assertion_);
    g_dump_writer_thread = 0;
    ::ReleaseSemaphore(self->finish_semaphore_.Get(), 1, nullptr);
  }
  return 0;
}

// static
BOOL CALLBACK
CrashHandler::OnMinidumpCallback(void* handler,
                                 _MINIDUMP_CALLBACK_INPUT* input,
                                 _MINIDUMP_CALLBACK_OUTPUT* output) {
  auto* self = static_cast<CrashHandler*>(handler);
  switch (input->CallbackType) {
    case ModuleCallback:
    case ThreadCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
      return TRUE;
    case MemoryCallback:
      while (self->next_app_memory_ < self->app_memory_.size()) {
        const MemoryRange& range = self->app_memory_[self->next_app_memory_++];
        if (range.size == 0)
          continue;
        output->MemoryBase = range.base;
        output->MemorySize = range.size;
        return TRUE;
      }
      return FALSE;
    case CancelCallback:
      output->Cancel = FALSE;
      output->CheckCancel = FALSE;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace installer

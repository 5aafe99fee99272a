#include "base/message_loop/message_pump_io.h"

#include <windows.h>

#include "base/logging.h"

namespace base {

namespace {

constexpr int32_t kWakeUpPacketPostFailed = 1;

MessagePumpForIO::CreatePortFunction g_create_port_function = &CreateIoCompletionPort;

}  // namespace

MessagePumpForIO::MessagePumpForIO() {
  DWORD last_error = GetLastError();
  // One concurrent thread: only the loop's thread takes completions.
  port_.Set(g_create_port_function(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  // Without a port every wait fails at once and the loop would spin.
  CHECK(port_.IsValid()) << "CreateIoCompletionPort failed: "
                         << GetLastError();
  SetLastError(last_error);
}

MessagePumpForIO::~MessagePumpForIO() = default;

// static
void MessagePumpForIO::SetCreatePortFunctionForTesting(
    CreatePortFunction function) {
  g_create_port_function = function ? function : &CreateIoCompletionPort;
}

void MessagePumpForIO::WakeUp() {
  if (have_work_.exchange(1) == 1)
    return;
  if (PostQueuedCompletionStatus(port_.Get(), 0,
                                 reinterpret_cast<ULONG_PTR>(this),
                                 reinterpret_cast<OVERLAPPED*>(this))) {
    return;
  }
  have_work_.store(0);
  RecordWakeUpFailure(kWakeUpPacketPostFailed);
}

void MessagePumpForIO::SetWakeUpTime(TickTime wake_up_time) {
  // The next wait times out by itself.
  wake_up_time_ = wake_up_time;
}

bool MessagePumpForIO::RegisterIOHandler(HANDLE file, IOHandler* handler) {
  HANDLE port = CreateIoCompletionPort(
      file, port_.Get(), reinterpret_cast<ULONG_PTR>(handler), 1);
  if (port != port_.Get()) {
    PLOG(ERROR) << "CreateIoCompletionPort failed";
    return false;
  }
  return true;
}

void MessagePumpForIO::PumpLoop() {
  RunState* state = state_;
  for (;;) {
    bool more_work = state->delegate->RunReadyTasks();
    if (state->should_quit)
      break;
    more_work |= WaitForIOCompletion(0, nullptr);
    if (state->should_quit)
      break;
    more_work |= state->delegate->RunDueDelayedTask(&wake_up_time_);
    if (state->should_quit)
      break;
    if (more_work)
      continue;
    more_work = state->delegate->OnIdle();
    if (state->should_quit)
      break;
    if (more_work)
      continue;
    int32_t delay = GetCurrentDelay();
    WaitForIOCompletion(delay < 0 ? INFINITE : static_cast<DWORD>(delay),
                        nullptr);
  }
}

bool MessagePumpForIO::WaitForIOCompletion(DWORD timeout_ms,
                                           IOHandler* filter) {
  IoItem item;
  if (!TakeSavedItem(filter, &item)) {
    if (!GetIoItem(timeout_ms, &item))
      return false;
    if (IsOwnWakeUp(item)) {
      have_work_.store(0);
      return true;
    }
    if (filter && item.handler != filter) {
      // Delivered, in arrival order, by a later wait.
      saved_completions_.push_back(item);
      return true;
    }
  }
  item.handler->OnIOCompleted(item.context, item.bytes_transferred,
                              item.error);
  return true;
}

bool MessagePumpForIO::TakeSavedItem(IOHandler* filter, IoItem* item) {
  for (auto it = saved_completions_.begin(); it != saved_completions_.end();
       ++it) {
    if (!filter || it->handler == filter) {
      *item = *it;
      saved_completions_.erase(it);
      return true;
    }
  }
  return false;
}

bool MessagePumpForIO::GetIoItem(DWORD timeout_ms, IoItem* item) {
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  DWORD error = 0;
  if (!GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &overlapped,
                                 timeout_ms)) {
    // Without an overlapped nothing arrived (a time-out).
    if (!overlapped)
      return false;
    // A failed operation: delivered with its error.
    error = GetLastError();
    bytes = 0;
  }
  item->handler = reinterpret_cast<IOHandler*>(key);
  item->context = reinterpret_cast<IoContext*>(overlapped);
  item->bytes_transferred = bytes;
  item->error = error;
  return true;
}

bool MessagePumpForIO::IsOwnWakeUp(const IoItem& item) const {
  const void* self = this;
  return static_cast<const void*>(item.handler) == self &&
         static_cast<const void*>(item.context) == self;
}

}  // namespace base

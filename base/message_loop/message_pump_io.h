#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_

#include <windows.h>

#include <deque>

#include "base/message_loop/message_pump_win.h"
#include "base/win/scoped_handle.h"

namespace base {

// The pump of a thread that completes overlapped I/O: waits on an I/O
// completion port that also carries the pump's own wake-up packets.
class MessagePumpForIO : public MessagePumpWin {
 public:
  // The OVERLAPPED of one I/O operation; the completion hands it back.
  struct IoContext {
    OVERLAPPED overlapped = {};
  };

  // Receives the completions of the handles registered for it.
  class IOHandler {
   public:
    // A failed operation arrives with its error code and zero bytes.
    virtual void OnIOCompleted(IoContext* context, DWORD bytes_transferred,
                               DWORD error) = 0;

   protected:
    virtual ~IOHandler() = default;
  };

  // A port that cannot be made is a fatal trap: a pump without one could
  // only spin.
  MessagePumpForIO();
  ~MessagePumpForIO() override;

  void WakeUp() override;
  void SetWakeUpTime(TickTime wake_up_time) override;

  // Stands in for the port's creation; null restores CreateIoCompletionPort.
  using CreatePortFunction = HANDLE(WINAPI*)(HANDLE file, HANDLE port,
                                             ULONG_PTR key, DWORD threads);
  static void SetCreatePortFunctionForTesting(CreatePortFunction function);

  // Delivers the completions of `file` to `handler`.
  bool RegisterIOHandler(HANDLE file, IOHandler* handler);
  // Waits up to `timeout_ms` for one completion and delivers it; with a
  // `filter`, only a completion for that handler is delivered and the
  // others are kept, in order, for later waits. True when something arrived.
  bool WaitForIOCompletion(DWORD timeout_ms, IOHandler* filter);

 private:
  struct IoItem {
    IOHandler* handler;
    IoContext* context;
    DWORD bytes_transferred;
    DWORD error;
  };

  void PumpLoop() override;
  bool TakeSavedItem(IOHandler* filter, IoItem* item);
  bool GetIoItem(DWORD timeout_ms, IoItem* item);
  bool IsOwnWakeUp(const IoItem& item) const;

  win::ScopedHandle port_;
  std::deque<IoItem> saved_completions_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_IO_H_

#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "base/message_loop/message_pump.h"
#include "base/time/tick_time.h"
#include "base/time/time.h"

namespace base {

class MessagePumpDispatcher;

// What the user-interface and I/O pumps share: nested runs, each with its own
// run state, and at most one wake-up in flight.
class MessagePumpWin : public MessagePump {
 public:
  ~MessagePumpWin() override;

  void Run(Delegate* delegate) override;
  void Quit() override;

  // Runs with `dispatcher` seeing the Windows messages (null: none).
  void RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  // Milliseconds until the wake-up time, rounded up, clamped to
  // [0, INT32_MAX]; -1 when there is none.
  static int32_t GetDelayUntil(TickTime wake_up_time, TickTime now);

 protected:
  struct RunState {
    Delegate* delegate;
    MessagePumpDispatcher* dispatcher;
    bool should_quit;
    int32_t run_depth;
    int32_t wake_up_failure_count;
    Time last_wake_up_failure_time;
  };

  // Made on the loop's thread.
  MessagePumpWin();

  virtual void PumpLoop() = 0;
  int32_t GetCurrentDelay() const;
  // Counts a wake-up that could not be posted, in the histogram (`sample`)
  // and in the active run.
  void RecordWakeUpFailure(int32_t sample);

  TickTime wake_up_time_;
  // 1 while a wake-up message or packet is in flight.
  std::atomic<int32_t> have_work_{0};
  RunState* state_ = nullptr;

 private:
  // Wake-ups come from any thread, but only the loop's own thread may touch
  // the run states on its stack.
  const uint32_t owner_thread_id_;
};

// Adds `sample` to "Lustra.MessageLoopProblem".
void RecordMessageLoopProblem(int32_t sample);

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

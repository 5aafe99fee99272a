#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

#include "base/message_loop/message_pump.h"
#include "base/time/tick_time.h"
#include "base/win/scoped_handle.h"

namespace base {

// The pump of a thread that only runs tasks: sleeps on an event.
class MessagePumpDefault : public MessagePump {
 public:
  // An event that cannot be made is a fatal trap.
  MessagePumpDefault();
  ~MessagePumpDefault() override;

  void Run(Delegate* delegate) override;
  void Quit() override;
  void WakeUp() override;
  void SetWakeUpTime(TickTime wake_up_time) override;

 private:
  void WaitForWork();

  bool keep_running_ = true;
  win::ScopedHandle event_;
  TickTime wake_up_time_;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DEFAULT_H_

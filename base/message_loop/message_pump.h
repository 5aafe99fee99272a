#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

#include <cstdint>

#include "base/time/tick_time.h"

namespace base {

// The waiting half of a message loop: sleeps until there is work and then
// calls its delegate (the loop) to run it. Every operation but `WakeUp` runs
// on the loop's thread.
class MessagePump {
 public:
  // What the pump calls back; each returns whether it did work.
  class Delegate {
   public:
    virtual bool RunReadyTasks() = 0;
    // Stores in `next_wake_up` the run time of the next delayed task, or 0
    // when there is none.
    virtual bool RunDueDelayedTask(TickTime* next_wake_up) = 0;
    virtual bool OnIdle() = 0;

   protected:
    virtual ~Delegate() = default;
  };

  MessagePump() = default;
  MessagePump(const MessagePump&) = delete;
  MessagePump& operator=(const MessagePump&) = delete;
  virtual ~MessagePump() = default;

  // Runs until `Quit`; runs may nest.
  virtual void Run(Delegate* delegate) = 0;
  // Ends the innermost run at its next check.
  virtual void Quit() = 0;
  // Makes the running pump call its delegate soon. Any thread.
  virtual void WakeUp() = 0;
  // The run time of the earliest delayed task; a null time means none.
  virtual void SetWakeUpTime(TickTime wake_up_time) = 0;
  // An opaque per-thread setting that a thread hands to its pump; the pumps
  // here have no use for it.
  virtual void ApplySetting(int32_t setting) {}
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

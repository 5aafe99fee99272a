#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

#include <windows.h>

#include <cstdint>

namespace base {

// Sees every Windows message that a user-interface loop run takes out of the
// queue (given to that run's `LoopRunner`), e.g. to route dialog keys.
class MessagePumpDispatcher {
 public:
  enum Action : uint32_t {
    kQuitRun = 1,           // End this run after the message.
    kDefaultProcessing = 2  // TranslateMessage and DispatchMessageW.
  };

  // A combination of `Action` bits.
  virtual uint32_t Dispatch(const MSG& message) = 0;

 protected:
  virtual ~MessagePumpDispatcher() = default;
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_DISPATCHER_H_

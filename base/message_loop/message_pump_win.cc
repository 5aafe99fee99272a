#include "base/message_loop/message_pump_win.h"

#include <atomic>
#include <cstdint>
#include <limits>

#include "base/metrics/histogram.h"
#include "base/time/time_delta.h"

namespace base {

namespace {

constexpr char kProblemHistogramName[] = "Lustra.MessageLoopProblem";
constexpr int32_t kProblemHistogramMaximum = 4;
constexpr int32_t kProblemHistogramBuckets = 5;

}  // namespace

void RecordMessageLoopProblem(int32_t sample) {
  // Looked up once: the sites report from a pump's hot path.
  static std::atomic<HistogramBase*> histogram{nullptr};
  HistogramBase* cached = histogram.load(std::memory_order_acquire);
  if (!cached) {
    cached = GetLinearHistogram(kProblemHistogramName,
                                kProblemHistogramMaximum,
                                kProblemHistogramBuckets);
    histogram.store(cached, std::memory_order_release);
  }
  if (cached)
    cached->Add(sample);
}

MessagePumpWin::MessagePumpWin() : owner_thread_id_(GetCurrentThreadId()) {}

MessagePumpWin::~MessagePumpWin() = default;

void MessagePumpWin::Run(Delegate* delegate) {
  RunWithDispatcher(delegate, nullptr);
}

void MessagePumpWin::RunWithDispatcher(Delegate* delegate,
                                       MessagePumpDispatcher* dispatcher) {
  RunState state = {};
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;
  RunState* previous_state = state_;
  state_ = &state;
  PumpLoop();
  state_ = previous_state;
}

void MessagePumpWin::Quit() {
  if (state_)
    state_->should_quit = true;
}

// static
int32_t MessagePumpWin::GetDelayUntil(TickTime wake_up_time, TickTime now) {
  if (wake_up_time.is_null())
    return -1;
  TimeDelta remaining = wake_up_time - now;
  if (remaining.is_max())
    return -1;
  // Rounded up: a delay truncated to 0 would spin until the time is reached.
  int64_t milliseconds = remaining.InMillisecondsRoundedUp();
  if (milliseconds < 0)
    return 0;
  if (milliseconds > std::numeric_limits<int32_t>::max())
    return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(milliseconds);
}

int32_t MessagePumpWin::GetCurrentDelay() const {
  if (wake_up_time_.is_null())
    return -1;
  return GetDelayUntil(wake_up_time_, TickTime::Now());
}

void MessagePumpWin::RecordWakeUpFailure(int32_t sample) {
  RecordMessageLoopProblem(sample);
  if (state_ && GetCurrentThreadId() == owner_thread_id_) {
    ++state_->wake_up_failure_count;
    state_->last_wake_up_failure_time = Time::Now();
  }
}

}  // namespace base

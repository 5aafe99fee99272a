#include "base/metrics/millisecond_tick_clock.h"

#include <intrin.h>

#include <atomic>

#include "base/time/tick_time.h"
#include "base/time/tsc.h"

namespace base {

namespace {

// The first rate is taken over this span of the real clock, later ones over
// the span between two anchors.
constexpr int64_t kCalibrationUs = 100000;
constexpr int64_t kAnchorIntervalUs = 1000000;
// Microseconds per counter tick, in fixed point.
constexpr int kFractionBits = 32;

// One anchor (a counter reading and the real clock at that moment) and the
// rate, rewritten together under a sequence number that is odd meanwhile:
// readers never take a lock, and retry when the anchor moved under them.
struct Anchor {
  std::atomic<uint32_t> sequence{0};
  std::atomic<uint64_t> tsc{0};
  std::atomic<int64_t> microseconds{0};
  // 0 until calibrated.
  std::atomic<uint64_t> fixed_us_per_tick{0};
  // Counter ticks after which the anchor is renewed.
  std::atomic<uint64_t> renew_after_ticks{0};
};

constinit Anchor g_anchor;

int64_t RealNowUs() {
  return TickTime::Now().ToInternalValue();
}

// Reads the real clock, and renews the anchor unless another thread is at
// it. The first anchor waits `kCalibrationUs` for its rate.
int64_t RenewAnchor(uint32_t sequence) {
  const uint64_t tsc = __rdtsc();
  const int64_t now_us = RealNowUs();
  if (!g_anchor.sequence.compare_exchange_strong(sequence, sequence + 1,
                                                 std::memory_order_acquire)) {
    return now_us;
  }
  std::atomic_thread_fence(std::memory_order_release);
  const uint64_t anchor_tsc = g_anchor.tsc.load(std::memory_order_relaxed);
  const int64_t anchor_us =
      g_anchor.microseconds.load(std::memory_order_relaxed);
  const int64_t span_us = now_us - anchor_us;
  if (anchor_tsc == 0) {
    g_anchor.tsc.store(tsc, std::memory_order_relaxed);
    g_anchor.microseconds.store(now_us, std::memory_order_relaxed);
  } else if (span_us >= kCalibrationUs && tsc > anchor_tsc) {
    const uint64_t span_ticks = tsc - anchor_tsc;
    const uint64_t fixed_us_per_tick = static_cast<uint64_t>(
        (static_cast<unsigned __int128>(span_us) << kFractionBits) /
        span_ticks);
    const uint64_t renew_after_ticks = static_cast<uint64_t>(
        static_cast<unsigned __int128>(span_ticks) * kAnchorIntervalUs /
        static_cast<uint64_t>(span_us));
    g_anchor.fixed_us_per_tick.store(fixed_us_per_tick,
                                     std::memory_order_relaxed);
    g_anchor.renew_after_ticks.store(renew_after_ticks,
                                     std::memory_order_relaxed);
    g_anchor.tsc.store(tsc, std::memory_order_relaxed);
    g_anchor.microseconds.store(now_us, std::memory_order_relaxed);
  }
  g_anchor.sequence.store(sequence + 2, std::memory_order_release);
  return now_us;
}

int64_t NowUs() {
  for (;;) {
    const uint32_t sequence = g_anchor.sequence.load(std::memory_order_acquire);
    if (sequence & 1)
      return RealNowUs();
    const uint64_t anchor_tsc = g_anchor.tsc.load(std::memory_order_relaxed);
    const int64_t anchor_us =
        g_anchor.microseconds.load(std::memory_order_relaxed);
    const uint64_t fixed_us_per_tick =
        g_anchor.fixed_us_per_tick.load(std::memory_order_relaxed);
    const uint64_t renew_after_ticks =
        g_anchor.renew_after_ticks.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (g_anchor.sequence.load(std::memory_order_relaxed) != sequence)
      continue;
    if (fixed_us_per_tick == 0)
      return RenewAnchor(sequence);
    const uint64_t tsc = __rdtsc();
    // A counter a little behind the anchor (read before it was renewed)
    // counts as the anchor itself.
    const uint64_t ticks =
        static_cast<int64_t>(tsc - anchor_tsc) < 0 ? 0 : tsc - anchor_tsc;
    if (ticks >= renew_after_ticks)
      return RenewAnchor(sequence);
    return anchor_us +
           static_cast<int64_t>(
               (static_cast<unsigned __int128>(ticks) * fixed_us_per_tick) >>
               kFractionBits);
  }
}

}  // namespace

// static
int64_t MillisecondTickClock::NowMs() {
  if (!HasUsableInvariantTsc())
    return RealNowUs() / 1000;
  return NowUs() / 1000;
}

}  // namespace base

#ifndef BASE_DEBUG_STACK_TRACE_H_
#define BASE_DEBUG_STACK_TRACE_H_

#include <cstddef>

namespace base {

// The return addresses of a call stack, innermost first, as plain data so it
// can be kept inside other records (a handle's opening site) and read from a
// crash dump.
class StackTrace {
 public:
  // The system's back-trace capture takes at most this many frames.
  static constexpr size_t kMaxFrames = 62;

  // Fills `trace` with up to min(`count`, kMaxFrames) frames of the calling
  // thread, starting inside `Capture` itself; returns `trace`.
  static StackTrace* Capture(StackTrace* trace, size_t count);

  const void* const* frames() const { return frames_; }
  size_t count() const { return count_; }

 private:
  const void* frames_[kMaxFrames] = {};
  size_t count_ = 0;
};

}  // namespace base

#endif  // BASE_DEBUG_STACK_TRACE_H_

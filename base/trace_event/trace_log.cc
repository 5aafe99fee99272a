#include "base/trace_event/trace_log.h"

#include <windows.h>

namespace base {

namespace {

// No trace configuration exists yet: one shared, never-set byte serves every
// category group.
constinit const uint8_t g_disabled_category = 0;

}  // namespace

TraceLog* TraceLog::GetInstance() {
  // Stateless for now: constant-initialised, so first use from any thread is
  // safe.
  static constinit TraceLog instance;
  return &instance;
}

const uint8_t* TraceLog::GetCategoryEnabledFlag(const char*) {
  return &g_disabled_category;
}

TraceEventHandle TraceLog::AddEvent(char, const uint8_t*, const char*,
                                    uint64_t, uint64_t, uint32_t, int64_t,
                                    int, const char* const*, const uint8_t*,
                                    const uint64_t*, uint32_t) {
  return 0;
}

void TraceLog::CompleteEventDuration(const uint8_t*, const char*,
                                     TraceEventHandle) {}

int32_t TraceLog::process_id() const {
  return static_cast<int32_t>(GetCurrentProcessId());
}

uint64_t TraceLog::process_id_hash() const {
  constexpr uint64_t kOffsetBasis = 14695981039346656037ull;
  constexpr uint64_t kPrime = 1099511628211ull;
  return (kOffsetBasis ^ static_cast<uint64_t>(process_id())) * kPrime;
}

}  // namespace base

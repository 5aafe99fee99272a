#ifndef BASE_TIME_TSC_H_
#define BASE_TIME_TSC_H_

#include <cstdint>
#include <string>

namespace base {

// Whether a processor's time-stamp counter can time intervals: it must be
// invariant, and the family-15 parts of "AuthenticAMD" are excluded. Family
// 15 means the base family 15 with no extended family: later parts report
// base family 15 too and carry their real family in the extended field.
bool IsUsableInvariantTsc(const std::string& vendor, int32_t family,
                          int32_t ext_family, bool has_invariant_tsc);

// IsUsableInvariantTsc for this processor, computed once.
bool HasUsableInvariantTsc();

// Time-stamp counter ticks per second, measured against the performance
// counter since the first call. 0.0 until at least 50 ms have passed; once
// non-zero the figure is fixed for the process.
double MeasureTscTicksPerSecond();

}  // namespace base

#endif  // BASE_TIME_TSC_H_

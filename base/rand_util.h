#ifndef BASE_RAND_UTIL_H_
#define BASE_RAND_UTIL_H_

#include <cstdint>
#include <string>

namespace base {

// Random values from the operating system's generator. A failed draw ends
// the process: nothing random must ever silently become predictable.

// Uniform in [min, max]; `min` must not exceed `max`.
int32_t RandomIntInRange(int32_t min, int32_t max);

// A random version-4 GUID (RFC 4122 variant) as 36 lower-case characters,
// "xxxxxxxx-xxxx-4xxx-Vxxx-xxxxxxxxxxxx" with V one of 8, 9, a, b.
std::string GenerateGuidText();

}  // namespace base

#endif  // BASE_RAND_UTIL_H_

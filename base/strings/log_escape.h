#ifndef BASE_STRINGS_LOG_ESCAPE_H_
#define BASE_STRINGS_LOG_ESCAPE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace base {

// How much of a piece of outside data a log line shows.
inline constexpr size_t kLogEscapeLimit = 256;

// `data` as one log line may carry it: at most `limit` bytes of it, every
// byte outside printable ASCII written as \xNN, and, when it was cut, the
// full length. Data that came from outside (a payload, a server's answer,
// the command line) goes through this before it reaches a log, so that it
// can neither flood the log nor forge or break its lines.
std::string EscapeForLog(std::string_view data,
                         size_t limit = kLogEscapeLimit);

}  // namespace base

#endif  // BASE_STRINGS_LOG_ESCAPE_H_

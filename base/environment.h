#ifndef BASE_ENVIRONMENT_H_
#define BASE_ENVIRONMENT_H_

#include <memory>
#include <string>

#include "base/strings/string_slice.h"

namespace base {

// The process's environment variables. Names and values are UTF-8.
class Environment {
 public:
  virtual ~Environment();

  // True when `name` is set; its value goes to `value` when given. A name
  // that starts with an ASCII letter and is not set is tried once more with
  // the whole name in the other case (upper case for a lower-case first
  // letter, and the reverse).
  virtual bool GetVar(StringSlice name, std::string* value) = 0;
  virtual bool HasVar(StringSlice name) = 0;
  virtual bool SetVar(StringSlice name, StringSlice value) = 0;
  virtual bool UnSetVar(StringSlice name) = 0;
};

std::unique_ptr<Environment> CreateEnvironment();

}  // namespace base

#endif  // BASE_ENVIRONMENT_H_

#ifndef BASE_JSON_JSON_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_VALUE_SERIALIZER_H_

#include <cstdint>
#include <string>

#include "base/values.h"

namespace base {

// Writes a value tree somewhere as JSON.
class JsonSerializer {
 public:
  virtual ~JsonSerializer() = default;
  virtual bool Serialize(const Value& root) = 0;
};

// Reads a value tree from JSON held somewhere. On failure returns null and
// reports the code and the message through the optional out-parameters.
class JsonDeserializer {
 public:
  virtual ~JsonDeserializer() = default;
  virtual ValueOwner Deserialize(int32_t* error_code,
                                 std::string* error_message) = 0;
};

}  // namespace base

#endif  // BASE_JSON_JSON_VALUE_SERIALIZER_H_

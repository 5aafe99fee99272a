#ifndef BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_
#define BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include <cstdint>
#include <string>

#include "base/json/json_value_serializer.h"
#include "base/strings/string_slice.h"
#include "base/values.h"

namespace base {

// Writes into a caller's string, which must outlive the serializer.
class JsonStringSerializer : public JsonSerializer {
 public:
  JsonStringSerializer(std::string* target, bool pretty_print);
  ~JsonStringSerializer() override;

  // False without a target string.
  bool Serialize(const Value& root) override;

 private:
  std::string* const target_;
  const bool pretty_print_;
};

// Reads a caller's text, which must outlive the deserializer.
class JsonStringDeserializer : public JsonDeserializer {
 public:
  JsonStringDeserializer(StringSlice json, int32_t options);
  ~JsonStringDeserializer() override;

  ValueOwner Deserialize(int32_t* error_code,
                         std::string* error_message) override;

 private:
  const StringSlice json_;
  const int32_t options_;
};

}  // namespace base

#endif  // BASE_JSON_JSON_STRING_VALUE_SERIALIZER_H_

#include "base/json/json_string_value_serializer.h"

#include "base/json/json_reader.h"
#include "base/json/json_writer.h"

namespace base {

JsonStringSerializer::JsonStringSerializer(std::string* target,
                                           bool pretty_print)
    : target_(target), pretty_print_(pretty_print) {}

JsonStringSerializer::~JsonStringSerializer() = default;

bool JsonStringSerializer::Serialize(const Value& root) {
  if (!target_)
    return false;
  return WriteJsonWithOptions(root, pretty_print_ ? kJsonWritePrettyPrint : 0,
                              target_);
}

JsonStringDeserializer::JsonStringDeserializer(StringSlice json,
                                               int32_t options)
    : json_(json), options_(options) {}

JsonStringDeserializer::~JsonStringDeserializer() = default;

ValueOwner JsonStringDeserializer::Deserialize(int32_t* error_code,
                                               std::string* error_message) {
  return ReadJsonAndReturnError(json_, options_, error_code, error_message);
}

}  // namespace base

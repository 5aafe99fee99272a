#include "base/json/json_writer.h"

#include <cmath>
#include <cstring>

#include "base/json/string_escape.h"
#include "base/strings/double_conversion.h"
#include "base/strings/string_number_conversions.h"

namespace base {

namespace {

constexpr char kPrettyLineEnd[] = "\r\n";
constexpr size_t kIndentWidth = 3;
constexpr size_t kInitialReserve = 1024;

// Appends the text of the tree to an output string. Recursion follows the
// tree, whose depth the reader already bounds.
class JsonTreeWriter {
 public:
  JsonTreeWriter(int32_t options, std::string* json)
      : omit_binary_(options & kJsonWriteOmitBinaryValues),
        omit_double_type_(options & kJsonWriteOmitDoubleTypePreservation),
        pretty_(options & kJsonWritePrettyPrint),
        json_(json) {}

  bool Write(const Value& value, size_t depth);

 private:
  void WriteDouble(double value);
  bool WriteList(const ListValue& list, size_t depth);
  bool WriteDictionary(const DictionaryValue& dictionary, size_t depth);
  void Indent(size_t depth) { json_->append(kIndentWidth * depth, ' '); }

  const bool omit_binary_;
  const bool omit_double_type_;
  const bool pretty_;
  std::string* const json_;
};

bool JsonTreeWriter::Write(const Value& value, size_t depth) {
  switch (value.type()) {
    case Value::Type::kNone:
      json_->append("null");
      return true;
    case Value::Type::kBoolean: {
      bool flag = false;
      value.GetAsBoolean(&flag);
      json_->append(flag ? "true" : "false");
      return true;
    }
    case Value::Type::kInteger: {
      int32_t integer = 0;
      value.GetAsInteger(&integer);
      json_->append(IntToString(integer));
      return true;
    }
    case Value::Type::kDouble: {
      double number = 0;
      value.GetAsDouble(&number);
      WriteDouble(number);
      return true;
    }
    case Value::Type::kString: {
      StringSlice text;
      value.GetAsStringSlice(&text);
      EscapeJsonString(text, json_);
      return true;
    }
    case Value::Type::kBinary:
      return omit_binary_;
    case Value::Type::kDictionary: {
      const DictionaryValue* dictionary = nullptr;
      value.GetAsDictionary(&dictionary);
      return WriteDictionary(*dictionary, depth);
    }
    case Value::Type::kList: {
      const ListValue* list = nullptr;
      value.GetAsList(&list);
      return WriteList(*list, depth);
    }
  }
  return false;
}

void JsonTreeWriter::WriteDouble(double value) {
  // 2^63: the first double past the signed 64-bit range.
  constexpr double kInt64Bound = 9223372036854775808.0;
  if (omit_double_type_ && value == std::floor(value) &&
      value >= -kInt64Bound && value < kInt64Bound) {
    json_->append(Int64ToString(static_cast<int64_t>(value)));
    return;
  }
  char buffer[kFormatDoubleShortestBufferSize];
  const char* text = FormatDoubleShortest(buffer, value);
  // The shortest form may be ".5" or "-.5" or lack a point ("1", "-0"), none
  // of which reads back as a JSON double.
  const bool negative = text[0] == '-';
  if (text[negative] == '.') {
    if (negative)
      json_->push_back('-');
    json_->push_back('0');
    text += negative;
  }
  json_->append(text);
  if (!std::strpbrk(text, ".eE"))
    json_->append(".0");
}

bool JsonTreeWriter::WriteList(const ListValue& list, size_t depth) {
  bool result = true;
  json_->push_back('[');
  if (pretty_)
    json_->push_back(' ');
  bool first = true;
  for (size_t i = 0; i < list.GetSize(); ++i) {
    const Value* child = nullptr;
    list.Get(i, &child);
    if (omit_binary_ && child->type() == Value::Type::kBinary)
      continue;
    if (!first)
      json_->append(pretty_ ? ", " : ",");
    first = false;
    result = Write(*child, depth) && result;
  }
  if (pretty_)
    json_->push_back(' ');
  json_->push_back(']');
  return result;
}

bool JsonTreeWriter::WriteDictionary(const DictionaryValue& dictionary,
                                     size_t depth) {
  bool result = true;
  json_->push_back('{');
  if (pretty_)
    json_->append(kPrettyLineEnd);
  bool first = true;
  for (DictionaryValue::Iterator it(dictionary); !it.IsAtEnd(); it.Advance()) {
    if (omit_binary_ && it.value().type() == Value::Type::kBinary)
      continue;
    if (!first) {
      json_->push_back(',');
      if (pretty_)
        json_->append(kPrettyLineEnd);
    }
    first = false;
    if (pretty_)
      Indent(depth + 1);
    EscapeJsonString(it.key(), json_);
    json_->push_back(':');
    if (pretty_)
      json_->push_back(' ');
    result = Write(it.value(), depth + 1) && result;
  }
  if (pretty_) {
    json_->append(kPrettyLineEnd);
    Indent(depth);
  }
  json_->push_back('}');
  return result;
}

}  // namespace

bool WriteJson(const Value& value, std::string* json) {
  return WriteJsonWithOptions(value, 0, json);
}

bool WriteJsonWithOptions(const Value& value,
                          int32_t options,
                          std::string* json) {
  json->clear();
  json->reserve(kInitialReserve);
  const bool result = JsonTreeWriter(options, json).Write(value, 0);
  if (options & kJsonWritePrettyPrint)
    json->append(kPrettyLineEnd);
  return result;
}

}  // namespace base

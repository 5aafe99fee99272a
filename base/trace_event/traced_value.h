#ifndef BASE_TRACE_EVENT_TRACED_VALUE_H_
#define BASE_TRACE_EVENT_TRACED_VALUE_H_

#include <string>

#include "base/binary_writer.h"
#include "base/strings/string_slice.h"
#include "base/trace_event/convertable_to_trace_format.h"
#include "base/values.h"

namespace base {

// An append-only builder of nested dictionaries and arrays, kept as a
// compact record stream and turned into JSON only when a trace or memory
// dump is written out. The outermost level is a dictionary. Inside a
// dictionary every item has a name: a static string kept by address, or a
// copy (the *WithCopiedName forms); inside an array items have none. Begin
// and End calls must pair up; one thread at a time.
class TracedValue : public ConvertableToTraceFormat {
 public:
  TracedValue();
  ~TracedValue() override;

  void SetInteger(const char* name, int value);
  void SetDouble(const char* name, double value);
  void SetBoolean(const char* name, bool value);
  void SetString(const char* name, StringSlice value);
  void BeginDictionary(const char* name);
  void BeginArray(const char* name);

  void SetIntegerWithCopiedName(StringSlice name, int value);
  void SetDoubleWithCopiedName(StringSlice name, double value);
  void SetBooleanWithCopiedName(StringSlice name, bool value);
  void SetStringWithCopiedName(StringSlice name, StringSlice value);
  void BeginDictionaryWithCopiedName(StringSlice name);
  void BeginArrayWithCopiedName(StringSlice name);

  void AppendInteger(int value);
  void AppendDouble(double value);
  void AppendBoolean(bool value);
  void AppendString(StringSlice value);
  void BeginDictionary();
  void BeginArray();

  void EndDictionary();
  void EndArray();

  // The stream as a value tree.
  DictionaryValueOwner ToValue() const;

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  void WriteTag(char tag);
  void WriteStaticName(const char* name);
  void WriteCopiedName(StringSlice name);
  void WriteInteger(int value);
  void WriteDouble(double value);
  void WriteBoolean(bool value);

  BinaryWriter stream_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACED_VALUE_H_

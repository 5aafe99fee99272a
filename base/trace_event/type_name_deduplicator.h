#ifndef BASE_TRACE_EVENT_TYPE_NAME_DEDUPLICATOR_H_
#define BASE_TRACE_EVENT_TYPE_NAME_DEDUPLICATOR_H_

#include <map>
#include <string>

#include "base/trace_event/convertable_to_trace_format.h"

namespace base {

// Gives each type name of a heap profile a small id and writes the table as
// a JSON object from id to name. Names are static strings, told apart by
// address; id 0 is the unknown type.
class TypeNameDeduplicator : public ConvertableToTraceFormat {
 public:
  TypeNameDeduplicator();
  ~TypeNameDeduplicator() override;

  // The name's id, given on first sight.
  int Insert(const char* type_name);

  // {"0":"[unknown]","<id>":"<name>",...}, names cleaned: a source path is
  // cut to its folder without leading "../", and a category group to its
  // first category without "disabled-by-default-".
  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  std::map<const char*, int> type_ids_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TYPE_NAME_DEDUPLICATOR_H_

#include "base/trace_event/type_name_deduplicator.h"

#include "base/json/string_escape.h"
#include "base/strings/string_format.h"
#include "base/strings/string_slice.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base {

namespace {

constexpr char kDisabledByDefaultPrefix[] = "disabled-by-default-";
constexpr size_t kMapEntryBytes = 48;
constexpr size_t kMapBytes = 24;

// "../../base/a/b.cc" is reported as "base/a"; "cat,other" as "cat".
std::string CleanTypeName(StringSlice name) {
  const size_t separator = name.FindLastOf("\\/");
  if (separator != StringSlice::npos) {
    StringSlice folder = name.Substr(0, separator);
    while (folder.length() >= 2 && folder[0] == '.' && folder[1] == '.')
      folder = folder.Substr(folder.length() < 3 ? folder.length() : 3);
    return folder.AsString();
  }
  for (size_t i = 0; i < name.length(); ++i) {
    if (name[i] == ',') {
      name = name.Substr(0, i);
      break;
    }
  }
  const StringSlice prefix(kDisabledByDefaultPrefix);
  if (name.Substr(0, prefix.length()).Equals(prefix))
    name = name.Substr(prefix.length());
  return name.AsString();
}

}  // namespace

TypeNameDeduplicator::TypeNameDeduplicator() {
  type_ids_[nullptr] = 0;
}

TypeNameDeduplicator::~TypeNameDeduplicator() = default;

int TypeNameDeduplicator::Insert(const char* type_name) {
  const int next_id = static_cast<int>(type_ids_.size());
  return type_ids_.try_emplace(type_name, next_id).first->second;
}

void TypeNameDeduplicator::AppendAsTraceFormat(std::string* out) const {
  // The unknown type's name is a JSON string like every other.
  out->append("{\"0\":\"[unknown]\"");
  for (const auto& [name, id] : type_ids_) {
    if (!name)
      continue;
    AppendFormat(out, ",\"%d\":", id);
    EscapeJsonString(CleanTypeName(name), out);
  }
  out->append("}");
}

void TypeNameDeduplicator::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  const size_t bytes = kMapEntryBytes * type_ids_.size() + kMapBytes;
  overhead->Add(kOverheadTypeNameDeduplicator, 1, bytes, bytes);
}

}  // namespace base

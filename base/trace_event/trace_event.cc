#include "base/trace_event/trace_event.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "base/json/string_escape.h"
#include "base/strings/double_conversion.h"
#include "base/strings/string_format.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

constexpr char kStripped[] = "\"__stripped__\"";

void AppendEscaped(const char* text, std::string* out) {
  EscapeJsonString(text, out);
}

// The shortest text that reads back as `value`, made a JSON number that
// still reads as a double: "3" becomes "3.0", ".5" "0.5", "-.5" "-0.5".
void AppendDouble(double value, std::string* out) {
  if (std::isnan(value)) {
    out->append("\"NaN\"");
    return;
  }
  if (std::isinf(value)) {
    out->append(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
    return;
  }
  char buffer[kFormatDoubleShortestBufferSize];
  std::string text = FormatDoubleShortest(buffer, value);
  if (text.find_first_of(".eE") == std::string::npos)
    text += ".0";
  if (text[0] == '.')
    text.insert(0, "0");
  else if (text.compare(0, 2, "-.") == 0)
    text.insert(1, "0");
  out->append(text);
}

char InstantScope(uint32_t flags) {
  switch (flags & kTraceFlagScopeMask) {
    case 0:
      return 'g';
    case kTraceFlagScopeProcess:
      return 'p';
    case kTraceFlagScopeThread:
      return 't';
    default:
      return '?';
  }
}

size_t CopiedLength(const char* text) {
  return text ? strlen(text) + 1 : 0;
}

// Copies `*text` (with its NUL) to `*cursor` and points `*text` there.
void MoveInto(char** cursor, const char** text) {
  if (!*text)
    return;
  const size_t length = strlen(*text) + 1;
  std::memcpy(*cursor, *text, length);
  *text = *cursor;
  *cursor += length;
}

}  // namespace

void AppendValueAsJSON(uint8_t type, TraceValue value, std::string* out) {
  switch (type) {
    case kTraceValueTypeBool:
      out->append(value.as_bool ? "true" : "false");
      break;
    case kTraceValueTypeUint:
      AppendFormat(out, "%llu", static_cast<unsigned long long>(value.as_uint));
      break;
    case kTraceValueTypeInt:
      AppendFormat(out, "%lld", static_cast<long long>(value.as_int));
      break;
    case kTraceValueTypeDouble:
      AppendDouble(value.as_double, out);
      break;
    case kTraceValueTypePointer:
      AppendFormat(out, "\"0x%llx\"",
                   static_cast<unsigned long long>(
                       reinterpret_cast<uintptr_t>(value.as_pointer)));
      break;
    case kTraceValueTypeString:
    case kTraceValueTypeCopyString:
      AppendEscaped(value.as_string ? value.as_string : "NULL", out);
      break;
    default:
      break;
  }
}

TraceEvent::TraceEvent() = default;
TraceEvent::~TraceEvent() = default;

void TraceEvent::Initialize(
    int32_t thread_id, int64_t timestamp, int64_t thread_timestamp, char phase,
    const TraceCategory* category, const char* name, const char* scope,
    uint64_t id, uint64_t bind_id, int argument_count,
    const char* const* argument_names, const uint8_t* argument_types,
    const TraceValue* argument_values,
    std::unique_ptr<ConvertableToTraceFormat>* convertables, uint32_t flags) {
  timestamp_ = timestamp;
  thread_timestamp_ = thread_timestamp;
  duration_ = -1;
  thread_duration_ = 0;
  id_ = id;
  category_ = category;
  phase_ = phase;
  bind_id_ = bind_id;
  thread_id_ = thread_id;
  scope_ = scope;
  name_ = name;
  flags_ = flags;

  const int count = argument_count < 0               ? 0
                    : argument_count > kMaxArguments ? kMaxArguments
                                                     : argument_count;
  for (int i = 0; i < kMaxArguments; ++i) {
    if (i >= count) {
      argument_names_[i] = nullptr;
      argument_types_[i] = kTraceValueTypeUint;
      argument_values_[i].as_uint = 0;
      convertables_[i].reset();
      continue;
    }
    argument_names_[i] = argument_names[i];
    argument_types_[i] = argument_types[i];
    if (argument_types[i] == kTraceValueTypeConvertable) {
      argument_values_[i].as_uint = 0;
      convertables_[i] = convertables ? std::move(convertables[i]) : nullptr;
    } else {
      argument_values_[i] = argument_values[i];
      convertables_[i].reset();
    }
  }
  CopyStrings(count);
}

void TraceEvent::CopyStrings(int argument_count) {
  const bool copy = (flags_ & kTraceFlagCopy) != 0;
  size_t total = 0;
  if (copy) {
    total += CopiedLength(name_) + CopiedLength(scope_);
    for (int i = 0; i < argument_count; ++i) {
      total += CopiedLength(argument_names_[i]);
      if (argument_types_[i] == kTraceValueTypeString)
        argument_types_[i] = kTraceValueTypeCopyString;
    }
  }
  for (int i = 0; i < argument_count; ++i) {
    if (argument_types_[i] == kTraceValueTypeCopyString)
      total += CopiedLength(argument_values_[i].as_string);
  }
  if (total == 0) {
    copied_strings_.reset();
    return;
  }
  copied_strings_ = std::make_unique<std::string>(total, '\0');
  char* cursor = copied_strings_->data();
  if (copy) {
    MoveInto(&cursor, &name_);
    MoveInto(&cursor, &scope_);
    for (int i = 0; i < argument_count; ++i)
      MoveInto(&cursor, &argument_names_[i]);
  }
  for (int i = 0; i < argument_count; ++i) {
    if (argument_types_[i] == kTraceValueTypeCopyString)
      MoveInto(&cursor, &argument_values_[i].as_string);
  }
}

void TraceEvent::MoveFrom(TraceEvent& other) {
  timestamp_ = other.timestamp_;
  thread_timestamp_ = other.thread_timestamp_;
  duration_ = other.duration_;
  thread_duration_ = other.thread_duration_;
  scope_ = other.scope_;
  id_ = other.id_;
  category_ = other.category_;
  name_ = other.name_;
  thread_id_ = other.thread_id_;
  flags_ = other.flags_;
  bind_id_ = other.bind_id_;
  phase_ = other.phase_;
  for (int i = 0; i < kMaxArguments; ++i) {
    argument_values_[i] = other.argument_values_[i];
    argument_names_[i] = other.argument_names_[i];
    argument_types_[i] = other.argument_types_[i];
    convertables_[i] = std::move(other.convertables_[i]);
  }
  // The copies move as one block, so the pointers into it stay good.
  copied_strings_ = std::move(other.copied_strings_);
  other.Reset();
}

void TraceEvent::Reset() {
  // Everything, not only the owned parts: the names may point into the
  // copies that go here.
  timestamp_ = 0;
  thread_timestamp_ = 0;
  duration_ = -1;
  thread_duration_ = 0;
  scope_ = nullptr;
  id_ = 0;
  category_ = nullptr;
  name_ = nullptr;
  thread_id_ = 0;
  flags_ = 0;
  bind_id_ = 0;
  phase_ = kTracePhaseBegin;
  for (int i = 0; i < kMaxArguments; ++i) {
    argument_values_[i].as_uint = 0;
    argument_names_[i] = nullptr;
    argument_types_[i] = 0;
    convertables_[i].reset();
  }
  copied_strings_.reset();
}

void TraceEvent::UpdateDuration(int64_t duration, int64_t thread_duration) {
  duration_ = duration;
  thread_duration_ = thread_duration;
}

void TraceEvent::EstimateTraceMemoryOverhead(
    TraceEventMemoryOverhead* overhead) {
  overhead->Add(kOverheadTraceEvent, 1, sizeof(*this), sizeof(*this));
  if (copied_strings_)
    overhead->AddString(*copied_strings_);
  for (auto& convertable : convertables_) {
    if (convertable)
      convertable->EstimateTraceMemoryOverhead(overhead);
  }
}

const char* TraceEvent::category_group_name() const {
  return category_ ? category_->name : "";
}

void TraceEvent::AppendArgumentValue(int i, std::string* out) const {
  if (argument_types_[i] != kTraceValueTypeConvertable) {
    AppendValueAsJSON(argument_types_[i], argument_values_[i], out);
    return;
  }
  if (convertables_[i])
    convertables_[i]->AppendAsTraceFormat(out);
  else
    out->append("null");  // Keeps the text JSON.
}

void TraceEvent::AppendAsJSON(std::string* out,
                              const ArgumentFilter& argument_filter) const {
  int32_t pid = TraceLog::GetInstance()->process_id();
  int32_t tid = thread_id_;
  if ((flags_ & kTraceFlagHasProcessId) && thread_id_ != 0) {
    pid = thread_id_;
    tid = -1;
  }
  AppendFormat(
      out,
      "{\"pid\":%i,\"tid\":%i,\"ts\":%lld,\"ph\":\"%c\",\"cat\":\"%s\","
      "\"name\":",
      pid, tid, static_cast<long long>(timestamp_), phase_,
      category_group_name());
  AppendEscaped(name_ ? name_ : "", out);
  out->append(",\"args\":");

  ArgumentNameFilter name_filter;
  bool arguments_allowed = true;
  if (argument_filter && argument_names_[0]) {
    arguments_allowed =
        argument_filter(category_group_name(), name_, &name_filter);
  }
  if (!arguments_allowed) {
    out->append(kStripped);
  } else {
    out->append("{");
    for (int i = 0; i < kMaxArguments && argument_names_[i]; ++i) {
      if (i > 0)
        out->append(",");
      AppendFormat(out, "\"%s\":", argument_names_[i]);
      if (name_filter && !name_filter(argument_names_[i]))
        out->append(kStripped);
      else
        AppendArgumentValue(i, out);
    }
    out->append("}");
  }

  if (phase_ == kTracePhaseComplete) {
    if (duration_ != -1)
      AppendFormat(out, ",\"dur\":%lld", static_cast<long long>(duration_));
    if (thread_timestamp_ != 0 && thread_duration_ != -1) {
      AppendFormat(out, ",\"tdur\":%lld",
                   static_cast<long long>(thread_duration_));
    }
  }
  if (thread_timestamp_ != 0) {
    AppendFormat(out, ",\"tts\":%lld",
                 static_cast<long long>(thread_timestamp_));
  }
  if (flags_ & kTraceFlagAsyncTts)
    out->append(", \"use_async_tts\":1");

  const uint32_t id_flags =
      flags_ & (kTraceFlagHasId | kTraceFlagHasLocalId | kTraceFlagHasGlobalId);
  if (id_flags) {
    if (scope_)
      AppendFormat(out, ",\"scope\":\"%s\"", scope_);
    const auto id = static_cast<unsigned long long>(id_);
    // Two kinds of id at once say nothing clear: none is written.
    if (id_flags == kTraceFlagHasId)
      AppendFormat(out, ",\"id\":\"0x%llx\"", id);
    else if (id_flags == kTraceFlagHasLocalId)
      AppendFormat(out, ",\"id2\":{\"local\":\"0x%llx\"}", id);
    else if (id_flags == kTraceFlagHasGlobalId)
      AppendFormat(out, ",\"id2\":{\"global\":\"0x%llx\"}", id);
  }
  if (flags_ & kTraceFlagBindToEnclosing)
    out->append(",\"bp\":\"e\"");
  if (flags_ & (kTraceFlagFlowIn | kTraceFlagFlowOut)) {
    AppendFormat(out, ",\"bind_id\":\"0x%llx\"",
                 static_cast<unsigned long long>(bind_id_));
    if (flags_ & kTraceFlagFlowIn)
      out->append(",\"flow_in\":true");
    if (flags_ & kTraceFlagFlowOut)
      out->append(",\"flow_out\":true");
  }
  if (phase_ == kTracePhaseInstant)
    AppendFormat(out, ",\"s\":\"%c\"", InstantScope(flags_));
  out->append("}");
}

void TraceEvent::AppendPrettyPrinted(std::string* out) const {
  out->append(name_ ? name_ : "");
  out->append("[");
  out->append(category_group_name());
  out->append("]");
  if (!argument_names_[0])
    return;
  out->append(", {");
  for (int i = 0; i < kMaxArguments && argument_names_[i]; ++i) {
    if (i > 0)
      out->append(", ");
    out->append(argument_names_[i]);
    out->append(":");
    AppendArgumentValue(i, out);
  }
  out->append("}");
}

}  // namespace base

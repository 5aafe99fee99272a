// Writes the JSON of the trace side (events, traced values, deduplicators,
// memory-dump attributes) for a test to read back with another JSON reader.
// Reads one command per line on stdin and answers with lines on stdout:
//   events              "event <phase> <flags> <arguments> <tts> <dur> <json>"
//                       for every combination of the event flags
//   double <hex bits>   "double <hex bits> <json>": an event with the double
//                       as its one argument "v"
//   strings             "string <index> <json>": events with awkward names
//                       and string arguments
//   traced              "traced <case> <json>": traced values
//   deduplicators       "typenames <json>" and "frames <json>"
//   dump <name>         "dump <process id> <guid in hex> <attributes json>"
//   overhead            "overhead <dump name> <attributes json>" per entry

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/stack_frame_deduplicator.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/trace_log.h"
#include "base/trace_event/traced_value.h"
#include "base/trace_event/type_name_deduplicator.h"

namespace {

base::TraceCategory g_category = {0, 0, "cat1,cat2"};

// The flags that change what the JSON says.
constexpr uint32_t kEventFlags[] = {
    base::kTraceFlagCopy,
    base::kTraceFlagHasId,
    base::kTraceFlagMangleId,
    base::kTraceFlagScopeProcess,
    base::kTraceFlagScopeThread,
    base::kTraceFlagAsyncTts,
    base::kTraceFlagBindToEnclosing,
    base::kTraceFlagFlowIn,
    base::kTraceFlagFlowOut,
    base::kTraceFlagHasProcessId,
    base::kTraceFlagHasLocalId,
    base::kTraceFlagHasGlobalId,
};
constexpr char kEventPhases[] = {'B', 'X', 'I', 'E', 's'};

class CountingConvertable : public base::ConvertableToTraceFormat {
 public:
  void AppendAsTraceFormat(std::string* out) const override {
    out->append("{\"convertable\":[1,2]}");
  }
};

std::string EventJson(char phase, uint32_t flags, int argument_count,
                      int64_t thread_timestamp, bool completed,
                      int32_t thread_id) {
  const char* names[] = {"a1", "a2"};
  const uint8_t types[] = {base::kTraceValueTypeInt,
                           base::kTraceValueTypeString};
  base::TraceValue values[2];
  values[0].as_int = -5;
  values[1].as_string = "x\"y";
  base::TraceEvent event;
  event.Initialize(thread_id, 123456, thread_timestamp, phase, &g_category,
                   "ev\"nt\\<>", "sc", 0x1234abcdULL, 0xfeedULL, argument_count,
                   names, types, values, nullptr, flags);
  if (completed)
    event.UpdateDuration(42, 7);
  std::string json;
  event.AppendAsJSON(&json, {});
  return json;
}

void Events() {
  const size_t combinations = size_t{1} << std::size(kEventFlags);
  for (char phase : kEventPhases) {
    for (size_t combination = 0; combination < combinations; ++combination) {
      uint32_t flags = 0;
      for (size_t bit = 0; bit < std::size(kEventFlags); ++bit) {
        if (combination & (size_t{1} << bit))
          flags |= kEventFlags[bit];
      }
      const int argument_count = static_cast<int>(combination % 3);
      const int64_t thread_timestamp = (combination / 3) % 2 ? 789 : 0;
      const bool completed = (combination / 6) % 2 != 0;
      const int32_t thread_id = (combination / 12) % 2 ? 77 : 0;
      std::cout << "event " << phase << " " << flags << " " << argument_count
                << " " << thread_timestamp << " " << completed << " "
                << thread_id << " "
                << EventJson(phase, flags, argument_count, thread_timestamp,
                             completed, thread_id)
                << "\n";
    }
  }
}

void Double(const std::string& hex) {
  const uint64_t bits = std::stoull(hex, nullptr, 16);
  base::TraceValue value;
  std::memcpy(&value.as_double, &bits, sizeof(bits));
  const char* names[] = {"v"};
  const uint8_t types[] = {base::kTraceValueTypeDouble};
  base::TraceEvent event;
  event.Initialize(1, 1, 0, 'I', &g_category, "d", nullptr, 0, 0, 1, names,
                   types, &value, nullptr, 0);
  std::string json;
  event.AppendAsJSON(&json, {});
  std::cout << "double " << hex << " " << json << "\n";
}

void Strings() {
  const char* texts[] = {"plain",
                         "quote\" back\\ slash",
                         "ctrl\x01\x1f\t\n",
                         "\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80",
                         "bad\xff",
                         "cut\xc3"};
  int index = 0;
  for (const char* text : texts) {
    const char* names[] = {"s", "p"};
    const uint8_t types[] = {base::kTraceValueTypeString,
                             base::kTraceValueTypePointer};
    base::TraceValue values[2];
    values[0].as_string = text;
    values[1].as_pointer = reinterpret_cast<const void*>(0xabc0);
    base::TraceEvent event;
    event.Initialize(1, 1, 0, 'I', &g_category, text, nullptr, 0, 0, 2, names,
                     types, values, nullptr, 0);
    std::string json;
    event.AppendAsJSON(&json, {});
    std::cout << "string " << index++ << " " << json << "\n";
  }
  // A null string, a bool, an unsigned and a convertable.
  const char* names[] = {"n", "b"};
  const uint8_t types[] = {base::kTraceValueTypeCopyString,
                           base::kTraceValueTypeBool};
  base::TraceValue values[2];
  values[0].as_string = nullptr;
  values[1].as_bool = true;
  base::TraceEvent event;
  event.Initialize(1, 1, 0, 'I', &g_category, "null", nullptr, 0, 0, 2, names,
                   types, values, nullptr, 0);
  std::string json;
  event.AppendAsJSON(&json, {});
  std::cout << "string " << index++ << " " << json << "\n";

  const char* more_names[] = {"u", "c"};
  const uint8_t more_types[] = {base::kTraceValueTypeUint,
                                base::kTraceValueTypeConvertable};
  base::TraceValue more_values[2];
  more_values[0].as_uint = 18446744073709551615ull;
  std::unique_ptr<base::ConvertableToTraceFormat> convertables[2] = {
      nullptr, std::make_unique<CountingConvertable>()};
  base::TraceEvent convertable_event;
  convertable_event.Initialize(1, 1, 0, 'I', &g_category, "conv", nullptr, 0, 0,
                               2, more_names, more_types, more_values,
                               convertables, 0);
  json.clear();
  convertable_event.AppendAsJSON(&json, {});
  std::cout << "string " << index++ << " " << json << "\n";
}

void Traced() {
  base::TracedValue empty;
  std::string json;
  empty.AppendAsTraceFormat(&json);
  std::cout << "traced empty " << json << "\n";

  base::TracedValue nested;
  nested.SetInteger("a", 1);
  nested.BeginDictionary("b");
  nested.SetString("c", "x");
  nested.EndDictionary();
  json.clear();
  nested.AppendAsTraceFormat(&json);
  std::cout << "traced nested " << json << "\n";

  base::TracedValue all;
  all.SetInteger("int", -2147483647 - 1);
  all.SetDouble("double", 0.1);
  all.SetBoolean("true", true);
  all.SetBoolean("false", false);
  all.SetString("text", "t\"\\\xc3\xa9");
  const std::string copied = "copied \"name\"";
  all.SetIntegerWithCopiedName(copied, 7);
  all.SetDoubleWithCopiedName("copied double", -2.5e-300);
  all.SetBooleanWithCopiedName("copied bool", true);
  all.SetStringWithCopiedName("copied string", "");
  all.BeginArray("list");
  all.AppendInteger(3);
  all.AppendDouble(1e300);
  all.AppendBoolean(false);
  all.AppendString("item");
  all.BeginDictionary();
  all.SetInteger("in_list", 4);
  all.EndDictionary();
  all.BeginArray();
  all.EndArray();
  all.EndArray();
  all.BeginDictionaryWithCopiedName("copied dict");
  all.BeginArrayWithCopiedName("copied list");
  all.AppendInteger(5);
  all.EndArray();
  all.EndDictionary();
  json.clear();
  all.AppendAsTraceFormat(&json);
  std::cout << "traced all " << json << "\n";
}

void Deduplicators() {
  base::TypeNameDeduplicator type_names;
  static const char* const kTypeNames[] = {"../../base/a/b.cc",
                                           "disabled-by-default-cat,other",
                                           "plain",
                                           "ctrl\x01name",
                                           "..\\..\\win\\path\\file.h",
                                           "bad\xff",
                                           "quote\"type",
                                           "plain"};
  for (const char* name : kTypeNames)
    type_names.Insert(name);
  std::string json;
  type_names.AppendAsTraceFormat(&json);
  std::cout << "typenames " << json << "\n";

  base::TypeNameDeduplicator only_unknown;
  json.clear();
  only_unknown.AppendAsTraceFormat(&json);
  std::cout << "typenames_empty " << json << "\n";

  using Frame = base::StackFrameDeduplicator::StackFrame;
  base::StackFrameDeduplicator frames;
  const Frame first[] = {
      Frame::FromThreadName("Main"), Frame::FromTraceEventName("RunTask"),
      Frame::FromProgramCounter(reinterpret_cast<const void*>(0x7ff1234))};
  const Frame second[] = {Frame::FromThreadName("Main"),
                          Frame::FromTraceEventName("Other")};
  const Frame third[] = {Frame::FromTraceEventName("Root \"2\"")};
  frames.Insert(std::begin(first), std::end(first));
  frames.Insert(std::begin(second), std::end(second));
  frames.Insert(std::begin(third), std::end(third));
  json.clear();
  frames.AppendAsTraceFormat(&json);
  std::cout << "frames " << json << "\n";
}

void Dump(const std::string& name) {
  base::ProcessMemoryDump process_dump(base::kDumpLevelDetailed);
  base::MemoryAllocatorDump dump(name, &process_dump);
  dump.AddScalar("size", "bytes", 0x123456789abcdef0ull);
  dump.AddScalar("object_count", "objects", 0);
  std::string json;
  dump.attributes().AppendAsTraceFormat(&json);
  std::printf("dump %d %016llx %s\n",
              base::TraceLog::GetInstance()->process_id(),
              static_cast<unsigned long long>(dump.guid()), json.c_str());
}

void Overhead() {
  base::TraceEventMemoryOverhead overhead;
  overhead.Add(base::kOverheadTraceEvent, 3, 300, 200);
  overhead.Add(base::kOverheadTracedValue, 1, 68, 12);
  overhead.AddString(std::string(40, 'x'));
  base::ProcessMemoryDump process_dump(base::kDumpLevelDetailed);
  overhead.DumpInto("tracing/main_trace_log", &process_dump);
  for (const auto& dump : process_dump.allocator_dumps()) {
    std::string json;
    dump->attributes().AppendAsTraceFormat(&json);
    std::cout << "overhead " << dump->absolute_name() << " " << json << "\n";
  }
}

}  // namespace

int main() {
  // Bytes as they are: no CR before LF.
  _setmode(_fileno(stdout), _O_BINARY);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const std::string command = line.substr(0, line.find(' '));
    const std::string rest = line.find(' ') == std::string::npos
                                 ? ""
                                 : line.substr(line.find(' ') + 1);
    if (command == "events")
      Events();
    else if (command == "double")
      Double(rest);
    else if (command == "strings")
      Strings();
    else if (command == "traced")
      Traced();
    else if (command == "deduplicators")
      Deduplicators();
    else if (command == "dump")
      Dump(rest);
    else if (command == "overhead")
      Overhead();
    else
      std::cout << "unknown " << command << "\n";
  }
  std::cout.flush();
  return 0;
}

#include "base/trace_event/trace_event.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/trace_event/trace_category.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TraceCategory g_category = {0, 0, "cat"};

std::string Json(const TraceEvent& event,
                 const TraceEvent::ArgumentFilter& filter = {}) {
  std::string json;
  event.AppendAsJSON(&json, filter);
  return json;
}

// Names and values held in a buffer the caller overwrites after adding the
// event, as a caller with a temporary string would.
struct Scratch {
  char name[8] = "name";
  char scope[8] = "scope";
  char argument[8] = "arg";
  char value[8] = "value";
};

void InitializeFrom(TraceEvent& event, Scratch& scratch, uint8_t type,
                    uint32_t flags) {
  const char* names[] = {scratch.argument};
  const uint8_t types[] = {type};
  TraceValue values[1];
  values[0].as_string = scratch.value;
  event.Initialize(5, 10, 0, kTracePhaseInstant, &g_category, scratch.name,
                   scratch.scope, 0x7, 0, 1, names, types, values, nullptr,
                   flags | kTraceFlagHasId);
}

TEST(TraceEventTest, CopiesOutliveTheCallersStrings) {
  const struct {
    const char* what;
    uint8_t type;
    uint32_t flags;
    const char* json;
  } cases[] = {
      {"copy flag: everything", kTraceValueTypeString, kTraceFlagCopy,
       R"({"pid":%PID%,"tid":5,"ts":10,"ph":"I","cat":"cat","name":"name",)"
       R"("args":{"arg":"value"},"scope":"scope","id":"0x7","s":"g"})"},
      {"copied string: the value only", kTraceValueTypeCopyString, 0,
       R"({"pid":%PID%,"tid":5,"ts":10,"ph":"I","cat":"cat","name":"XXXX",)"
       R"("args":{"XXX":"value"},"scope":"XXXXX","id":"0x7","s":"g"})"},
  };
  for (const auto& c : cases) {
    Scratch scratch;
    TraceEvent event;
    InitializeFrom(event, scratch, c.type, c.flags);
    for (char* text :
         {scratch.name, scratch.scope, scratch.argument, scratch.value}) {
      memset(text, 'X', strlen(text));
    }
    // Moving into a chunk's slot keeps the copies good.
    TraceEvent slot;
    slot.MoveFrom(event);
    EXPECT_EQ(nullptr, event.name());
    std::string expected = c.json;
    expected.replace(expected.find("%PID%"), 5,
                     std::to_string(GetCurrentProcessId()));
    EXPECT_EQ(expected, Json(slot)) << c.what;
  }
}

TEST(TraceEventTest, ArgumentFilterStripsArguments) {
  const char* names[] = {"kept", "secret"};
  const uint8_t types[] = {kTraceValueTypeInt, kTraceValueTypeBool};
  TraceValue values[2];
  values[0].as_int = 1;
  values[1].as_bool = true;
  TraceEvent event;
  event.Initialize(1, 2, 0, kTracePhaseBegin, &g_category, "e", nullptr, 0, 0,
                   2, names, types, values, nullptr, 0);
  const std::string head = "{\"pid\":" + std::to_string(GetCurrentProcessId()) +
                           ",\"tid\":1,\"ts\":2,\"ph\":\"B\",\"cat\":\"cat\","
                           "\"name\":\"e\",\"args\":";

  EXPECT_EQ(head + "\"__stripped__\"}",
            Json(event, [](const char* category, const char* name,
                           TraceEvent::ArgumentNameFilter*) {
              EXPECT_STREQ("cat", category);
              EXPECT_STREQ("e", name);
              return false;
            }));
  EXPECT_EQ(head + "{\"kept\":1,\"secret\":\"__stripped__\"}}",
            Json(event, [](const char*, const char*,
                           TraceEvent::ArgumentNameFilter* name_filter) {
              *name_filter = [](const char* argument) {
                return strcmp(argument, "kept") == 0;
              };
              return true;
            }));
  EXPECT_EQ(head + "{\"kept\":1,\"secret\":true}}", Json(event));

  std::string pretty;
  event.AppendPrettyPrinted(&pretty);
  EXPECT_EQ("e[cat], {kept:1, secret:true}", pretty);
}

}  // namespace
}  // namespace base

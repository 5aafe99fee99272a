#include "base/trace_event/trace_event_etw_export.h"

#include <string>
#include <utility>
#include <vector>

#include "base/exit_callback_stack.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr ULONGLONG kKeyword = 0x8000000000000000ull;

// Wine's EventWrite does nothing: the payload is taken here instead.
std::vector<std::vector<std::string>> g_written;

ULONG WINAPI CaptureEventWrite(REGHANDLE, PCEVENT_DESCRIPTOR descriptor,
                               ULONG count, PEVENT_DATA_DESCRIPTOR data) {
  EXPECT_EQ(1, descriptor->Id);
  EXPECT_EQ(8, descriptor->Channel);
  EXPECT_EQ(4, descriptor->Level);
  EXPECT_EQ(kKeyword, descriptor->Keyword);
  std::vector<std::string> strings;
  for (ULONG i = 0; i < count; ++i) {
    const char* text = reinterpret_cast<const char*>(data[i].Ptr);
    // Each string is sent with its NUL.
    EXPECT_EQ(strlen(text) + 1, data[i].Size) << i;
    strings.push_back(text);
  }
  g_written.push_back(strings);
  return ERROR_SUCCESS;
}

// Wine never calls the enable callback: a session is played by calling it.
void Session(TraceEventEtwExport& etw, ULONG control_code, UCHAR level,
             ULONGLONG any, ULONGLONG all) {
  TraceEventEtwExport::EnableCallback(nullptr, control_code, level, any, all,
                                      nullptr, etw.provider_context());
}

TEST(TraceEventEtwExportTest, SessionLevelAndKeywordsEnableTheEvent) {
  struct Case {
    ULONG control_code;
    UCHAR level;
    ULONGLONG any;
    ULONGLONG all;
    bool enabled;
  };
  const Case cases[] = {
      {1, 0, kKeyword, 0, true},  // level 0: every level
      {1, 4, kKeyword, 0, true},
      {1, 5, kKeyword, 0, true},
      {1, 3, kKeyword, 0, false},  // the event's level 4 is above
      {1, 4, 0, 0, false},         // no keyword matches
      {1, 4, 1, 0, false},
      {1, 4, kKeyword | 1, kKeyword, true},
      {2, 3, 0, 0, true},                     // another code: as before
      {1, 4, kKeyword, kKeyword | 1, false},  // not all keywords
      {1, 4, kKeyword, 0, true},
      {0, 4, kKeyword, 0, false},  // disabled
      {2, 4, kKeyword, 0, false},
  };
  TraceEventEtwExport etw;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    Session(etw, c.control_code, c.level, c.any, c.all);
    EXPECT_EQ(c.enabled, etw.IsEventEnabled()) << i;
  }
  EXPECT_EQ(0, etw.provider_context()->level);
  EXPECT_EQ(0u, etw.provider_context()->match_any_keyword);
}

TEST(TraceEventEtwExportTest, PayloadIsEightStrings) {
  TraceEventEtwExport etw;
  etw.SetEventWriteForTesting(&CaptureEventWrite);
  g_written.clear();

  const char* names[] = {"queue_duration", "where", "object"};
  const uint8_t types[] = {kTraceValueTypeInt, kTraceValueTypeString,
                           kTraceValueTypeConvertable};
  TraceValue values[3];
  values[0].as_int = -5;
  values[1].as_string = "a \"b\"";
  values[2].as_uint = 0;

  // Nothing while export is off or no session enabled the event.
  etw.WriteEvent('X', "RunTask", 1, names, types, values);
  etw.SetExportEnabledForTesting(true);
  etw.WriteEvent('X', "RunTask", 1, names, types, values);
  EXPECT_TRUE(g_written.empty());

  Session(etw, 1, 4, kKeyword, 0);
  etw.WriteEvent('X', "RunTask", 1, names, types, values);
  etw.WriteEvent('B', nullptr, 3, names, types, values);
  etw.WriteEvent('?', "odd", 0, nullptr, nullptr, nullptr);
  etw.WriteCompleteEndEvent("RunTask");
  Session(etw, 0, 0, 0, 0);
  etw.WriteEvent('X', "after", 0, nullptr, nullptr, nullptr);

  using Strings = std::vector<std::string>;
  ASSERT_EQ(4u, g_written.size());
  EXPECT_EQ(
      (Strings{"RunTask", "Complete", "queue_duration", "-5", "", "", "", ""}),
      g_written[0]);
  EXPECT_EQ((Strings{"NULL", "Begin", "queue_duration", "-5", "where",
                     "\"a \\\"b\\\"\"", "object", ""}),
            g_written[1]);
  EXPECT_EQ((Strings{"odd", "?", "", "", "", "", "", ""}), g_written[2]);
  EXPECT_EQ((Strings{"RunTask", "Complete End", "", "", "", "", "", ""}),
            g_written[3]);
}

TEST(TraceEventEtwExportTest, CategoriesAndTheCatchAllNames) {
  TraceEventEtwExport etw;
  EXPECT_EQ(17u, etw.categories().size());
  for (const auto& [name, enabled] : etw.categories())
    EXPECT_FALSE(enabled) << name;
  EXPECT_EQ(1u, etw.categories().count("__OTHER_EVENTS"));
  EXPECT_EQ(1u, etw.categories().count("__DISABLED_OTHER_EVENTS"));
  EXPECT_EQ(1u, etw.categories().count("disabled-by-default-toplevel.flow"));

  etw.SetCategoryEnabledForTesting("gpu", true);
  EXPECT_FALSE(etw.IsGroupExported("gpu"));  // export is off
  etw.SetExportEnabledForTesting(true);
  const struct {
    const char* group;
    bool exported;
  } cases[] = {
      {"gpu", true},
      {"toplevel", false},
      {"toplevel,gpu", true},
      {"unknown", false},
      {"disabled-by-default-unknown", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.exported, etw.IsGroupExported(c.group)) << c.group;
  etw.SetCategoryEnabledForTesting("__OTHER_EVENTS", true);
  EXPECT_TRUE(etw.IsGroupExported("unknown"));
  EXPECT_FALSE(etw.IsGroupExported("disabled-by-default-unknown"));
  etw.SetCategoryEnabledForTesting("__DISABLED_OTHER_EVENTS", true);
  EXPECT_TRUE(etw.IsGroupExported("disabled-by-default-unknown"));
}

// Made once per process and gone for good after exit: the trace log's
// test program shows it in a process of its own (tests/e2e/test_trace_log.py).

}  // namespace
}  // namespace base

#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/test/scoped_log_capture.h"
#include "base/values.h"
#include "base/time/tick_time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

int64_t NowUs() {
  return TickTime::Now().ToInternalValue();
}

TraceEventHandle Add(char phase, const uint8_t* category, const char* name) {
  return TraceLog::GetInstance()->AddEvent(
      phase, category, name, nullptr, 0, 0,
      static_cast<int32_t>(GetCurrentThreadId()), NowUs(), 0, nullptr,
      nullptr, nullptr, nullptr, 0);
}

// Records on this thread, which has no message loop, so events go to the
// log's shared chunk; ends with the recording switched off and flushed.
class ScopedRecording {
 public:
  explicit ScopedRecording(uint32_t options) {
    TraceLog::GetInstance()->SetEnabledForTesting(
        TraceConfig(), TraceLog::kRecordingMode, options);
  }
  ~ScopedRecording() {
    TraceLog::GetInstance()->SetDisabledForTesting();
    TraceLog::GetInstance()->FlushForTesting();
  }
};

class DisabledCounter : public TraceLog::EnabledStateObserver {
 public:
  void OnTraceLogEnabled() override { ++enabled; }
  void OnTraceLogDisabled() override { ++disabled; }
  int enabled = 0;
  int disabled = 0;
};

TEST(TraceLogTest, ToplevelAnswersItsPresetRecord) {
  const size_t count = TraceLog::GetCategoriesForTesting().size();
  const uint8_t* toplevel = TraceLog::GetCategoryEnabledFlag("toplevel");
  EXPECT_EQ(&TraceLog::GetCategoriesForTesting()[3]->state, toplevel);
  EXPECT_STREQ("toplevel", TraceLog::GetCategoryGroupName(toplevel));
  EXPECT_EQ(count, TraceLog::GetCategoriesForTesting().size());
}

TEST(TraceLogTest, ConsoleEchoNestsBeginsAndTimesEnds) {
  const uint8_t* category = TraceLog::GetCategoryEnabledFlag("echo");
  struct Step {
    char phase;
    const char* name;
    // What the line holds after the colour code, and whether it ends with a
    // duration.
    const char* expected;
    bool timed;
  };
  const Step steps[] = {
      // An end without a begin has nothing to time (and pops nothing).
      {'E', "stray", "stray[echo]", false},
      {'B', "outer", "outer[echo]", false},
      {'B', "inner", "| inner[echo]", false},
      {'E', "inner", "| inner[echo]", true},
      // A complete event shows as a begin until it is completed.
      {'X', "whole", "| whole[echo]", false},
      {'C', "whole", "| whole[echo]", true},
      {'E', "outer", "outer[echo]", true},
  };
  ScopedRecording recording(TraceLog::kOptionEchoToConsole);
  ScopedLogCapture capture;
  TraceEventHandle complete = 0;
  for (const Step& step : steps) {
    if (step.phase == 'X')
      complete = Add(step.phase, category, step.name);
    else if (step.phase == 'C')
      TraceLog::GetInstance()->CompleteEventDuration(category, step.name,
                                                     complete);
    else
      Add(step.phase, category, step.name);
  }
  ASSERT_EQ(std::size(steps), capture.lines().size());
  for (size_t i = 0; i < std::size(steps); ++i) {
    const std::string& line = capture.lines()[i];
    // This thread has no name: the first colour goes to the empty name.
    const std::string start = std::string(": \033[0;31m") + steps[i].expected;
    EXPECT_EQ(0u, line.find(start)) << line;
    EXPECT_EQ(steps[i].timed, line.find(" ms)") != std::string::npos) << line;
    EXPECT_EQ(line.size() - 5, line.rfind("\033[0;m")) << line;
  }
}

TEST(TraceLogTest, FullBufferStopsRecordingAndNotesTheOverflow) {
  const uint8_t* category = TraceLog::GetCategoryEnabledFlag("fill");
  DisabledCounter observer;
  TraceLog::GetInstance()->AddEnabledStateObserver(&observer);
  std::string trace;
  {
    ScopedRecording recording(TraceLog::kOptionRecordUntilFull);
    EXPECT_EQ(1, observer.enabled);
    ASSERT_EQ(TraceLog::kCategoryRecording, *category);
    // 4000 chunks of 64 events; the 4000th chunk handed out fills it.
    int added = 0;
    while (*category && added < 4000 * 64 + 1) {
      EXPECT_NE(0u, Add('I', category, "event"));
      ++added;
    }
    EXPECT_EQ(3999 * 64 + 1, added);
    EXPECT_EQ(0, *category);
    EXPECT_EQ(1, observer.disabled);
    // A handle to nothing completes nothing.
    TraceLog::GetInstance()->CompleteEventDuration(category, "event", 0);
    trace = TraceLog::GetInstance()->FlushForTesting();
  }
  TraceLog::GetInstance()->RemoveEnabledStateObserver(&observer);
  EXPECT_EQ(1, observer.disabled);
  EXPECT_NE(std::string::npos, trace.find("\"name\":\"trace_buffer_overflowed\""));
  EXPECT_NE(std::string::npos, trace.find("\"name\":\"num_cpus\""));
}

// The filters are made once per process: this is the one test that filters.
TEST(TraceLogTest, WhitelistFilterKeepsOnlyItsNames) {
  EventFilterConfig filter(kEventWhitelistPredicate);
  filter.AddIncludedCategory("filtered*");
  DictionaryValueOwner args = MakeValue<DictionaryValue>();
  ListValueOwner names = MakeValue<ListValue>();
  names->AppendString("kept");
  args->SetByKey("event_name_whitelist", ValueOwner(names.release()));
  filter.SetArgs(std::move(args));
  TraceConfig config;
  config.AddEventFilter(filter);
  const uint8_t* filtered = TraceLog::GetCategoryEnabledFlag("filtered");
  const uint8_t* other = TraceLog::GetCategoryEnabledFlag("unfiltered");

  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabledForTesting(
      config, TraceLog::kRecordingMode | TraceLog::kFilteringMode,
      TraceLog::kOptionRecordUntilFull);
  EXPECT_EQ(TraceLog::kCategoryRecording | TraceLog::kCategoryFiltering,
            *filtered);
  for (const TraceCategory* category : TraceLog::GetCategoriesForTesting()) {
    // Filter 0 applies to "filtered" alone.
    EXPECT_EQ(&category->state == filtered ? 1u : 0u, category->filter_bitmap)
        << category->name;
  }
  EXPECT_EQ(TraceLog::kCategoryRecording, *other);
  EXPECT_NE(0u, Add('I', filtered, "kept"));
  EXPECT_EQ(0u, Add('I', filtered, "dropped"));
  EXPECT_NE(0u, Add('I', other, "dropped"));
  log->SetDisabledForTesting();
  EXPECT_EQ(0, *filtered);
  const std::string trace = log->FlushForTesting();
  EXPECT_NE(std::string::npos,
            trace.find("\"cat\":\"filtered\",\"name\":\"kept\""));
  EXPECT_EQ(std::string::npos,
            trace.find("\"cat\":\"filtered\",\"name\":\"dropped\""));
  EXPECT_NE(std::string::npos,
            trace.find("\"cat\":\"unfiltered\",\"name\":\"dropped\""));
}

}  // namespace
}  // namespace base

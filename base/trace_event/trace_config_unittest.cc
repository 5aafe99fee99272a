#include "base/trace_event/trace_config.h"

#include <string>
#include <thread>
#include <unordered_set>

#include "base/trace_event/event_filter_config.h"
#include "base/trace_event/event_name_filter.h"
#include "base/trace_event/heap_profiler_event_filter.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(TraceConfigTest, CategoryGroupRules) {
  struct Case {
    const char* included;
    const char* disabled;
    const char* excluded;
    const char* group;
    bool enabled;
  };
  const Case cases[] = {
      {"", "", "", "toplevel", true},
      {"", "", "", "disabled-by-default-toplevel.flow", false},
      {"", "", "", "disabled-by-default-x,toplevel", true},
      {"", "", "", "", false},
      {"", "", "a*", "ab", false},
      {"", "", "a*", "ab,c", true},
      {"", "", "a*", "ab,disabled-by-default-c", false},
      {"", "disabled-by-default-toplevel.flow", "",
       "disabled-by-default-toplevel.flow", true},
      {"", "disabled-by-default-*", "a*", "ab,disabled-by-default-c", true},
      {"to*", "", "", "toplevel", true},
      {"to*", "", "", "base", false},
      {"to*", "", "", "disabled-by-default-top", false},
      {"b?se", "", "", "x,base", true},
  };
  for (const Case& c : cases) {
    TraceConfig config;
    if (*c.included)
      config.AddIncludedCategory(c.included);
    if (*c.disabled)
      config.AddDisabledCategory(c.disabled);
    if (*c.excluded)
      config.AddExcludedCategory(c.excluded);
    EXPECT_EQ(c.enabled, config.IsCategoryGroupEnabled(c.group))
        << "group '" << c.group << "' included '" << c.included
        << "' disabled '" << c.disabled << "' excluded '" << c.excluded << "'";
  }
}

TEST(TraceConfigTest, ClearGoesBackToTheDefaults) {
  TraceConfig config;
  config.AddIncludedCategory("x");
  config.AddEventFilter(EventFilterConfig(kHeapProfilerPredicate));
  EXPECT_FALSE(config.IsCategoryGroupEnabled("toplevel"));
  config.Clear();
  EXPECT_TRUE(config.IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(config.event_filters().empty());
  EXPECT_EQ(1024u, config.heap_breakdown_threshold_bytes());
}

TEST(EventFilterConfigTest, FirstMatchingCategoryDecides) {
  EventFilterConfig filter(kEventWhitelistPredicate);
  filter.AddIncludedCategory("in*");
  filter.AddExcludedCategory("out*");
  const struct {
    const char* group;
    bool enabled;
  } cases[] = {
      {"inside", true},          {"outside", false}, {"x,inside,outside", true},
      {"outside,inside", false}, {"other", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.enabled, filter.IsCategoryGroupEnabled(c.group)) << c.group;
}

TEST(EventFilterConfigTest, ArgumentListAsSetAndTheNameFilter) {
  EventFilterConfig filter(kEventWhitelistPredicate);
  std::unordered_set<std::string> names;
  EXPECT_FALSE(filter.GetArgAsSet("event_name_whitelist", &names));

  DictionaryValueOwner args = MakeValue<DictionaryValue>();
  ListValueOwner list = MakeValue<ListValue>();
  list->AppendString("kept");
  list->AppendInteger(3);
  list->AppendString("also kept");
  args->SetByKey("event_name_whitelist", ValueOwner(list.release()));
  args->SetStringByKey("not_a_list", "x");
  filter.SetArgs(std::move(args));
  EventFilterConfig copy = filter;
  EXPECT_FALSE(copy.GetArgAsSet("not_a_list", &names));
  EXPECT_FALSE(copy.GetArgAsSet("absent", &names));
  ASSERT_TRUE(copy.GetArgAsSet("event_name_whitelist", &names));
  EXPECT_EQ((std::unordered_set<std::string>{"kept", "also kept"}), names);

  EventNameFilter name_filter(
      EventNameFilter::EventNamesWhitelist(names.begin(), names.end()));
  TraceCategory category = {0, 0, "cat"};
  TraceEvent kept;
  kept.Initialize(0, 0, 0, kTracePhaseInstant, &category, "kept", nullptr, 0, 0,
                  0, nullptr, nullptr, nullptr, nullptr, 0);
  TraceEvent dropped;
  dropped.Initialize(0, 0, 0, kTracePhaseInstant, &category, "dropped", nullptr,
                     0, 0, 0, nullptr, nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(name_filter.FilterTraceEvent(kept));
  EXPECT_FALSE(name_filter.FilterTraceEvent(dropped));
}

TEST(HeapProfilerEventFilterTest, FramesFollowBeginsAndEnds) {
  ThreadTraceContext::SetCaptureMode(ThreadTraceContext::kCapturePseudoStack);
  std::thread([] {
    HeapProfilerEventFilter filter;
    ThreadTraceContext* context = ThreadTraceContext::GetForCurrentThread();
    ASSERT_NE(nullptr, context);
    TraceCategory category = {0, 0, "cat"};
    auto event = [&](char phase, const char* name, uint32_t flags) {
      auto made = std::make_unique<TraceEvent>();
      made->Initialize(0, 0, 0, phase, &category, name, nullptr, 0, 0, 0,
                       nullptr, nullptr, nullptr, nullptr, flags);
      return made;
    };

    // An end with nothing on the stack changes nothing.
    EXPECT_TRUE(filter.FilterTraceEvent(*event(kTracePhaseEnd, "e", 0)));
    filter.EndEvent("cat", "x");
    EXPECT_TRUE(context->pseudo_stack().empty());

    const char kOuter[] = "outer";
    filter.FilterTraceEvent(*event(kTracePhaseComplete, kOuter, 0));
    // A copied event leaves no frame, and its end leaves the outer one.
    const char kCopied[] = "copied";
    filter.FilterTraceEvent(
        *event(kTracePhaseComplete, kCopied, kTraceFlagCopy));
    filter.EndEvent("cat", kCopied);
    ASSERT_EQ(1u, context->pseudo_stack().size());
    EXPECT_EQ(kOuter, context->pseudo_stack().back().name);
    EXPECT_STREQ("cat", context->pseudo_stack().back().category_group);

    // Fill to the limit; the begin that finds 128 frames leaves none, and
    // only its own end goes with it.
    for (size_t i = 1; i < ThreadTraceContext::kMaxStackDepth; ++i)
      filter.FilterTraceEvent(*event(kTracePhaseBegin, "b", 0));
    filter.FilterTraceEvent(*event(kTracePhaseBegin, "past", 0));
    EXPECT_EQ(128u, context->pseudo_stack().size());
    filter.FilterTraceEvent(*event(kTracePhaseEnd, "past", 0));
    EXPECT_EQ(128u, context->pseudo_stack().size());
    for (size_t i = 1; i < ThreadTraceContext::kMaxStackDepth; ++i)
      filter.FilterTraceEvent(*event(kTracePhaseEnd, "b", 0));
    ASSERT_EQ(1u, context->pseudo_stack().size());
    EXPECT_EQ(kOuter, context->pseudo_stack().back().name);
    filter.EndEvent("cat", kOuter);
    EXPECT_TRUE(context->pseudo_stack().empty());
  }).join();
}

}  // namespace
}  // namespace base

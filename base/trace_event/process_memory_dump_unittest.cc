#include "base/trace_event/process_memory_dump.h"

#include <memory>
#include <string>
#include <vector>

#include "base/trace_event/memory_allocator_dump.h"
#include "base/trace_event/memory_dump_name_whitelist.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::unique_ptr<MemoryAllocatorDump> Dump(const char* name,
                                          ProcessMemoryDump* process_dump) {
  return std::make_unique<MemoryAllocatorDump>(name, process_dump);
}

std::vector<std::string> DumpNames(const ProcessMemoryDump& process_dump) {
  std::vector<std::string> names;
  for (const auto& dump : process_dump.allocator_dumps())
    names.push_back(dump->absolute_name());
  return names;
}

TEST(ProcessMemoryDumpTest, OneDumpPerNameAndBackgroundKeepsOnlyListedNames) {
  ProcessMemoryDump detailed(kDumpLevelDetailed);
  MemoryAllocatorDump* first =
      detailed.AddAllocatorDump(Dump("a/b", &detailed));
  EXPECT_EQ(first, detailed.AddAllocatorDump(Dump("a/b", &detailed)));
  EXPECT_EQ(1u, detailed.allocator_dumps().size());

  ProcessMemoryDump background(kDumpLevelBackground);
  MemoryAllocatorDump* listed =
      background.AddAllocatorDump(Dump("malloc", &background));
  EXPECT_EQ("malloc", listed->absolute_name());
  MemoryAllocatorDump* unlisted =
      background.AddAllocatorDump(Dump("tracing/main_trace_log", &background));
  EXPECT_EQ(background.GetDiscardedDump(), unlisted);
  EXPECT_EQ("discarded", unlisted->absolute_name());
  unlisted->AddScalar("size", "bytes", 5);
  EXPECT_EQ((std::vector<std::string>{"malloc"}), DumpNames(background));
  EXPECT_EQ(nullptr, background.GetAllocatorDump("discarded"));
}

TEST(ProcessMemoryDumpTest, WhitelistReadsAddressesAsPlaceholders) {
  const struct {
    const char* name;
    bool listed;
  } cases[] = {
      {"winheap", true},
      {"winheap/other", false},
      {"discardable/child_0x1F2e", true},
      {"sync/0xdeadBEEF/model_type/APP", true},
      {"sync/0x/model_type/APP", true},
      {"discardable/child_0x", false},
      {"discardable/child_", false},
      {"tab_restore/service_helper_0x1/entries/tab_0xab", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.listed, IsMemoryAllocatorDumpNameWhitelisted(c.name)) << c.name;
}

// 17 types: one more than are kept in insertion order.
char g_types[17][4] = {"t0",  "t1",  "t2",  "t3",  "t4",  "t5",
                       "t6",  "t7",  "t8",  "t9",  "t10", "t11",
                       "t12", "t13", "t14", "t15", "t16"};

TEST(TraceEventMemoryOverheadTest, SeventeenthTypeMovesEntriesToTheMap) {
  TraceEventMemoryOverhead overhead;
  // Added in reverse address order, so that the two orders differ.
  for (int i = 16; i >= 1; --i)
    overhead.Add(g_types[i], 1, i, i);
  {
    ProcessMemoryDump dump(kDumpLevelDetailed);
    overhead.DumpInto("base", &dump);
    std::vector<std::string> names = DumpNames(dump);
    ASSERT_EQ(16u, names.size());
    EXPECT_EQ("base/t16", names.front());
    EXPECT_EQ("base/t1", names.back());
  }
  overhead.Add(g_types[0], 1, 0, 0);
  overhead.Add(g_types[5], 1, 100, 100);  // found again after the move
  ProcessMemoryDump dump(kDumpLevelDetailed);
  overhead.DumpInto("base", &dump);
  std::vector<std::string> names = DumpNames(dump);
  ASSERT_EQ(17u, names.size());
  for (int i = 0; i < 17; ++i)
    EXPECT_EQ(std::string("base/") + g_types[i], names[i]) << i;
}

TEST(TraceEventMemoryOverheadTest, TypesAreTheirNamesAddresses) {
  static const char kOtherTraceEvent[] = "TraceEvent";
  TraceEventMemoryOverhead overhead;
  overhead.Add(kOverheadTraceEvent, 2, 0, 0);
  overhead.Add(kOtherTraceEvent, 5, 0, 0);
  EXPECT_EQ(2u, overhead.GetTraceEventCount());
  TraceEventMemoryOverhead sum;
  sum.Update(overhead);
  sum.Update(overhead);
  EXPECT_EQ(4u, sum.GetTraceEventCount());
}

}  // namespace
}  // namespace base

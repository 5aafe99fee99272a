#include "base/trace_event/memory_dump_manager.h"

#include <string>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/trace_event/process_memory_dump.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class NullProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
};

// The registrations of `name`: {count, whitelisted ones, with a runner}.
struct Registrations {
  int count = 0;
  int whitelisted = 0;
  int with_runner = 0;
  bool operator==(const Registrations&) const = default;
};

Registrations RegistrationsOf(const std::string& name) {
  Registrations found;
  for (const auto& record :
       MemoryDumpManager::GetInstance()->GetDumpProvidersForTesting()) {
    if (name != record.name)
      continue;
    ++found.count;
    found.whitelisted += record.whitelisted_for_background_mode;
    found.with_runner += record.has_task_runner;
  }
  return found;
}

TEST(MemoryDumpManagerTest, TraceLogIsRegisteredOnceAndNotWhitelisted) {
  TraceLog::GetInstance();
  EXPECT_EQ((Registrations{1, 0, 0}), RegistrationsOf("TraceLog"));
}

TEST(MemoryDumpManagerTest, OneRegistrationPerTaskRunnerAndProvider) {
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  MessageLoop loop;
  NullProvider provider;
  struct Step {
    bool with_runner;
    Registrations expected;
  };
  // "Malloc" is on the background whitelist.
  const Step steps[] = {
      {false, {1, 1, 0}},
      {false, {1, 1, 0}},
      {true, {2, 2, 1}},
      {true, {2, 2, 1}},
  };
  for (const Step& step : steps) {
    manager->RegisterDumpProvider(
        &provider, "Malloc",
        step.with_runner ? RefPtr<SequencedTaskRunner>(loop.task_runner())
                         : nullptr);
    EXPECT_EQ(step.expected, RegistrationsOf("Malloc"));
  }
  manager->UnregisterDumpProviderInternal(&provider);
  EXPECT_EQ(1, RegistrationsOf("Malloc").count);
  manager->UnregisterDumpProviderInternal(&provider);
  EXPECT_EQ(0, RegistrationsOf("Malloc").count);
}

TEST(MemoryDumpManagerTest, RequestOutsideASessionFailsAtOnce) {
  MemoryDumpManager* manager = MemoryDumpManager::GetInstance();
  EXPECT_FALSE(manager->IsDumpModeAllowed(kDumpLevelLight));
  uint64_t guid = 1;
  bool success = true;
  int calls = 0;
  manager->RequestGlobalDump(
      MemoryDumpManager::kDumpTypePeriodicInterval, kDumpLevelLight,
      Bind<void(uint64_t, bool)>(
          [](uint64_t* guid, bool* success, int* calls, uint64_t g, bool s) {
            *guid = g;
            *success = s;
            ++*calls;
          },
          &guid, &success, &calls));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0u, guid);
  EXPECT_FALSE(success);
}

}  // namespace
}  // namespace base

#include "base/threading/prefs_task_pool.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/exit_callback_stack.h"
#include "base/location.h"
#include "base/test/scoped_log_capture.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/sync_event.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Behavior = SequencedWorkerPool::ShutdownBehavior;

TEST(SequencedWorkerPoolPrefsTest, OneTwoWorkerPoolUntilTheExitCallbacks) {
  {
    ExitCallbackStack exit_callbacks;
    std::atomic<PrefsTaskPool*> seen[4] = {};
    std::vector<std::thread> callers;
    for (auto& slot : seen)
      callers.emplace_back([&slot] { slot = GetPrefsTaskPool(); });
    for (std::thread& caller : callers)
      caller.join();
    PrefsTaskPool* holder = GetPrefsTaskPool();
    for (auto& slot : seen)
      EXPECT_EQ(holder, slot.load());
    EXPECT_FALSE(holder->wait_for_last_reference());
    holder->set_wait_for_last_reference(true);

    constexpr int kTasks = 8;
    std::mutex mutex;
    std::set<std::string> names;
    std::atomic<int> remaining{kTasks};
    SyncEvent done(SyncEvent::ResetMode::kManual,
                   SyncEvent::InitialState::kNotSignaled);
    for (int i = 0; i < kTasks; ++i) {
      ASSERT_TRUE(holder->pool()->PostTask(
          FROM_HERE, Bind([&] {
            {
              std::lock_guard<std::mutex> hold(mutex);
              std::string name = ThreadNameRegistry::GetInstance()->GetName(
                  GetCurrentThreadId());
              names.insert(name.substr(0, name.find('/')));
            }
            Sleep(2);
            if (--remaining == 0)
              done.Signal();
          })));
    }
    ASSERT_TRUE(done.WaitFor(TimeDelta::Max()));
    EXPECT_EQ(
        (std::set<std::string>{"PrefsTaskPoolWorker1", "PrefsTaskPoolWorker2"}),
        names);
  }
  // The exit callbacks freed it: a later caller gets a fresh holder.
  ExitCallbackStack exit_callbacks;
  EXPECT_FALSE(GetPrefsTaskPool()->wait_for_last_reference());
}

TEST(SequencedWorkerPoolPrefsTest, ShutdownWaitsBoundedForRunnersToLetGo) {
  // Where the wait must end by the release, the limit is far beyond any test
  // run: a shutdown that wrongly ran into it would hang the test instead of
  // passing by luck of timing.
  constexpr TimeDelta kShortLimit = TimeDelta::FromMilliseconds(200);
  constexpr TimeDelta kUnreachedLimit = TimeDelta::FromSeconds(30 * 60);
  struct {
    bool wait;
    bool released_in_time;
    TimeDelta limit;
  } const kCases[] = {{false, false, kUnreachedLimit},
                      {true, true, kUnreachedLimit},
                      {true, false, kShortLimit}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.wait << c.released_in_time);
    PrefsTaskPool holder;
    holder.set_wait_for_last_reference(c.wait);
    holder.set_wait_limit_for_testing(c.limit);
    auto runner = MakeRefCounted<PoolSequencedTaskRunner>(
        holder.pool(), holder.pool()->GetNamedSequenceToken("store"),
        Behavior::kBlockShutdown);
    SyncEvent ran(SyncEvent::ResetMode::kManual,
                  SyncEvent::InitialState::kNotSignaled);
    ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind([&] { ran.Signal(); })));
    ASSERT_TRUE(ran.WaitFor(TimeDelta::Max()));

    std::atomic<int64_t> released_at{0};
    std::thread releaser;
    if (c.released_in_time) {
      releaser =
          std::thread([&released_at, held = std::move(runner)]() mutable {
            // Refused posts say the shutdown has begun: the release then
            // comes while it waits for the runner to let go.
            while (held->PostTask(FROM_HERE, Bind([] {})))
              Sleep(1);
            released_at = TickTime::Now().ToInternalValue();
            held.reset();
          });
    }
    ScopedLogCapture log;
    const TickTime start = TickTime::Now();
    holder.Shutdown();
    const TickTime end = TickTime::Now();
    if (releaser.joinable())
      releaser.join();
    EXPECT_FALSE(holder.pool());

    if (!c.wait) {
      // Returned although the runner is still held, without a word.
      EXPECT_TRUE(runner);
      EXPECT_TRUE(log.lines().empty());
    } else if (c.released_in_time) {
      EXPECT_GE(end.ToInternalValue(), released_at.load());
      EXPECT_TRUE(log.lines().empty());
    } else {
      EXPECT_GE(end - start, kShortLimit);
      ASSERT_EQ(1u, log.lines().size());
      EXPECT_NE(std::string::npos, log.lines()[0].find("still held"));
    }
    // A runner still held keeps the pool until now.
    runner.reset();
  }
}

}  // namespace
}  // namespace base

#include "base/threading/sequenced_worker_pool.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/post_task_and_reply.h"
#include "base/strings/string_slice.h"
#include "base/test/histogram_counts.h"
#include "base/test/life_record.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/test_thread_runner.h"
#include "base/threading/pool_sequenced_task_runner.h"
#include "base/threading/sync_event.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/worker_pool.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Behavior = SequencedWorkerPool::ShutdownBehavior;

// Waits end with the awaited event; a broken pool hangs into the test
// runner's timeout instead of failing by the luck of a busy machine.
constexpr TimeDelta kLongWait = TimeDelta::Max();
// Long enough for a wrongly unblocked shutdown to show itself.
constexpr TimeDelta kShortWait = TimeDelta::FromMilliseconds(50);

class Event : public SyncEvent {
 public:
  Event()
      : SyncEvent(SyncEvent::ResetMode::kManual,
                  SyncEvent::InitialState::kNotSignaled) {}
};

int64_t ShutdownDelaySamples() {
  return TotalCountOf(GetTimeHistogram("SequencedWorkerPool.ShutdownDelayTime",
                                       TimeDelta::FromMilliseconds(1),
                                       TimeDelta::FromSeconds(10)));
}

// Reports, when a task's closure is released, whether its sequence counted
// as running on the releasing thread.
class ReleaseProbe {
 public:
  ReleaseProbe(PoolSequencedTaskRunner* runner, std::atomic<bool>* on_own,
               Event* released)
      : runner_(runner), on_own_(on_own), released_(released) {}
  ReleaseProbe(ReleaseProbe&& other) noexcept
      : runner_(std::exchange(other.runner_, nullptr)),
        on_own_(other.on_own_),
        released_(other.released_) {}
  ~ReleaseProbe() {
    if (!runner_)
      return;
    *on_own_ = runner_->IsOnOwnThread();
    released_->Signal();
  }

 private:
  PoolSequencedTaskRunner* runner_;
  std::atomic<bool>* on_own_;
  Event* released_;
};

class SequencedWorkerPoolTest : public testing::Test {
 protected:
  void TearDown() override {
    if (pool_)
      pool_->Shutdown();
  }

  void MakePool(size_t max_threads) {
    pool_ = MakeRefCounted<SequencedWorkerPool>(max_threads, "TestPool");
  }
  RefPtr<PoolSequencedTaskRunner> MakeRunner(StringSlice name,
                                             Behavior behavior) {
    return MakeRefCounted<PoolSequencedTaskRunner>(
        pool_, pool_->GetNamedSequenceToken(name), behavior);
  }

  RefPtr<SequencedWorkerPool> pool_;
};

TEST_F(SequencedWorkerPoolTest, SequenceTasksRunOneAtATimeInPostingOrder) {
  MakePool(3);
  constexpr int kSequences = 3;
  constexpr int kTasks = 200;
  struct SequenceRecord {
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::mutex mutex;
    std::vector<int> order;
  };
  SequenceRecord records[kSequences];
  std::atomic<int> remaining{kSequences * kTasks};
  Event done;
  std::vector<std::thread> posters;
  for (int s = 0; s < kSequences; ++s) {
    posters.emplace_back([&, s] {
      auto runner =
          MakeRunner("sequence" + std::to_string(s), Behavior::kBlockShutdown);
      for (int i = 0; i < kTasks; ++i) {
        runner->PostTask(FROM_HERE, Bind([&, s, i] {
                           SequenceRecord& record = records[s];
                           if (record.running.fetch_add(1) != 0)
                             record.overlapped = true;
                           {
                             std::lock_guard<std::mutex> hold(record.mutex);
                             record.order.push_back(i);
                           }
                           // Widens the window an overlap would need.
                           SwitchToThread();
                           record.running.fetch_sub(1);
                           if (--remaining == 0)
                             done.Signal();
                         }));
      }
    });
  }
  for (std::thread& poster : posters)
    poster.join();
  ASSERT_TRUE(done.WaitFor(kLongWait));
  for (SequenceRecord& record : records) {
    EXPECT_FALSE(record.overlapped);
    ASSERT_EQ(static_cast<size_t>(kTasks), record.order.size());
    for (int i = 0; i < kTasks; ++i)
      EXPECT_EQ(i, record.order[i]);
  }
}

TEST_F(SequencedWorkerPoolTest, NeverMoreWorkersThanConfigured) {
  MakePool(2);
  constexpr int kTasks = 16;
  std::atomic<int> running{0}, most_running{0}, remaining{kTasks};
  std::mutex mutex;
  std::set<std::string> names;
  Event done;
  for (int i = 0; i < kTasks; ++i) {
    ASSERT_TRUE(pool_->PostTask(
        FROM_HERE, Bind([&] {
          const int now = ++running;
          int seen = most_running.load();
          while (now > seen && !most_running.compare_exchange_weak(seen, now)) {
          }
          {
            std::lock_guard<std::mutex> hold(mutex);
            std::string name = ThreadNameRegistry::GetInstance()->GetName(
                GetCurrentThreadId());
            names.insert(name.substr(0, name.find('/')));
          }
          Sleep(2);
          --running;
          if (--remaining == 0)
            done.Signal();
        })));
  }
  ASSERT_TRUE(done.WaitFor(kLongWait));
  EXPECT_LE(most_running.load(), 2);
  EXPECT_EQ((std::set<std::string>{"TestPoolWorker1", "TestPoolWorker2"}),
            names);
}

TEST_F(SequencedWorkerPoolTest, DelayedTaskNeverRunsEarlyNorBeforeLaterPosts) {
  MakePool(2);
  auto runner = MakeRunner("delays", Behavior::kBlockShutdown);
  // Workers already started, so that no start delays the second post.
  Event warm;
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind([&] { warm.Signal(); })));
  ASSERT_TRUE(warm.WaitFor(kLongWait));
  struct {
    TimeDelta delay;
    // A sub-millisecond delay may be due before the next post; it must only
    // never run early (its wait rounds up instead of spinning).
    bool undelayed_first;
  } const kCases[] = {{TimeDelta::FromMicroseconds(300), false},
                      {TimeDelta::FromMilliseconds(5), true},
                      {TimeDelta::FromMilliseconds(20), true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.delay.InMicroseconds());
    std::vector<int> order;
    TickTime ran_at;
    Event done, undelayed_done;
    const TickTime posted_at = TickTime::Now();
    ASSERT_TRUE(runner->PostTaskWithDelay(FROM_HERE, Bind([&] {
                                            ran_at = TickTime::Now();
                                            order.push_back(1);
                                            done.Signal();
                                          }),
                                          c.delay));
    ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind([&] {
                                   order.push_back(0);
                                   undelayed_done.Signal();
                                 })));
    const TickTime undelayed_posted_by = TickTime::Now();
    ASSERT_TRUE(done.WaitFor(kLongWait));
    ASSERT_TRUE(undelayed_done.WaitFor(kLongWait));
    EXPECT_GE(ran_at - posted_at, c.delay);
    // Only a post made before the delayed task fell due must run first: on a
    // busy machine this thread may be held up for longer than the delay.
    if (c.undelayed_first && undelayed_posted_by < posted_at + c.delay) {
      EXPECT_EQ((std::vector<int>{0, 1}), order);
    }
  }
}

// While the task that holds the pool is blocked: a shutdown free to return
// does so without waiting, however long its thread takes to start; one that
// must wait has begun to (so a release after this is waited for) and has
// not returned after a pause.
void ExpectReturnedOnlyIfFree(Event& returned, Event& waiting, bool free) {
  if (free) {
    EXPECT_TRUE(returned.WaitFor(kLongWait));
    EXPECT_FALSE(waiting.WaitFor(TimeDelta()));
  } else {
    EXPECT_TRUE(waiting.WaitFor(kLongWait));
    EXPECT_FALSE(returned.WaitFor(kShortWait));
  }
}

struct ShutdownCase {
  Behavior behavior;
  bool waits_while_running;
  bool runs_when_pending;
};
constexpr ShutdownCase kShutdownCases[] = {
    {Behavior::kContinueIfRunning, false, false},
    {Behavior::kSkipIfPending, true, false},
    {Behavior::kBlockShutdown, true, true},
};

TEST(SequencedWorkerPoolShutdownTest, WaitsForRunningTasksThatAskIt) {
  for (const ShutdownCase& c : kShutdownCases) {
    SCOPED_TRACE(static_cast<int>(c.behavior));
    auto pool = MakeRefCounted<SequencedWorkerPool>(2, "TestPool");
    auto runner = MakeRefCounted<PoolSequencedTaskRunner>(
        pool, pool->GetNamedSequenceToken("running"), c.behavior);
    Event started, release, finished, returned, waiting;
    pool->SetShutdownWaitEventForTesting(&waiting);
    ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind([&] {
                                   started.Signal();
                                   release.Wait();
                                   finished.Signal();
                                 })));
    ASSERT_TRUE(started.WaitFor(kLongWait));
    const int64_t samples = ShutdownDelaySamples();
    std::thread shutter([&] {
      pool->Shutdown();
      returned.Signal();
    });
    ExpectReturnedOnlyIfFree(returned, waiting, !c.waits_while_running);
    release.Signal();
    EXPECT_TRUE(returned.WaitFor(kLongWait));
    shutter.join();
    ASSERT_TRUE(finished.WaitFor(kLongWait));
    EXPECT_EQ(samples + (c.waits_while_running ? 1 : 0),
              ShutdownDelaySamples());
  }
}

TEST(SequencedWorkerPoolShutdownTest, RunsOnlyBlockingTasksStillPending) {
  for (const ShutdownCase& c : kShutdownCases) {
    SCOPED_TRACE(static_cast<int>(c.behavior));
    // One worker, held by a task that shutdown does not wait for.
    auto pool = MakeRefCounted<SequencedWorkerPool>(1, "TestPool");
    auto blocker = MakeRefCounted<PoolSequencedTaskRunner>(
        pool, pool->GetNamedSequenceToken("blocker"),
        Behavior::kContinueIfRunning);
    auto runner = MakeRefCounted<PoolSequencedTaskRunner>(
        pool, pool->GetNamedSequenceToken("pending"), c.behavior);
    Event started, release, returned, released, waiting;
    pool->SetShutdownWaitEventForTesting(&waiting);
    std::atomic<bool> ran{false}, released_in_sequence{false};
    ASSERT_TRUE(blocker->PostTask(FROM_HERE, Bind([&] {
                                    started.Signal();
                                    release.Wait();
                                  })));
    ASSERT_TRUE(started.WaitFor(kLongWait));
    ASSERT_TRUE(runner->PostTask(
        FROM_HERE,
        Bind([&](ReleaseProbe&) { ran = true; },
             ReleaseProbe(runner.get(), &released_in_sequence, &released))));
    std::thread shutter([&] {
      pool->Shutdown();
      returned.Signal();
    });
    ExpectReturnedOnlyIfFree(returned, waiting, !c.runs_when_pending);
    release.Signal();
    EXPECT_TRUE(returned.WaitFor(kLongWait));
    shutter.join();
    ASSERT_TRUE(released.WaitFor(kLongWait));
    EXPECT_EQ(c.runs_when_pending, ran.load());
    EXPECT_TRUE(released_in_sequence);
  }
}

TEST_F(SequencedWorkerPoolTest, PostsAfterShutdownAreRefusedAndReleased) {
  MakePool(2);
  RefPtr<PoolSequencedTaskRunner> runners[] = {
      MakeRunner("a", Behavior::kContinueIfRunning),
      MakeRunner("b", Behavior::kSkipIfPending),
      MakeRunner("c", Behavior::kBlockShutdown)};
  pool_->Shutdown();
  std::vector<std::pair<TaskRunner*, TimeDelta>> posts = {
      {pool_.get(), TimeDelta()}, {pool_.get(), kShortWait}};
  for (auto& runner : runners) {
    posts.emplace_back(runner.get(), TimeDelta());
    posts.emplace_back(runner.get(), kShortWait);
  }
  for (const auto& [runner, delay] : posts) {
    LifeRecord life;
    bool ran = false;
    EXPECT_FALSE(runner->PostTaskWithDelay(
        FROM_HERE, Bind([&ran](Tracked&) { ran = true; }, Tracked(&life)),
        delay));
    EXPECT_EQ(1, life.destructions);
    EXPECT_FALSE(ran);
  }
  LifeRecord life;
  EXPECT_FALSE(runners[0]->PostNonNestableTaskWithDelay(
      FROM_HERE, Bind([](Tracked&) {}, Tracked(&life)), TimeDelta()));
  EXPECT_EQ(1, life.destructions);
}

TEST_F(SequencedWorkerPoolTest, NamedTokensAreStableAndUniqueAcrossPools) {
  MakePool(1);
  auto other = MakeRefCounted<SequencedWorkerPool>(1, "OtherPool");
  const int32_t first = pool_->GetNamedSequenceToken("x");
  EXPECT_NE(0, first);
  EXPECT_EQ(first, pool_->GetNamedSequenceToken("x"));
  EXPECT_NE(first, pool_->GetNamedSequenceToken("y"));
  EXPECT_NE(first, other->GetNamedSequenceToken("x"));
  other->Shutdown();
}

TEST_F(SequencedWorkerPoolTest, PoolTaskSeesItsSequenceAsCurrentRunner) {
  MakePool(2);
  auto runner = MakeRunner("current", Behavior::kBlockShutdown);
  auto other = MakeRunner("other", Behavior::kBlockShutdown);
  std::atomic<bool> own{false}, other_own{true}, pool_own{false},
      follow_up_in_sequence{false}, unsequenced_has_runner{true};
  Event done, unsequenced_done;
  EXPECT_FALSE(GetCurrentSequencedTaskRunner());
  EXPECT_FALSE(runner->IsOnOwnThread());
  EXPECT_FALSE(pool_->IsOnOwnThread());
  ASSERT_TRUE(runner->PostTask(
      FROM_HERE, Bind([&] {
        RefPtr<SequencedTaskRunner> current = GetCurrentSequencedTaskRunner();
        ASSERT_TRUE(current);
        own = current->IsOnOwnThread();
        other_own = other->IsOnOwnThread();
        pool_own = pool_->IsOnOwnThread();
        current->PostTask(FROM_HERE, Bind([&] {
                            follow_up_in_sequence = runner->IsOnOwnThread();
                            done.Signal();
                          }));
      })));
  ASSERT_TRUE(pool_->PostTask(FROM_HERE, Bind([&] {
                                unsequenced_has_runner =
                                    GetCurrentSequencedTaskRunner() != nullptr;
                                unsequenced_done.Signal();
                              })));
  ASSERT_TRUE(done.WaitFor(kLongWait));
  ASSERT_TRUE(unsequenced_done.WaitFor(kLongWait));
  EXPECT_TRUE(own);
  EXPECT_FALSE(other_own);
  EXPECT_TRUE(pool_own);
  EXPECT_TRUE(follow_up_in_sequence);
  EXPECT_FALSE(unsequenced_has_runner);
}

TEST_F(SequencedWorkerPoolTest, ReplyReturnsFromSequenceToThreadAndBack) {
  MakePool(2);
  auto runner = MakeRunner("replies", Behavior::kBlockShutdown);
  auto thread = TestThreadRunner::Start();
  std::atomic<bool> task_in_sequence{false}, reply_in_sequence{false};
  std::atomic<DWORD> reply_thread{0}, task_thread{0};
  Event to_pool_replied, to_thread_replied;
  // From a thread to the pool sequence.
  thread->RunAndWait([&] {
    EXPECT_TRUE(PostTaskAndReply(
        *runner, FROM_HERE,
        Bind([&] { task_in_sequence = runner->IsOnOwnThread(); }), Bind([&] {
          reply_thread = GetCurrentThreadId();
          to_pool_replied.Signal();
        })));
  });
  // From the pool sequence to a thread: the reply finds its way back
  // through the current-runner seam.
  ASSERT_TRUE(runner->PostTask(
      FROM_HERE, Bind([&] {
        EXPECT_TRUE(PostTaskAndReply(
            *thread, FROM_HERE,
            Bind([&] { task_thread = GetCurrentThreadId(); }), Bind([&] {
              reply_in_sequence = runner->IsOnOwnThread();
              to_thread_replied.Signal();
            })));
      })));
  ASSERT_TRUE(to_pool_replied.WaitFor(kLongWait));
  ASSERT_TRUE(to_thread_replied.WaitFor(kLongWait));
  EXPECT_TRUE(task_in_sequence);
  EXPECT_EQ(thread->thread_id(), reply_thread);
  EXPECT_EQ(thread->thread_id(), task_thread);
  EXPECT_TRUE(reply_in_sequence);
  thread->Stop();
}

TEST(SequencedWorkerPoolReplyTest, SystemPoolTaskRepliesToTheCallingThread) {
  auto thread = TestThreadRunner::Start();
  std::atomic<bool> on_system_pool{false};
  std::atomic<DWORD> reply_thread{0};
  Event replied;
  thread->RunAndWait([&] {
    EXPECT_TRUE(PostTaskAndReplyOnWorkerPool(
        FROM_HERE,
        Bind([&] { on_system_pool = WorkerPool::RunsTasksOnCurrentThread(); }),
        Bind([&] {
          reply_thread = GetCurrentThreadId();
          replied.Signal();
        }),
        /*task_is_slow=*/true));
  });
  ASSERT_TRUE(replied.WaitFor(kLongWait));
  EXPECT_TRUE(on_system_pool);
  EXPECT_EQ(thread->thread_id(), reply_thread);
  thread->Stop();
  // No runner to reply to: nothing is posted.
  LifeRecord life;
  EXPECT_FALSE(PostTaskAndReplyOnWorkerPool(
      FROM_HERE, Bind([](Tracked&) {}, Tracked(&life)), Bind([] {}), false));
  EXPECT_EQ(1, life.destructions);
}

// Forwards to a thread runner and notes the pool's deletion posts.
class DeletionRecordingRunner : public SequencedTaskRunner {
 public:
  explicit DeletionRecordingRunner(RefPtr<TestThreadRunner> target)
      : target_(std::move(target)) {}

  bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                         TimeDelta delay) override {
    return target_->PostTaskWithDelay(from_here, std::move(task), delay);
  }
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override {
    if (StringSlice(from_here.function_name()).Equals("OnDestruct")) {
      posting_thread = GetCurrentThreadId();
      deletion_posted.Signal();
    }
    return PostTaskWithDelay(from_here, std::move(task), delay);
  }
  bool IsOnOwnThread() const override { return target_->IsOnOwnThread(); }

  std::atomic<DWORD> posting_thread{0};
  Event deletion_posted;

 private:
  RefPtr<TestThreadRunner> target_;
};

TEST(SequencedWorkerPoolDeletionTest, WorkerDefersDeletionToCreatingThread) {
  auto thread = TestThreadRunner::Start();
  auto recorder = MakeRefCounted<DeletionRecordingRunner>(thread);
  RefPtr<SequencedWorkerPool> pool;
  {
    CurrentTaskRunnerHandle handle(recorder);
    pool = MakeRefCounted<SequencedWorkerPool>(1, "TestPool");
  }
  auto runner = MakeRefCounted<PoolSequencedTaskRunner>(
      pool, pool->GetNamedSequenceToken("last"), Behavior::kContinueIfRunning);
  Event started, release;
  std::atomic<DWORD> worker_thread{0};
  // Keeps the worker, and its reference, past the test's own release.
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind([&] {
                                 worker_thread = GetCurrentThreadId();
                                 started.Signal();
                                 release.Wait();
                               })));
  ASSERT_TRUE(started.WaitFor(kLongWait));
  pool->Shutdown();
  runner.reset();
  pool.reset();
  release.Signal();
  ASSERT_TRUE(recorder->deletion_posted.WaitFor(kLongWait));
  EXPECT_EQ(worker_thread.load(), recorder->posting_thread.load());
  // The deletion joins the worker on the creating thread.
  thread->RunAndWait([] {});
  thread->Stop();
}

TEST_F(SequencedWorkerPoolTest, FailedWorkerStartIsRetriedByTheNextPost) {
  ScopedLogCapture log;
  MakePool(1);
  // No address space holds such a stack reservation.
  pool_->SetWorkerStackSizeForTesting(uint64_t{1} << 60);
  std::atomic<int> ran{0};
  ASSERT_TRUE(pool_->PostTask(FROM_HERE, Bind([&] { ++ran; })));
  EXPECT_FALSE(log.lines().empty());
  pool_->SetWorkerStackSizeForTesting(0);
  Event done;
  ASSERT_TRUE(pool_->PostTask(FROM_HERE, Bind([&] {
                                ++ran;
                                done.Signal();
                              })));
  ASSERT_TRUE(done.WaitFor(kLongWait));
  pool_->Shutdown();
  EXPECT_EQ(2, ran);
}

TEST_F(SequencedWorkerPoolTest, ShutdownAfterFailedStartsReturns) {
  ScopedLogCapture log;
  for (bool later_start_works : {true, false}) {
    SCOPED_TRACE(later_start_works);
    MakePool(1);
    pool_->SetWorkerStackSizeForTesting(uint64_t{1} << 60);
    LifeRecord life;
    std::atomic<bool> ran{false};
    ASSERT_TRUE(pool_->PostTask(
        FROM_HERE, Bind([&](Tracked&) { ran = true; }, Tracked(&life))));
    if (later_start_works)
      pool_->SetWorkerStackSizeForTesting(0);
    // A blocking task still runs when a worker can be had; else it is
    // dropped rather than waited for forever.
    pool_->Shutdown();
    EXPECT_EQ(later_start_works, ran.load());
    EXPECT_EQ(1, life.destructions);
  }
}

}  // namespace
}  // namespace base

#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/task_annotator.h"
#include "base/test/life_record.h"
#include "base/time/high_resolution_timer.h"
#include "base/time/tick_source.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Type = MessageLoop::Type;

constexpr Type kAllPumpTypes[] = {Type::kDefault, Type::kUI, Type::kIO};

void RunUntilIdle() {
  LoopRunner runner;
  runner.QuitOnceIdle();
  runner.Run();
}

template <class F>
Closure Task(F function) {
  return Bind(std::move(function));
}

// Freezes the tick clock at a value the test moves by hand.
class ScopedFrozenClock {
 public:
  ScopedFrozenClock() {
    now_us_ = TickSource::Now();
    previous_ = TickSource::SwapForTesting(&Now);
  }
  ~ScopedFrozenClock() { TickSource::SwapForTesting(previous_); }

  void Advance(TimeDelta delta) { now_us_ += delta.InMicroseconds(); }

 private:
  static int64_t Now() { return now_us_.load(); }

  static inline std::atomic<int64_t> now_us_{0};
  TickSource::NowFunction previous_;
};

// A default pump that counts its wake-ups.
class CountingPump : public MessagePumpDefault {
 public:
  explicit CountingPump(std::atomic<int>* wake_ups) : wake_ups_(wake_ups) {}
  void WakeUp() override {
    ++*wake_ups_;
    MessagePumpDefault::WakeUp();
  }

 private:
  std::atomic<int>* wake_ups_;
};

MessageLoop::PumpFactory CountingPumpFactory(std::atomic<int>* wake_ups) {
  return Bind<std::unique_ptr<MessagePump>()>(
      [](std::atomic<int>* counter) -> std::unique_ptr<MessagePump> {
        return std::make_unique<CountingPump>(counter);
      },
      wake_ups);
}

class MessageLoopTypeTest : public testing::TestWithParam<Type> {};

INSTANTIATE_TEST_SUITE_P(AllPumps, MessageLoopTypeTest,
                         testing::ValuesIn(kAllPumpTypes));

TEST_P(MessageLoopTypeTest, DelayedTasksNeverRunEarly) {
  MessageLoop loop(GetParam());
  // Sub-millisecond delays included: a wait rounded down would spin or run
  // them early.
  const int64_t kDelaysUs[] = {16000, 500, 3000, 1000, 31900, 50000, 1};
  struct Run {
    // The loop takes its due time between these two.
    TickTime due;
    TickTime latest_due;
    TickTime ran;
  };
  std::vector<Run> runs(std::size(kDelaysUs));
  std::vector<size_t> order;
  LoopRunner runner;
  for (size_t i = 0; i < std::size(kDelaysUs); ++i) {
    TimeDelta delay = TimeDelta::FromMicroseconds(kDelaysUs[i]);
    runs[i].due = TickTime::Now() + delay;
    loop.task_runner()->PostTaskWithDelay(FROM_HERE, Task([&, i] {
      runs[i].ran = TickTime::Now();
      order.push_back(i);
      if (order.size() == runs.size())
        runner.Quit();
    }), delay);
    runs[i].latest_due = TickTime::Now() + delay;
  }
  runner.Run();
  for (const Run& run : runs)
    EXPECT_GE(run.ran, run.due);
  // In the order they fell due: that of the delays, unless the posting was
  // held up for longer than two delays lie apart, as on a busy machine.
  // None ran after one that was due later for sure.
  ASSERT_EQ(runs.size(), order.size());
  for (size_t i = 1; i < order.size(); ++i)
    EXPECT_GE(runs[order[i]].latest_due, runs[order[i - 1]].due) << i;
}

TEST_P(MessageLoopTypeTest, NestedRunDefersNonNestableTasksToDepthOne) {
  MessageLoop loop(GetParam());
  std::vector<std::string> log;
  loop.task_runner()->PostTask(FROM_HERE, Task([&] {
    log.push_back("outer task starts");
    LoopRunner inner;
    auto runner = MessageLoop::current()->task_runner();
    runner->PostTask(FROM_HERE, Task([&] { log.push_back("nestable"); }));
    runner->PostNonNestableTaskWithDelay(
        FROM_HERE, Task([&] { log.push_back("non-nestable"); }), TimeDelta());
    runner->PostTask(FROM_HERE, inner.QuitClosure());
    MessageLoop::current()->SetNestableTasksAllowed(true);
    inner.Run();
    log.push_back("outer task ends");
  }));
  RunUntilIdle();
  EXPECT_EQ((std::vector<std::string>{"outer task starts", "nestable",
                                      "outer task ends", "non-nestable"}),
            log);
}

TEST_P(MessageLoopTypeTest, TasksFromEightThreadsRunExactlyOnceInOrder) {
  constexpr int kThreads = 8;
  constexpr int kPostsPerThread = 4000;
  MessageLoop loop(GetParam());
  std::vector<std::vector<int>> runs(kThreads,
                                     std::vector<int>(kPostsPerThread, 0));
  std::vector<int> next_expected(kThreads, 0);
  int out_of_order = 0;
  int total = 0;
  bool watchdog_fired = false;
  LoopRunner runner;
  // Only a lost wake-up lets this one run: it would then end the test.
  loop.task_runner()->PostTaskWithDelay(FROM_HERE, Task([&] {
    watchdog_fired = true;
    runner.Quit();
  }), TimeDelta::FromSeconds(60));

  std::atomic<bool> go{false};
  std::vector<std::thread> posters;
  RefPtr<LoopTaskRunner> task_runner = loop.task_runner();
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      while (!go.load())
        YieldProcessor();
      for (int i = 0; i < kPostsPerThread; ++i) {
        task_runner->PostTask(FROM_HERE, Task([&, t, i] {
          ++runs[t][i];
          if (next_expected[t] != i)
            ++out_of_order;
          next_expected[t] = i + 1;
          if (++total == kThreads * kPostsPerThread)
            runner.Quit();
        }));
        // Let the loop drain now and then, so that it goes to sleep and
        // must be woken again.
        if (i % 500 == 0)
          Sleep(1);
      }
    });
  }
  go = true;
  runner.Run();
  for (std::thread& poster : posters)
    poster.join();

  EXPECT_FALSE(watchdog_fired);
  EXPECT_EQ(0, out_of_order);
  for (const auto& thread_runs : runs) {
    for (int count : thread_runs)
      ASSERT_EQ(1, count);
  }
}

TEST(MessageLoopTest, EqualRunTimesRunInPostingOrderAcrossSequenceWrap) {
  const int32_t kFirstSequenceNumbers[] = {0, 0x7FFFFFFE, -2};
  for (int32_t first : kFirstSequenceNumbers) {
    SCOPED_TRACE(first);
    ScopedFrozenClock clock;
    MessageLoop loop;
    loop.SetNextSequenceNumberForTesting(first);
    const int kDelaysMs[] = {20, 10, 20, 10, 10, 20};
    std::vector<int> order;
    for (int i = 0; i < static_cast<int>(std::size(kDelaysMs)); ++i) {
      loop.task_runner()->PostTaskWithDelay(
          FROM_HERE, Task([&order, i] { order.push_back(i); }),
          TimeDelta::FromMilliseconds(kDelaysMs[i]));
    }
    clock.Advance(TimeDelta::FromMilliseconds(25));
    RunUntilIdle();
    EXPECT_EQ((std::vector<int>{1, 3, 4, 0, 2, 5}), order);
  }
}

TEST(MessageLoopTest, ShortDelaysRaiseTimerResolutionUntilIdle) {
  struct Case {
    TimeDelta delay;
    uint32_t activations;
  };
  const Case kCases[] = {
      {TimeDelta::FromMicroseconds(31900), 1},
      {TimeDelta::FromMilliseconds(32), 0},
      {TimeDelta(), 0},
      {TimeDelta::Max(), 0},
  };
  HighResolutionTimer::SetPeriodFunctionsForTesting([](uint32_t) {},
                                                    [](uint32_t) {});
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.delay.InMicroseconds());
    {
      MessageLoop loop;
      loop.task_runner()->PostTaskWithDelay(FROM_HERE, Task([] {}), c.delay);
      RunUntilIdle();
      EXPECT_EQ(c.activations, HighResolutionTimer::ActivationCountForTesting());
    }
    // The loop gives its share back when it goes.
    EXPECT_EQ(0u, HighResolutionTimer::ActivationCountForTesting());
  }
  HighResolutionTimer::SetPeriodFunctionsForTesting(nullptr, nullptr);
}

TEST(MessageLoopTest, WakesPumpOncePerEmptyToNonEmptyTransition) {
  std::atomic<int> wake_ups{0};
  MessageLoop loop(Type::kCustom, CountingPumpFactory(&wake_ups));
  std::vector<int> order;
  for (int i = 0; i < 3; ++i)
    loop.task_runner()->PostTask(FROM_HERE, Task([&, i] { order.push_back(i); }));
  EXPECT_EQ(0, wake_ups);  // Not bound yet: nobody to wake.

  loop.BindToCurrentThread();
  EXPECT_EQ(1, wake_ups);  // The binding wakes for the early posts.
  for (int i = 3; i < 10; ++i)
    loop.task_runner()->PostTask(FROM_HERE, Task([&, i] { order.push_back(i); }));
  EXPECT_EQ(1, wake_ups);
  RunUntilIdle();
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), order);

  // 1,000 posts from four threads into the idle loop: one wake-up.
  std::vector<std::thread> posters;
  std::atomic<int> ran{0};
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < 250; ++i)
        loop.task_runner()->PostTask(FROM_HERE, Task([&] { ++ran; }));
    });
  }
  for (std::thread& poster : posters)
    poster.join();
  EXPECT_EQ(2, wake_ups);
  RunUntilIdle();
  EXPECT_EQ(1000, ran);
  loop.task_runner()->PostTask(FROM_HERE, Task([] {}));
  EXPECT_EQ(3, wake_ups);
}

TEST(MessageLoopTest, TasksLeftAtDestructionAreDestroyedUnrunInOrder) {
  std::vector<std::string> destroyed;
  bool ran = false;
  struct Label {
    Label(std::vector<std::string>* log, const char* name)
        : log(log), name(name) {}
    Label(Label&& other) noexcept
        : log(std::exchange(other.log, nullptr)), name(other.name) {}
    ~Label() {
      if (log)
        log->push_back(name);
    }
    std::vector<std::string>* log;
    const char* name;
  };
  auto labelled = [&](const char* name) {
    return Bind([&ran](Label&) { ran = true; }, Label(&destroyed, name));
  };
  {
    MessageLoop loop;
    auto runner = loop.task_runner();
    runner->PostTask(FROM_HERE, labelled("immediate 1"));
    runner->PostTaskWithDelay(FROM_HERE, labelled("delayed 20 ms"),
                              TimeDelta::FromMilliseconds(20));
    runner->PostTaskWithDelay(FROM_HERE, labelled("delayed 10 ms"),
                              TimeDelta::FromMilliseconds(10));
    runner->PostTask(FROM_HERE, labelled("immediate 2"));
  }
  EXPECT_FALSE(ran);
  EXPECT_EQ((std::vector<std::string>{"immediate 1", "immediate 2",
                                      "delayed 10 ms", "delayed 20 ms"}),
            destroyed);
}

TEST(MessageLoopTest, TaskDestructionThatPostsCannotStallDestruction) {
  // Each destroyed task posts the next one, 150 times: more than the passes
  // the destruction makes.
  struct Chain {
    static void PostNext(std::atomic<int>* created, std::atomic<int>* ran,
                         LifeRecord* life, int remaining) {
      ++*created;
      MessageLoop::current()->task_runner()->PostTask(
          FROM_HERE, Bind([ran](Chain&) { ++*ran; },
                          Chain{created, ran, life, remaining}));
    }
    Chain(std::atomic<int>* created, std::atomic<int>* ran, LifeRecord* life,
          int remaining)
        : created(created), ran(ran), life(life), remaining(remaining) {}
    Chain(Chain&& other) noexcept
        : created(other.created),
          ran(other.ran),
          life(std::exchange(other.life, nullptr)),
          remaining(other.remaining) {}
    ~Chain() {
      if (!life)
        return;
      ++life->destructions;
      if (remaining > 0 && MessageLoop::current())
        PostNext(created, ran, life, remaining - 1);
    }
    std::atomic<int>* created;
    std::atomic<int>* ran;
    LifeRecord* life;
    int remaining;
  };
  std::atomic<int> created{0}, ran{0};
  LifeRecord life;
  RefPtr<LoopTaskRunner> runner;
  {
    MessageLoop loop;
    runner = loop.task_runner();
    Chain::PostNext(&created, &ran, &life, 150);
  }
  runner.reset();
  EXPECT_EQ(0, ran);
  EXPECT_EQ(created.load(), life.destructions.load());
  EXPECT_GE(created.load(), 100);
}

TEST(MessageLoopTest, PostsToDestroyedLoopFailAndReleaseTheirTask) {
  RefPtr<LoopTaskRunner> runner;
  {
    MessageLoop loop;
    runner = loop.task_runner();
  }
  for (bool other_thread : {false, true}) {
    SCOPED_TRACE(other_thread);
    LifeRecord life;
    bool ran = false;
    bool posted = true;
    auto post = [&] {
      posted = runner->PostTask(
          FROM_HERE, Bind([&ran](Tracked&) { ran = true; }, Tracked(&life)));
    };
    if (other_thread)
      std::thread(post).join();
    else
      post();
    EXPECT_FALSE(posted);
    EXPECT_FALSE(ran);
    EXPECT_EQ(1, life.destructions);
  }
}

TEST(MessageLoopTest, DestructionObserversAreToldOnceAndMayRemoveThemselves) {
  struct Observer : MessageLoop::DestructionObserver {
    void OnLoopDestroying() override {
      ++calls;
      if (remove_self)
        MessageLoop::current()->RemoveDestructionObserver(this);
    }
    int calls = 0;
    bool remove_self = false;
  };
  Observer kept, removed, self_removing;
  self_removing.remove_self = true;
  {
    MessageLoop loop;
    loop.AddDestructionObserver(&kept);
    loop.AddDestructionObserver(&kept);  // A duplicate is ignored.
    loop.AddDestructionObserver(&removed);
    loop.AddDestructionObserver(&self_removing);
    loop.RemoveDestructionObserver(&removed);
  }
  EXPECT_EQ(1, kept.calls);
  EXPECT_EQ(0, removed.calls);
  EXPECT_EQ(1, self_removing.calls);
}

TEST(MessageLoopTest, BindingMakesLoopAndRunnerCurrent) {
  EXPECT_EQ(nullptr, MessageLoop::current());
  std::unique_ptr<MessageLoop> loop;
  RefPtr<LoopTaskRunner> runner;
  bool on_own_thread_elsewhere = true;
  std::thread([&] {
    loop = std::make_unique<MessageLoop>(Type::kDefault,
                                         MessageLoop::PumpFactory());
    runner = loop->task_runner();
  }).join();
  EXPECT_FALSE(runner->IsOnOwnThread());  // Not bound to any thread yet.
  loop->BindToCurrentThread();
  EXPECT_EQ(loop.get(), MessageLoop::current());
  EXPECT_EQ(RefPtr<SequencedTaskRunner>(runner), CurrentTaskRunnerHandle::Get());
  EXPECT_TRUE(runner->IsOnOwnThread());
  std::thread([&] { on_own_thread_elsewhere = runner->IsOnOwnThread(); })
      .join();
  EXPECT_FALSE(on_own_thread_elsewhere);
  loop.reset();
  EXPECT_EQ(nullptr, MessageLoop::current());
  EXPECT_EQ(nullptr, CurrentTaskRunnerHandle::Get());
}

TEST(MessageLoopTest, TaskChainNamesThePostingTask) {
  MessageLoop loop;
  const void* outer_origin = nullptr;
  const void* chain[PostedTask::kTaskChainLength] = {};
  const void* first_chain_entry = nullptr;
  loop.task_runner()->PostTask(FROM_HERE, Task([&] {
    const PostedTask* outer = TaskAnnotator::CurrentTaskForThread();
    outer_origin = outer->posted_from.program_counter();
    first_chain_entry = outer->task_chain[0];
    MessageLoop::current()->task_runner()->PostTask(FROM_HERE, Task([&] {
      const PostedTask* inner = TaskAnnotator::CurrentTaskForThread();
      std::copy(inner->task_chain,
                inner->task_chain + PostedTask::kTaskChainLength, chain);
    }));
  }));
  RunUntilIdle();
  EXPECT_EQ(nullptr, first_chain_entry);  // Posted from outside any task.
  ASSERT_NE(nullptr, outer_origin);
  EXPECT_EQ(outer_origin, chain[0]);
  EXPECT_EQ(nullptr, chain[1]);
  EXPECT_EQ(nullptr, TaskAnnotator::CurrentTaskForThread());
}

}  // namespace
}  // namespace base

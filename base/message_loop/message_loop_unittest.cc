#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_io.h"
#include "base/message_loop/message_pump_ui.h"
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

// Wraps a loop's real pump to tell a lost wake-up from a slow machine,
// without a clock. The loop asks for a wake-up when a post finds its queue
// drained: so once every post has returned, a loop that drained with no
// wake-up asked for since can never run the tasks left, however long it is
// given.
class WakeUpAudit : public MessagePump, private MessagePump::Delegate {
 public:
  enum class Verdict { kDrained, kLostWakeUp, kSleptThroughWakeUp };

  explicit WakeUpAudit(std::unique_ptr<MessagePump> pump)
      : pump_(std::move(pump)) {}

  static MessageLoop::PumpFactory Factory(Type type, WakeUpAudit** made) {
    return Bind<std::unique_ptr<MessagePump>()>(
        [](Type type, WakeUpAudit** made) -> std::unique_ptr<MessagePump> {
          std::unique_ptr<MessagePump> real;
          if (type == Type::kUI)
            real = std::make_unique<MessagePumpForUI>();
          else if (type == Type::kIO)
            real = std::make_unique<MessagePumpForIO>();
          else
            real = std::make_unique<MessagePumpDefault>();
          auto audit = std::make_unique<WakeUpAudit>(std::move(real));
          *made = audit.get();
          return audit;
        },
        type, made);
  }

  // Any thread, once every post has returned: waits until the loop has run
  // `total` tasks in all and then found its queue empty, or is found unable
  // to get there.
  Verdict AwaitDrained(int total) {
    std::unique_lock<std::mutex> hold(lock_);
    Verdict verdict = Verdict::kDrained;
    while (!drained_ || ran_at_drain_ != total) {
      if (drained_ && wake_ups_ == wake_ups_before_drain_ && *ran_ != total) {
        verdict = Verdict::kLostWakeUp;
        break;
      }
      // Only a pump that ignores its wake-up leaves the loop unturned this
      // long; a slow machine turns it, however slowly.
      if (!changed_.wait_for(hold, kPumpStall, [&] { return changes_; })) {
        verdict = Verdict::kSleptThroughWakeUp;
        break;
      }
      changes_ = false;
    }
    return verdict;
  }

  // Any thread: makes the loop look at its queue once more, whatever the
  // queue asked for. Lets a loop that lost its wake-up end its run.
  void WakeUpPastQueue() { pump_->WakeUp(); }

  // The count of tasks run, which the loop's tasks keep.
  void set_ran(const std::atomic<int>* ran) { ran_ = ran; }

  // MessagePump:
  void Run(MessagePump::Delegate* delegate) override {
    loop_ = delegate;
    pump_->Run(this);
  }
  void Quit() override { pump_->Quit(); }
  void WakeUp() override {
    Changed([&] { ++wake_ups_; });
    pump_->WakeUp();
  }
  void SetWakeUpTime(TickTime wake_up_time) override {
    pump_->SetWakeUpTime(wake_up_time);
  }

 private:
  static constexpr std::chrono::seconds kPumpStall{120};

  // MessagePump::Delegate:
  bool RunReadyTasks() override {
    int before = 0;
    Changed([&] { before = wake_ups_; });
    // Read before the loop takes in its posts: a post after that asks for
    // a wake-up, and counts past it.
    const bool did_work = loop_->RunReadyTasks();
    Changed([&] {
      drained_ = !did_work;
      wake_ups_before_drain_ = before;
      ran_at_drain_ = *ran_;
    });
    return did_work;
  }
  bool RunDueDelayedTask(TickTime* next_wake_up) override {
    return loop_->RunDueDelayedTask(next_wake_up);
  }
  bool OnIdle() override { return loop_->OnIdle(); }

  template <class F>
  void Changed(F change) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      change();
      changes_ = true;
    }
    changed_.notify_all();
  }

  std::unique_ptr<MessagePump> pump_;
  MessagePump::Delegate* loop_ = nullptr;
  const std::atomic<int>* ran_ = nullptr;
  std::mutex lock_;
  std::condition_variable changed_;
  bool changes_ = false;
  int wake_ups_ = 0;
  // Whether the loop's last look found no task, the wake-ups asked for
  // before it looked, and the tasks run by then.
  bool drained_ = false;
  int wake_ups_before_drain_ = 0;
  int ran_at_drain_ = 0;
};

std::ostream& operator<<(std::ostream& out, WakeUpAudit::Verdict verdict) {
  static constexpr const char* kNames[] = {
      "drained", "lost a wake-up", "slept through a wake-up"};
  return out << kNames[static_cast<int>(verdict)];
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

// In rounds: each starts once the loop has drained the one before, and
// its first posts race from eight threads to wake the loop.
TEST_P(MessageLoopTypeTest, TasksFromEightThreadsRunExactlyOnceInOrder) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 40;
  constexpr int kPostsPerRound = 5;
  constexpr int kPostsPerThread = kRounds * kPostsPerRound;
  WakeUpAudit* audit = nullptr;
  MessageLoop loop(Type::kCustom, WakeUpAudit::Factory(GetParam(), &audit));
  loop.BindToCurrentThread();
  std::vector<std::vector<int>> runs(kThreads,
                                     std::vector<int>(kPostsPerThread, 0));
  std::vector<int> next_expected(kThreads, 0);
  int out_of_order = 0;
  std::atomic<int> total{0};
  audit->set_ran(&total);
  LoopRunner runner;
  RefPtr<LoopTaskRunner> task_runner = loop.task_runner();

  std::mutex round_lock;
  std::condition_variable round_changed;
  // The round the posters may post; kRounds once there are no more.
  int round = -1;
  int posters_done = 0;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        {
          std::unique_lock<std::mutex> hold(round_lock);
          round_changed.wait(hold, [&] { return round >= r; });
          if (round == kRounds)
            return;
        }
        for (int i = r * kPostsPerRound; i < (r + 1) * kPostsPerRound; ++i) {
          task_runner->PostTask(FROM_HERE, Task([&, t, i] {
            ++runs[t][i];
            if (next_expected[t] != i)
              ++out_of_order;
            next_expected[t] = i + 1;
            ++total;
          }));
        }
        {
          std::lock_guard<std::mutex> hold(round_lock);
          ++posters_done;
        }
        round_changed.notify_all();
      }
    });
  }
  WakeUpAudit::Verdict verdict = WakeUpAudit::Verdict::kDrained;
  std::thread auditor([&] {
    for (int r = 0; r < kRounds && verdict == WakeUpAudit::Verdict::kDrained;
         ++r) {
      {
        std::lock_guard<std::mutex> hold(round_lock);
        round = r;
        posters_done = 0;
      }
      round_changed.notify_all();
      {
        std::unique_lock<std::mutex> hold(round_lock);
        round_changed.wait(hold, [&] { return posters_done == kThreads; });
      }
      verdict = audit->AwaitDrained((r + 1) * kThreads * kPostsPerRound);
      // Told at once: a pump that slept through its wake-up may never let
      // the run end.
      if (verdict != WakeUpAudit::Verdict::kDrained)
        ADD_FAILURE() << "The loop " << verdict << " in round " << r;
    }
    {
      std::lock_guard<std::mutex> hold(round_lock);
      round = kRounds;
    }
    round_changed.notify_all();
    task_runner->PostTask(FROM_HERE, Task([&] { runner.Quit(); }));
    if (verdict != WakeUpAudit::Verdict::kDrained)
      audit->WakeUpPastQueue();
  });
  runner.Run();
  auditor.join();
  for (std::thread& poster : posters)
    poster.join();

  if (verdict != WakeUpAudit::Verdict::kDrained)
    return;
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

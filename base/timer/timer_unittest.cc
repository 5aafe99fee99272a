#include "base/timer/timer.h"

#include <memory>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/test/life_record.h"
#include "base/test/scoped_log_capture.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TimeDelta Ms(int64_t ms) {
  return TimeDelta::FromMilliseconds(ms);
}

// Runs the current loop for `duration`.
void RunFor(TimeDelta duration) {
  LoopRunner runner;
  MessageLoop::current()->task_runner()->PostTaskWithDelay(
      FROM_HERE, runner.QuitClosure(), duration);
  runner.Run();
}

// Posts `work` to run after `delay` on the current loop.
template <class Work>
void PostLater(TimeDelta delay, Work work) {
  MessageLoop::current()->task_runner()->PostTaskWithDelay(
      FROM_HERE, Bind(work), delay);
}

class TimerTest : public testing::Test {
 protected:
  MessageLoop loop_;
};

TEST_F(TimerTest, OneShotRunsOnceAndNeverEarly) {
  for (int64_t us : {0, 1500, 10000, 25300}) {
    SCOPED_TRACE(us);
    const TimeDelta delay = TimeDelta::FromMicroseconds(us);
    Timer timer(false, false);
    std::vector<TickTime> runs;
    const TickTime start = TickTime::Now();
    timer.Start(FROM_HERE, delay,
                Bind([&runs] { runs.push_back(TickTime::Now()); }));
    EXPECT_TRUE(timer.IsRunning());
    RunFor(delay + Ms(60));
    ASSERT_EQ(1u, runs.size());
    EXPECT_GE(runs[0] - start, delay);
    EXPECT_FALSE(timer.IsRunning());
  }
}

TEST_F(TimerTest, RepeatingRunsEveryDelayUntilItsTaskStopsIt) {
  // The loop ends from the third run itself, so a late wake-up on a busy
  // machine cannot cut the runs short.
  const TimeDelta delay = TimeDelta::FromMicroseconds(7500);
  Timer timer(true, true);
  std::vector<TickTime> runs;
  LoopRunner runner;
  const TickTime start = TickTime::Now();
  timer.Start(FROM_HERE, delay, Bind([&] {
                runs.push_back(TickTime::Now());
                if (runs.size() == 3) {
                  timer.Stop();  // Its next task is queued already.
                  runner.Quit();
                }
              }));
  runner.Run();
  // The abandoned next task is due before this quit and must do nothing.
  RunFor(Ms(40));
  ASSERT_EQ(3u, runs.size());
  // Each run is scheduled when the one before starts, so run k comes no
  // earlier than k delays after the start.
  for (size_t k = 0; k < runs.size(); ++k)
    EXPECT_GE(runs[k] - start, delay * static_cast<int64_t>(k + 1));
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, ResetBeforeItFiresMovesTheSingleRunLater) {
  Timer timer(false, false);
  std::vector<TickTime> runs;
  LoopRunner runner;
  timer.Start(FROM_HERE, Ms(40), Bind([&] {
                runs.push_back(TickTime::Now());
                runner.Quit();
              }));
  TickTime reset_at;
  PostLater(Ms(30), [&] {
    reset_at = TickTime::Now();
    timer.Reset();
  });
  runner.Run();
  // Anything the reset abandoned is due before this quit.
  RunFor(Ms(80));
  ASSERT_EQ(1u, runs.size());
  ASSERT_FALSE(reset_at.is_null());
  EXPECT_GE(runs[0] - reset_at, Ms(40));
}

TEST_F(TimerTest, RestartWithAnEarlierDeadlineRunsAtTheNewTime) {
  Timer timer(false, false);
  std::vector<TickTime> runs;
  timer.Start(FROM_HERE, Ms(500), Bind([] { ADD_FAILURE() << "old task"; }));
  const TickTime start = TickTime::Now();
  timer.Start(FROM_HERE, Ms(10),
              Bind([&runs] { runs.push_back(TickTime::Now()); }));
  // The quit is due at 80 ms: the run comes first only if the timer took the
  // new, earlier deadline.
  RunFor(Ms(80));
  ASSERT_EQ(1u, runs.size());
  EXPECT_GE(runs[0] - start, Ms(10));
}

TEST_F(TimerTest, StopReleasesOrKeepsTheTaskAsConfigured) {
  for (bool retain : {false, true}) {
    SCOPED_TRACE(retain);
    LifeRecord record;
    int runs = 0;
    Timer timer(retain, false);
    timer.Start(FROM_HERE, Ms(5),
                Bind([&runs](Tracked&) { ++runs; }, Tracked(&record)));
    timer.Stop();
    EXPECT_EQ(retain ? 0 : 1, record.destructions);
    // Without a kept task a reset has nothing to run.
    timer.Reset();
    EXPECT_EQ(retain, timer.IsRunning());
    RunFor(Ms(40));
    EXPECT_EQ(retain ? 1 : 0, runs);
  }
}

TEST_F(TimerTest, DestroyedWhilePendingNeverRuns) {
  for (bool stop_first : {false, true}) {
    SCOPED_TRACE(stop_first);
    LifeRecord record;
    auto timer = std::make_unique<Timer>(true, false);
    timer->Start(FROM_HERE, Ms(10),
                 Bind([](Tracked&) { ADD_FAILURE() << "ran"; },
                      Tracked(&record)));
    if (stop_first)
      timer->Stop();
    timer.reset();
    EXPECT_EQ(1, record.destructions);
    RunFor(Ms(40));  // The abandoned task runs and does nothing.
  }
}

TEST_F(TimerTest, UserTaskMayDestroyTheTimer) {
  auto timer = std::make_unique<Timer>(false, true);
  int runs = 0;
  timer->Start(FROM_HERE, Ms(2), Bind([&] {
                 ++runs;
                 timer.reset();
               }));
  RunFor(Ms(40));
  EXPECT_EQ(1, runs);
  EXPECT_EQ(nullptr, timer);
}

TEST(TimerLoopTest, DestroyingTheLoopStopsAPendingTimer) {
  Timer timer(true, false);
  {
    MessageLoop loop;
    timer.Start(FROM_HERE, Ms(1000), Bind([] { ADD_FAILURE() << "ran"; }));
    EXPECT_TRUE(timer.IsRunning());
  }
  EXPECT_FALSE(timer.IsRunning());
}

TEST(TimerLoopTest, ThreadWithoutTaskRunnerLeavesTheTimerStopped) {
  std::thread([] {
    ScopedLogCapture log;
    Timer timer(true, false);
    timer.Start(FROM_HERE, Ms(1), Bind([] {}));
    EXPECT_FALSE(timer.IsRunning());
    EXPECT_EQ(1u, log.lines().size());
  }).join();
}

}  // namespace
}  // namespace base

#include "base/message_loop/loop_runner.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "gtest/gtest.h"

namespace base {
namespace {

template <class F>
Closure Task(F function) {
  return Bind(std::move(function));
}

void Post(Closure task) {
  MessageLoop::current()->task_runner()->PostTask(FROM_HERE, std::move(task));
}

TEST(LoopRunnerTest, RunAfterQuitReturnsAtOnce) {
  MessageLoop loop;
  bool ran = false;
  Post(Task([&] { ran = true; }));
  LoopRunner runner;
  runner.Quit();
  runner.Run();
  EXPECT_FALSE(ran);
}

TEST(LoopRunnerTest, QuitOnceIdleFinishesQueuedTasksFirst) {
  MessageLoop loop;
  std::vector<int> order;
  LoopRunner runner;
  for (int i = 0; i < 5; ++i) {
    Post(Task([&, i] {
      order.push_back(i);
      if (i == 0)
        runner.QuitOnceIdle();
    }));
  }
  runner.Run();
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4}), order);
}

TEST(LoopRunnerTest, QuitOfOuterRunnerTakesEffectWhenInnerRunReturns) {
  MessageLoop loop;
  std::vector<std::string> log;
  LoopRunner outer;
  Post(Task([&] {
    LoopRunner inner;
    Post(Task([&] { outer.Quit(); }));
    Post(Task([&] { log.push_back("inner run goes on"); }));
    Post(inner.QuitClosure());
    MessageLoop::current()->SetNestableTasksAllowed(true);
    inner.Run();
    log.push_back("inner run returned");
    Post(Task([&] { log.push_back("after the outer quit"); }));
  }));
  outer.Run();
  EXPECT_EQ((std::vector<std::string>{"inner run goes on", "inner run returned"}),
            log);

  LoopRunner drain;
  drain.QuitOnceIdle();
  drain.Run();
  EXPECT_EQ("after the outer quit", log.back());
}

TEST(LoopRunnerTest, QuitClosureOutlivingItsRunnerDoesNothing) {
  MessageLoop loop;
  Closure quit;
  {
    LoopRunner runner;
    quit = runner.QuitClosure();
    EXPECT_FALSE(quit.IsCancelled());
  }
  EXPECT_TRUE(quit.IsCancelled());
  quit.Run();

  // A later runner is not quit by it.
  LoopRunner runner;
  bool second_task_ran = false;
  Post(quit);
  Post(Task([&] {
    second_task_ran = true;
    runner.Quit();
  }));
  runner.Run();
  EXPECT_TRUE(second_task_ran);
}

TEST(LoopRunnerTest, NestedRunsCountTheirDepth) {
  MessageLoop loop;
  std::vector<uint32_t> depths;
  LoopRunner outer;
  Post(Task([&] {
    depths.push_back(outer.depth());
    LoopRunner inner;
    Post(Task([&] {
      depths.push_back(inner.depth());
      inner.Quit();
    }));
    MessageLoop::current()->SetNestableTasksAllowed(true);
    inner.Run();
    outer.Quit();
  }));
  outer.Run();
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), depths);
}

TEST(LoopRunnerTest, NestedRunInsideTaskRunsNoTasksUnlessAllowed) {
  MessageLoop loop;
  bool inner_task_ran_inside = false;
  bool inside = false;
  LoopRunner outer;
  Post(Task([&] {
    LoopRunner inner;
    inside = true;
    Post(Task([&] { inner_task_ran_inside = inside; }));
    // Without the allowance the nested run finds no task it may run and is
    // idle at once.
    inner.QuitOnceIdle();
    inner.Run();
    inside = false;
    Post(outer.QuitClosure());
  }));
  outer.Run();
  EXPECT_FALSE(inner_task_ran_inside);
}

}  // namespace
}  // namespace base

#include "base/worker_pool.h"

#include <windows.h>

#include <atomic>
#include <future>

#include "base/bind.h"
#include "base/post_task_and_reply.h"
#include "base/test/life_record.h"
#include "base/test/test_thread_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(WorkerPoolTest, RunsOnASystemPoolThread) {
  for (bool slow : {false, true}) {
    LifeRecord life;
    std::promise<void> values_gone;
    std::atomic<DWORD> ran_on{0};
    std::atomic<bool> flagged{false};
    // Members go in reverse order: `tracked` first, then the signal.
    struct BoundValue {
      std::unique_ptr<std::promise<void>, void (*)(std::promise<void>*)>
          signal;
      Tracked tracked;
    };
    auto set = [](std::promise<void>* promise) { promise->set_value(); };
    ASSERT_TRUE(WorkerPool::PostTask(
        FROM_HERE,
        Bind(
            [&](BoundValue&) {
              ran_on = GetCurrentThreadId();
              flagged = WorkerPool::RunsTasksOnCurrentThread();
            },
            BoundValue{{&values_gone, set}, Tracked(&life)}),
        slow));
    values_gone.get_future().wait();
    EXPECT_NE(0u, ran_on);
    EXPECT_NE(GetCurrentThreadId(), ran_on);
    EXPECT_TRUE(flagged);
    EXPECT_FALSE(WorkerPool::RunsTasksOnCurrentThread());
    // Released by the pool thread right after the run.
    EXPECT_EQ(1, life.destructions);
    EXPECT_EQ(ran_on, life.thread_id);
  }
}

TEST(WorkerPoolTest, ReplyFromThePoolComesBackToTheOrigin) {
  RefPtr<TestThreadRunner> origin = TestThreadRunner::Start();
  std::promise<void> replied;
  std::atomic<DWORD> task_thread{0}, reply_thread{0};
  bool posted = false;
  origin->RunAndWait([&] {
    WorkerPoolRelay poster(/*task_is_slow=*/false);
    posted = PostTaskAndReplyCore(
        poster, FROM_HERE, Bind([&] { task_thread = GetCurrentThreadId(); }),
        Bind([&] {
          reply_thread = GetCurrentThreadId();
          replied.set_value();
        }));
  });
  ASSERT_TRUE(posted);
  replied.get_future().wait();
  origin->Stop();
  EXPECT_NE(origin->thread_id(), task_thread);
  EXPECT_EQ(origin->thread_id(), reply_thread);
}

}  // namespace
}  // namespace base

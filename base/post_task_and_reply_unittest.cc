#include "base/post_task_and_reply.h"

#include <windows.h>

#include <atomic>
#include <future>

#include "base/bind.h"
#include "base/test/life_record.h"
#include "base/test/test_thread_runner.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class PostTaskAndReplyTest : public testing::Test {
 protected:
  void SetUp() override {
    origin_ = TestThreadRunner::Start();
    target_ = TestThreadRunner::Start();
  }
  void TearDown() override {
    origin_->Stop();
    target_->Stop();
    origin_.reset();
    target_.reset();
    // Every reference the relay took is gone.
    EXPECT_EQ(0, TestThreadRunner::live_count());
  }

  RefPtr<TestThreadRunner> origin_;
  RefPtr<TestThreadRunner> target_;
};

TEST_F(PostTaskAndReplyTest, ReplyRunsOnOriginAfterTaskValuesAreGone) {
  LifeRecord task_life, reply_life;
  std::atomic<DWORD> task_thread{0}, reply_thread{0};
  std::atomic<int> task_destructions_at_reply{-1};
  std::promise<void> replied;
  bool posted = false;
  origin_->RunAndWait([&] {
    posted = PostTaskAndReply(
        *target_, FROM_HERE,
        Bind([&](Tracked&) { task_thread = GetCurrentThreadId(); },
             Tracked(&task_life)),
        Bind(
            [&](Tracked&) {
              reply_thread = GetCurrentThreadId();
              task_destructions_at_reply = task_life.destructions.load();
              replied.set_value();
            },
            Tracked(&reply_life)));
  });
  ASSERT_TRUE(posted);
  replied.get_future().wait();
  origin_->Stop();
  EXPECT_EQ(target_->thread_id(), task_thread);
  EXPECT_EQ(origin_->thread_id(), reply_thread);
  EXPECT_EQ(1, task_destructions_at_reply);
  EXPECT_EQ(1, task_life.destructions);
  EXPECT_EQ(1, reply_life.destructions);
}

TEST_F(PostTaskAndReplyTest, ThreadWithoutRunnerFailsAndReleasesBoth) {
  LifeRecord task_life, reply_life;
  bool ran = false;
  EXPECT_FALSE(PostTaskAndReply(*target_, FROM_HERE,
                                Bind([&](Tracked&) { ran = true; },
                                     Tracked(&task_life)),
                                Bind([&](Tracked&) { ran = true; },
                                     Tracked(&reply_life))));
  target_->Stop();
  EXPECT_FALSE(ran);
  EXPECT_EQ(1, task_life.destructions);
  EXPECT_EQ(1, reply_life.destructions);
}

TEST_F(PostTaskAndReplyTest, StoppedTargetFailsAndReleasesBoth) {
  LifeRecord task_life, reply_life;
  bool ran = false, posted = true;
  target_->Stop();
  origin_->RunAndWait([&] {
    posted = PostTaskAndReply(
        *target_, FROM_HERE,
        Bind([&](Tracked&) { ran = true; }, Tracked(&task_life)),
        Bind([&](Tracked&) { ran = true; }, Tracked(&reply_life)));
  });
  EXPECT_FALSE(posted);
  EXPECT_FALSE(ran);
  EXPECT_EQ(1, task_life.destructions);
  EXPECT_EQ(1, reply_life.destructions);
}

TEST_F(PostTaskAndReplyTest, GoneOriginDropsTheReplyUnrun) {
  LifeRecord task_life, reply_life;
  std::promise<void> origin_stopped;
  std::shared_future<void> origin_stopped_future = origin_stopped.get_future();
  bool reply_ran = false;
  origin_->RunAndWait([&] {
    EXPECT_TRUE(PostTaskAndReply(
        *target_, FROM_HERE,
        Bind([&](Tracked&) { origin_stopped_future.wait(); },
             Tracked(&task_life)),
        Bind([&](Tracked&) { reply_ran = true; }, Tracked(&reply_life))));
  });
  origin_->Stop();
  origin_stopped.set_value();
  target_->Stop();
  EXPECT_FALSE(reply_ran);
  EXPECT_EQ(1, task_life.destructions);
  EXPECT_EQ(1, reply_life.destructions);
  EXPECT_EQ(target_->thread_id(), reply_life.thread_id);
  // TearDown checks that the origin runner's reference was released too.
}

TEST_F(PostTaskAndReplyTest, PostDeleteSoonDeletesOnTheRunner) {
  struct Doomed {
    static void Delete(void* self) {
      std::unique_ptr<Doomed>(static_cast<Doomed*>(self));
    }
    Tracked tracked;
  };
  LifeRecord life;
  auto doomed = std::make_unique<Doomed>(Doomed{Tracked(&life)});
  EXPECT_TRUE(PostDeleteSoon(*target_, FROM_HERE, &Doomed::Delete,
                             doomed.release()));
  target_->Stop();
  EXPECT_EQ(1, life.destructions);
  EXPECT_EQ(target_->thread_id(), life.thread_id);
}

TEST_F(PostTaskAndReplyTest, CurrentRunnerIsTheThreadsOwn) {
  EXPECT_FALSE(CurrentTaskRunnerHandle::Get());
  EXPECT_FALSE(GetCurrentSequencedTaskRunner());
  RefPtr<SequencedTaskRunner> seen;
  bool on_own_thread = false;
  target_->RunAndWait([&] {
    seen = CurrentTaskRunnerHandle::Get();
    on_own_thread = seen && seen->IsOnOwnThread();
  });
  EXPECT_EQ(target_.get(), seen.get());
  EXPECT_TRUE(on_own_thread);
  EXPECT_FALSE(target_->IsOnOwnThread());
  seen.reset();
}

SequencedTaskRunner* g_pool_runner = nullptr;

RefPtr<SequencedTaskRunner> GetPoolRunner() {
  return RefPtr<SequencedTaskRunner>(g_pool_runner);
}

TEST_F(PostTaskAndReplyTest, PoolAnswersWhereNoHandleIs) {
  g_pool_runner = origin_.get();
  SetPoolSequenceRunnerGetter(&GetPoolRunner);
  EXPECT_EQ(origin_.get(), GetCurrentSequencedTaskRunner().get());
  RefPtr<SequencedTaskRunner> on_target;
  target_->RunAndWait([&] { on_target = GetCurrentSequencedTaskRunner(); });
  EXPECT_EQ(target_.get(), on_target.get());
  on_target.reset();
  SetPoolSequenceRunnerGetter(nullptr);
  g_pool_runner = nullptr;
  EXPECT_FALSE(GetCurrentSequencedTaskRunner());
}

}  // namespace
}  // namespace base

#include "base/win/object_watcher.h"

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/current_task_runner_handle.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/test/scoped_log_capture.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

// Only a hang guard: a child process under a busy Wine may take long to
// start and end, and a slow machine must not fail the test.
constexpr TimeDelta kPatience = TimeDelta::FromSeconds(600);

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  void OnObjectSignaled(HANDLE object) override {
    signaled.push_back(object);
    // Taken out first: it may set a new one.
    std::function<void()> work = std::move(next);
    next = nullptr;
    if (work)
      work();
    if (runner)
      runner->Quit();
  }

  std::vector<HANDLE> signaled;
  LoopRunner* runner = nullptr;
  // Runs inside the notification.
  std::function<void()> next;
};

// Runs the loop until the delegate quits it or the patience runs out.
void RunUntilSignaled(RecordingDelegate& delegate) {
  LoopRunner runner;
  delegate.runner = &runner;
  MessageLoop::current()->task_runner()->PostTaskWithDelay(
      FROM_HERE, runner.QuitClosure(), kPatience);
  runner.Run();
  delegate.runner = nullptr;
}

// Runs what is queued now and what the wait thread posts meanwhile.
void RunBriefly() {
  LoopRunner runner;
  MessageLoop::current()->task_runner()->PostTaskWithDelay(
      FROM_HERE, runner.QuitClosure(), TimeDelta::FromMilliseconds(50));
  runner.Run();
}

ScopedHandle MakeEvent(bool signaled) {
  return ScopedHandle(CreateEventW(nullptr, TRUE, signaled, nullptr));
}

// The loop's runner, made the thread's current one, that sets `posted` once
// a task came: the wait thread's post is then in the loop's queue.
class PostSignallingRunner : public SequencedTaskRunner {
 public:
  PostSignallingRunner(RefPtr<SequencedTaskRunner> loop, HANDLE posted)
      : loop_(std::move(loop)), posted_(posted) {}

  bool PostTaskWithDelay(const SourceLocation& from_here, Closure task,
                         TimeDelta delay) override {
    const bool queued =
        loop_->PostTaskWithDelay(from_here, std::move(task), delay);
    SetEvent(posted_);
    return queued;
  }
  bool PostNonNestableTaskWithDelay(const SourceLocation& from_here,
                                    Closure task, TimeDelta delay) override {
    return loop_->PostNonNestableTaskWithDelay(from_here, std::move(task),
                                               delay);
  }
  bool IsOnOwnThread() const override { return loop_->IsOnOwnThread(); }

 private:
  ~PostSignallingRunner() override = default;

  RefPtr<SequencedTaskRunner> loop_;
  HANDLE posted_;
};

class ObjectWatcherTest : public testing::Test {
 protected:
  MessageLoop loop_;
  RecordingDelegate delegate_;
};

TEST_F(ObjectWatcherTest, SeesAChildProcessExit) {
  std::wstring command = L"cmd.exe /c exit 3";
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &info));
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);

  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatching(process.Get(), &delegate_));
  RunUntilSignaled(delegate_);
  ASSERT_EQ(1u, delegate_.signaled.size());
  EXPECT_EQ(process.Get(), delegate_.signaled[0]);
  DWORD exit_code = 0;
  ASSERT_TRUE(GetExitCodeProcess(process.Get(), &exit_code));
  EXPECT_EQ(3u, exit_code);
  // The watch is over once it fired.
  EXPECT_FALSE(watcher.StopWatching());
}

TEST_F(ObjectWatcherTest, SignalledObjectNotifiesOnceAsAPostedTask) {
  ScopedHandle event = MakeEvent(true);
  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatching(event.Get(), &delegate_));
  EXPECT_TRUE(delegate_.signaled.empty());
  RunUntilSignaled(delegate_);
  RunBriefly();
  EXPECT_EQ(1u, delegate_.signaled.size());
}

TEST_F(ObjectWatcherTest, StopOrDestroyBeforeTheTaskRunsSilencesIt) {
  EXPECT_FALSE(ObjectWatcher().StopWatching());
  for (bool destroy : {false, true}) {
    SCOPED_TRACE(destroy);
    ScopedHandle event = MakeEvent(false);
    ScopedHandle posted = MakeEvent(false);
    {
      CurrentTaskRunnerHandle current(MakeRefCounted<PostSignallingRunner>(
          loop_.task_runner(), posted.Get()));
      ObjectWatcher watcher;
      ASSERT_TRUE(watcher.StartWatching(event.Get(), &delegate_));
      SetEvent(event.Get());
      // The wait thread's task is queued; the loop has not run it.
      ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(posted.Get(), INFINITE));
      if (!destroy) {
        EXPECT_TRUE(watcher.StopWatching());
      }
    }
    RunBriefly();
    EXPECT_TRUE(delegate_.signaled.empty());
  }
}

TEST_F(ObjectWatcherTest, DelegateCanWatchAgainFromTheNotification) {
  ScopedHandle first = MakeEvent(true);
  ScopedHandle second = MakeEvent(false);
  ObjectWatcher watcher;
  delegate_.next = [&] {
    EXPECT_TRUE(watcher.StartWatching(second.Get(), &delegate_));
    SetEvent(second.Get());
  };
  ASSERT_TRUE(watcher.StartWatching(first.Get(), &delegate_));
  RunUntilSignaled(delegate_);
  RunUntilSignaled(delegate_);
  ASSERT_EQ(2u, delegate_.signaled.size());
  EXPECT_EQ(first.Get(), delegate_.signaled[0]);
  EXPECT_EQ(second.Get(), delegate_.signaled[1]);
}

TEST(ObjectWatcherThreadTest, ThreadWithoutTaskRunnerCannotWatch) {
  ScopedHandle event = MakeEvent(true);
  RecordingDelegate delegate;
  std::thread([&] {
    ScopedLogCapture log;
    ObjectWatcher watcher;
    EXPECT_FALSE(watcher.StartWatching(event.Get(), &delegate));
  }).join();
  EXPECT_TRUE(delegate.signaled.empty());
}

}  // namespace
}  // namespace base::win

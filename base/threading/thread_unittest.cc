#include "base/threading/thread.h"

#include <objbase.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_pump_default.h"
#include "base/test/life_record.h"
#include "base/test/scoped_log_capture.h"
#include "base/threading/sync_event.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/time_delta.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Runs `work` on `thread` and waits for it.
template <class Work>
void RunOnThread(Thread& thread, Work work) {
  SyncEvent done(SyncEvent::ResetMode::kManual,
                 SyncEvent::InitialState::kNotSignaled);
  ASSERT_TRUE(thread.GetTaskRunner()->PostTask(FROM_HERE, Bind([&] {
    work();
    done.Signal();
  })));
  done.Wait();
}

TEST(ThreadTest, StopRunsTheQueuedTasksInOrderFirst) {
  Thread thread("Ordered");
  ASSERT_TRUE(thread.Start());
  std::vector<int> ran;
  std::vector<DWORD> thread_ids;
  for (int i = 0; i < 100; ++i) {
    thread.GetTaskRunner()->PostTask(FROM_HERE, Bind([&, i] {
      ran.push_back(i);
      thread_ids.push_back(GetCurrentThreadId());
    }));
  }
  const DWORD id = thread.GetThreadId();
  thread.Stop();
  ASSERT_EQ(100u, ran.size());
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(i, ran[i]);
    EXPECT_EQ(id, thread_ids[i]);
  }
  EXPECT_NE(GetCurrentThreadId(), id);
  EXPECT_FALSE(thread.IsRunning());
}

TEST(ThreadTest, NameIsReadBackFromTheSystemAndTheRegistry) {
  Thread thread("Installer IPC thread");
  ASSERT_TRUE(thread.Start());
  std::string registry_name;
  RunOnThread(thread, [&] {
    registry_name =
        ThreadNameRegistry::GetInstance()->GetName(GetCurrentThreadId());
  });
  EXPECT_EQ("Installer IPC thread", registry_name);

  using GetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  auto get_description = reinterpret_cast<GetThreadDescriptionFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                             "GetThreadDescription")));
  if (!get_description) {
    GTEST_SKIP() << "GetThreadDescription is absent: only the registry name "
                    "can be read back";
  }
  HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE,
                             thread.GetThreadId());
  ASSERT_NE(nullptr, handle);
  win::ScopedLocalAlloc<wchar_t> description;
  ASSERT_TRUE(SUCCEEDED(get_description(handle, description.Receive())));
  EXPECT_STREQ(L"Installer IPC thread", description.Get());
  CloseHandle(handle);
}

TEST(ThreadTest, TasksPostedAfterStopAreReleasedUnrun) {
  Thread thread("Stopped");
  EXPECT_EQ(nullptr, thread.GetTaskRunner());
  thread.Stop();  // Never started: nothing to do.
  ASSERT_TRUE(thread.Start());
  RefPtr<SequencedTaskRunner> runner = thread.GetTaskRunner();
  thread.Stop();
  thread.Stop();
  EXPECT_EQ(nullptr, thread.GetTaskRunner());

  LifeRecord record;
  bool ran = false;
  EXPECT_FALSE(runner->PostTask(
      FROM_HERE, Bind([&ran](Tracked&) { ran = true; }, Tracked(&record))));
  EXPECT_FALSE(ran);
  EXPECT_EQ(1, record.destructions);
}

TEST(ThreadTest, DestroyingANonJoinableThreadWaitsForIt) {
  std::atomic<bool> finished{false};
  {
    Thread thread("Detached loop");
    ThreadStartOptions options;
    options.joinable = false;
    ASSERT_TRUE(thread.StartWithOptions(options));
    thread.GetTaskRunner()->PostTask(FROM_HERE, Bind([&finished] {
      Sleep(100);
      finished = true;
    }));
    thread.Stop();  // Only asks.
  }
  EXPECT_TRUE(finished);
}

TEST(ThreadTest, LoopTypeFollowsComModeAndPumpFactory) {
  struct Case {
    const char* name;
    Thread::ComMode com_mode;
    bool with_factory;
    MessageLoop::Type expected;
  };
  const Case kCases[] = {
      {"plain", Thread::ComMode::kNone, false, MessageLoop::Type::kDefault},
      {"sta", Thread::ComMode::kApartmentThreaded, false,
       MessageLoop::Type::kUI},
      {"mta", Thread::ComMode::kMultithreaded, false,
       MessageLoop::Type::kDefault},
      {"factory", Thread::ComMode::kNone, true, MessageLoop::Type::kCustom},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Thread thread(c.name);
    thread.set_com_mode(c.com_mode);
    bool started = false;
    if (c.with_factory) {
      ThreadStartOptions options;
      options.loop_type = MessageLoop::Type::kIO;
      options.pump_factory = Bind<std::unique_ptr<MessagePump>()>(
          []() -> std::unique_ptr<MessagePump> {
            return std::make_unique<MessagePumpDefault>();
          });
      started = thread.StartWithOptions(options);
    } else {
      started = thread.Start();
    }
    ASSERT_TRUE(started);
    MessageLoop::Type type = MessageLoop::Type::kDefault;
    HRESULT com = E_FAIL;
    bool running = false;
    RunOnThread(thread, [&] {
      type = MessageLoop::current()->type();
      running = thread.IsRunning();
      com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (SUCCEEDED(com))
        CoUninitialize();
    });
    EXPECT_EQ(c.expected, type);
    EXPECT_TRUE(running);
    switch (c.com_mode) {
      case Thread::ComMode::kNone:
        EXPECT_EQ(S_OK, com);
        break;
      case Thread::ComMode::kApartmentThreaded:
        EXPECT_EQ(S_FALSE, com);  // Already in that apartment.
        break;
      case Thread::ComMode::kMultithreaded:
        EXPECT_EQ(RPC_E_CHANGED_MODE, com);
        break;
    }
  }
}

TEST(ThreadTest, FailedOrDoubleStartLeavesAUsableThread) {
  ScopedLogCapture log;
  Thread thread("Restartable");
  ThreadStartOptions huge;
  huge.stack_size = uint64_t{1} << 60;
  EXPECT_FALSE(thread.StartWithOptions(huge));
  EXPECT_EQ(nullptr, thread.GetTaskRunner());
  EXPECT_EQ(0u, thread.GetThreadId());

  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());  // Still running.
  bool ran = false;
  RunOnThread(thread, [&ran] { ran = true; });
  EXPECT_TRUE(ran);
  thread.Stop();
  EXPECT_EQ(2u, log.lines().size());
}

}  // namespace
}  // namespace base

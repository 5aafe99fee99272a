#include "base/threading/runnable_thread.h"

#include <string>
#include <utility>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_capture.h"
#include "base/threading/thread_name_registry.h"
#include "base/time/tick_time.h"
#include "base/win/scoped_local_alloc.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Records what the thread saw of itself while it ran.
class RecordingThread : public RunnableThread {
 public:
  explicit RecordingThread(std::string name)
      : RunnableThread(std::move(name)) {}

  uint32_t run_thread_id = 0;
  int run_priority = THREAD_PRIORITY_ERROR_RETURN;
  std::string registry_name;
  // Empty when the system cannot read descriptions back.
  std::wstring description;
  bool description_readable = false;

 protected:
  void Run() override {
    run_thread_id = GetCurrentThreadId();
    run_priority = GetThreadPriority(GetCurrentThread());
    registry_name = ThreadNameRegistry::GetInstance()->GetName(run_thread_id);
    ReadDescription();
  }

 private:
  void ReadDescription() {
    using GetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    auto get_description = reinterpret_cast<GetThreadDescriptionFunction>(
        reinterpret_cast<void*>(GetProcAddress(
            GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
    win::ScopedLocalAlloc<wchar_t> text;
    if (!get_description ||
        FAILED(get_description(GetCurrentThread(), text.Receive()))) {
      return;
    }
    description_readable = true;
    description = text.Get();
  }
};

TEST(RunnableThreadTest, RunsNamedAndForgetsTheNameAfterJoin) {
  RecordingThread thread("Worker thread");
  ASSERT_TRUE(thread.Start());
  const uint32_t id = thread.thread_id();
  EXPECT_NE(0u, id);
  thread.Join();
  EXPECT_TRUE(thread.has_been_joined());

  const std::string expected = "Worker thread/" + Uint64ToString(id);
  EXPECT_EQ(id, thread.run_thread_id);
  EXPECT_NE(GetCurrentThreadId(), thread.run_thread_id);
  EXPECT_EQ(expected, thread.registry_name);
  if (thread.description_readable)
    EXPECT_EQ(Utf8ToWide(expected), thread.description);
  else
    GTEST_LOG_(INFO) << "GetThreadDescription is absent: description unread";
  // The thread unregistered itself as it ended.
  EXPECT_STREQ("", ThreadNameRegistry::GetInstance()->GetName(id));
}

TEST(RunnableThreadTest, AppliesPriorities) {
  const struct {
    ThreadPriority priority;
    int expected;
  } kCases[] = {
      {ThreadPriority::kLow, THREAD_PRIORITY_LOWEST},
      {ThreadPriority::kNormal, THREAD_PRIORITY_NORMAL},
      {ThreadPriority::kAboveNormal, THREAD_PRIORITY_ABOVE_NORMAL},
      {ThreadPriority::kTimeCritical, THREAD_PRIORITY_TIME_CRITICAL},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.priority));
    RecordingThread thread("Priority");
    thread.set_priority(c.priority);
    ASSERT_TRUE(thread.Start());
    thread.Join();
    EXPECT_EQ(c.expected, thread.run_priority);
  }
}

TEST(RunnableThreadTest, StartReportsARefusedThreadInsteadOfHanging) {
  ScopedLogCapture log;
  RecordingThread thread("Too big");
  // No address space holds a reservation of 2^60 bytes.
  thread.set_stack_size(uint64_t{1} << 60);
  EXPECT_FALSE(thread.Start());
  EXPECT_EQ(0u, thread.thread_id());
  ASSERT_EQ(1u, log.lines().size());
  EXPECT_NE(std::string::npos, log.lines()[0].find("CreateThread failed"));
}

TEST(ThreadNameRegistryTest, KeepsTheNewerThreadOfAReusedId) {
  ThreadNameRegistry registry;
  HANDLE old_handle = reinterpret_cast<HANDLE>(0x100);
  HANDLE new_handle = reinterpret_cast<HANDLE>(0x200);
  registry.RegisterThread(old_handle, 7);
  registry.SetName(7, "old");
  registry.RegisterThread(new_handle, 7);
  registry.SetName(7, "new");
  registry.RemoveName(old_handle, 7);
  EXPECT_STREQ("new", registry.GetName(7));
  registry.RemoveName(new_handle, 7);
  EXPECT_STREQ("", registry.GetName(7));
}

TEST(ThreadNameRegistryTest, UnregisteredNamerIsTheMainThread) {
  ThreadNameRegistry registry;
  EXPECT_STREQ("", registry.GetName(42));
  registry.SetName(42, "main");
  registry.SetName(43, "other main");
  EXPECT_STREQ("", registry.GetName(42));
  EXPECT_STREQ("other main", registry.GetName(43));
}

TEST(OsThreadTest, SleepCountsRoundUpAndKeepInfiniteForTheMaximum) {
  const struct {
    TimeDelta remaining;
    DWORD expected;
  } kCases[] = {
      {TimeDelta::FromMicroseconds(1), 1},
      {TimeDelta::FromMicroseconds(1000), 1},
      {TimeDelta::FromMicroseconds(1001), 2},
      {TimeDelta::FromMilliseconds(0xFFFFFFFE), 0xFFFFFFFE},
      {TimeDelta::FromMilliseconds(0xFFFFFFFF), 0xFFFFFFFE},
      {TimeDelta::FromMilliseconds(int64_t{1} << 32), 0xFFFFFFFE},
      {TimeDelta::Max(), INFINITE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.remaining.InMicroseconds());
    EXPECT_EQ(c.expected, internal::SleepMilliseconds(c.remaining));
  }
}

TEST(OsThreadTest, SleepUntilElapsedNeverReturnsEarly) {
  for (int64_t us : {300, 1500, 15500}) {
    SCOPED_TRACE(us);
    const TickTime start = TickTime::Now();
    SleepUntilElapsed(TimeDelta::FromMicroseconds(us));
    EXPECT_GE(TickTime::Now() - start, TimeDelta::FromMicroseconds(us));
  }
}

}  // namespace
}  // namespace base

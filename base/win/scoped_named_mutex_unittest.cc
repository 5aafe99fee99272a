#include "base/win/scoped_named_mutex.h"

#include <string>
#include <thread>

#include "gtest/gtest.h"

namespace base::win {
namespace {

// Named after the process and the case, so that no other test or run of
// this one meets it.
std::wstring NameFor(const wchar_t* test) {
  return L"Local\\base_unittests/ScopedNamedMutex/" +
         std::to_wstring(::GetCurrentProcessId()) + L"/" + test;
}

// A mutex is recursive for its owner thread: only another thread sees
// whether this one holds it.
bool TakenElsewhere(const std::wstring& name) {
  bool taken = false;
  std::thread([&] {
    ScopedNamedMutex other(name);
    taken = other.Acquire(0);
  }).join();
  return taken;
}

TEST(ScopedNamedMutexTest, HeldUntilReleasedOrDestroyed) {
  const std::wstring name = NameFor(L"Held");
  {
    ScopedNamedMutex mutex(name);
    ASSERT_TRUE(mutex.IsValid());
    EXPECT_FALSE(mutex.held());
    ASSERT_TRUE(mutex.Acquire(0));
    EXPECT_TRUE(mutex.held());
    EXPECT_FALSE(mutex.abandoned());
    EXPECT_FALSE(TakenElsewhere(name));
    mutex.Release();
    EXPECT_FALSE(mutex.held());
    EXPECT_TRUE(TakenElsewhere(name));
    ASSERT_TRUE(mutex.Acquire(0));
  }
  EXPECT_TRUE(TakenElsewhere(name));
}

TEST(ScopedNamedMutexTest, HolderEndingWithoutReleaseLeavesItAbandoned) {
  const std::wstring name = NameFor(L"Abandoned");
  ScopedNamedMutex mutex(name);
  std::thread([&] {
    ScopedNamedMutex holder(name);
    ASSERT_TRUE(holder.Acquire(0));
    holder.CloseWithoutRelease();
    EXPECT_FALSE(holder.IsValid());
  }).join();
  ASSERT_TRUE(mutex.Acquire(0));
  EXPECT_TRUE(mutex.abandoned());
}

TEST(ScopedNamedMutexTest, NoMutexIsNeverHeld) {
  // No such namespace: neither made nor opened.
  ScopedNamedMutex mutex(L"NoSuchNamespace\\x", {.open_if_denied = true});
  EXPECT_FALSE(mutex.IsValid());
  EXPECT_FALSE(mutex.Acquire(0));
  EXPECT_FALSE(mutex.held());
}

}  // namespace
}  // namespace base::win

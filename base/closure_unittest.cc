#include "base/closure.h"

#include <windows.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/test/life_record.h"
#include "base/weak_reference.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ClosureTest, SelfCopyAssignmentKeepsStateAlive) {
  LifeRecord life;
  int runs = 0;
  Closure closure = Bind([&runs](Tracked&) { ++runs; }, Tracked(&life));
  Closure& alias = closure;
  closure = alias;
  closure.Run();
  EXPECT_EQ(1, runs);
  EXPECT_EQ(0, life.destructions);
  closure.Reset();
  EXPECT_EQ(1, life.destructions);
}

TEST(ClosureTest, LastCopyDestroysBoundValuesOnce) {
  LifeRecord life;
  Closure original = Bind([](Tracked&) {}, Tracked(&life));
  Closure copy = original;
  Closure assigned;
  assigned = copy;
  Closure moved = std::move(copy);
  EXPECT_TRUE(copy.is_null());
  original.Reset();
  assigned.Reset();
  EXPECT_EQ(0, life.destructions);
  moved.Reset();
  EXPECT_EQ(1, life.destructions);
}

TEST(ClosureTest, MoveAssignmentDropsTheOldState) {
  LifeRecord old_life, new_life;
  Closure target = Bind([](Tracked&) {}, Tracked(&old_life));
  Closure source = Bind([](Tracked&) {}, Tracked(&new_life));
  target = std::move(source);
  EXPECT_EQ(1, old_life.destructions);
  EXPECT_EQ(0, new_life.destructions);
  EXPECT_TRUE(source.is_null());
  target = std::move(target);
  EXPECT_FALSE(target.is_null());
  EXPECT_EQ(0, new_life.destructions);
}

// A bound value whose destructor looks at the closure that owns it, as an
// object does when it resets its own pending callback.
class ChecksOwnerOnDestruction {
 public:
  ChecksOwnerOnDestruction(Closure* owner, bool* owner_was_empty)
      : owner_(owner), owner_was_empty_(owner_was_empty) {}
  ChecksOwnerOnDestruction(ChecksOwnerOnDestruction&& other) noexcept
      : owner_(std::exchange(other.owner_, nullptr)),
        owner_was_empty_(other.owner_was_empty_) {}
  ~ChecksOwnerOnDestruction() {
    if (owner_)
      *owner_was_empty_ = owner_->is_null();
  }

 private:
  Closure* owner_;
  bool* owner_was_empty_;
};

TEST(ClosureTest, ResetEmptiesBeforeDestroying) {
  Closure closure;
  bool owner_was_empty = false;
  closure = Bind([](ChecksOwnerOnDestruction&) {},
                 ChecksOwnerOnDestruction(&closure, &owner_was_empty));
  closure.Reset();
  EXPECT_TRUE(owner_was_empty);
}

TEST(ClosureTest, BoundValuesDieOnTheThreadDroppingTheLastReference) {
  for (bool worker_drops_last : {true, false}) {
    LifeRecord life;
    Closure closure = Bind([](Tracked&) {}, Tracked(&life));
    std::promise<void> main_dropped;
    DWORD worker_id = 0;
    std::thread worker([copy = closure, &worker_id, &main_dropped,
                        worker_drops_last]() mutable {
      worker_id = GetCurrentThreadId();
      if (worker_drops_last)
        main_dropped.get_future().wait();
      copy.Reset();
    });
    if (worker_drops_last) {
      closure.Reset();
      main_dropped.set_value();
    }
    worker.join();
    closure.Reset();
    EXPECT_EQ(1, life.destructions);
    EXPECT_EQ(worker_drops_last ? worker_id : GetCurrentThreadId(),
              life.thread_id);
  }
}

TEST(ClosureTest, CopiesReleasedConcurrentlyDestroyOnce) {
  for (int round = 0; round < 20; ++round) {
    LifeRecord life;
    Closure closure = Bind([](Tracked&) {}, Tracked(&life));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      threads.emplace_back([copy = closure]() mutable {
        for (int j = 0; j < 1000; ++j) {
          Closure extra = copy;
          extra.Run();
        }
      });
    }
    closure.Reset();
    for (std::thread& thread : threads)
      thread.join();
    ASSERT_EQ(1, life.destructions);
  }
}

int AddAll(int a, int b, int c) {
  return a + b + c;
}

struct Counter {
  void Add(int amount) { total += amount; }
  int total = 0;
};

TEST(BindTest, BoundValuesComeFirstThenRunArguments) {
  Callback<int(int)> add = Bind<int(int)>(&AddAll, 1, 20);
  EXPECT_EQ(321, add.Run(300));
  EXPECT_EQ(21, add.Run(0));

  Counter counter;
  Closure add_five = Bind(&Counter::Add, &counter, 5);
  add_five.Run();
  add_five.Run();
  EXPECT_EQ(10, counter.total);

  Callback<void(const std::string&)> append = Bind<void(const std::string&)>(
      [](std::string& text, const std::string& more) { text += more; },
      std::string("a"));
  append.Run("b");
  EXPECT_FALSE(append.IsCancelled());
}

TEST(BindTest, MoveOnlyValuesStayWithTheState) {
  auto value = std::make_unique<int>(7);
  int* raw = value.get();
  Callback<int*()> get = Bind<int*()>(
      [](std::unique_ptr<int>& held) { return held.get(); }, std::move(value));
  Callback<int*()> copy = get;
  EXPECT_EQ(raw, get.Run());
  EXPECT_EQ(raw, copy.Run());
}

void Increment(void* counter) {
  ++*static_cast<int*>(counter);
}

TEST(BindTest, BindFunctionPassesItsPointer) {
  int counter = 0;
  Closure closure = BindFunction(&Increment, &counter);
  closure.Run();
  closure.Run();
  EXPECT_EQ(2, counter);
  EXPECT_FALSE(closure.IsCancelled());
}

class Receiver {
 public:
  void Hit(int amount) { hits_ += amount; }
  WeakReference GetRef() { return weak_source_.GetRef(); }
  void InvalidateRefs() { weak_source_.Invalidate(); }
  int hits() const { return hits_; }

 private:
  int hits_ = 0;
  WeakReferenceSource weak_source_;
};

TEST(BindTest, WeakReceiverRunsOnlyWhileValid) {
  auto receiver = std::make_unique<Receiver>();
  Closure hit = BindWeak(&Receiver::Hit, receiver->GetRef(), receiver.get(), 2);
  hit.Run();
  EXPECT_EQ(2, receiver->hits());
  EXPECT_FALSE(hit.IsCancelled());

  receiver->InvalidateRefs();
  hit.Run();
  EXPECT_EQ(2, receiver->hits());
  EXPECT_TRUE(hit.IsCancelled());

  // A reference taken after invalidation must not revive the old closure.
  Closure fresh = BindWeak(&Receiver::Hit, receiver->GetRef(), receiver.get(), 1);
  hit.Run();
  fresh.Run();
  EXPECT_EQ(3, receiver->hits());
  EXPECT_TRUE(hit.IsCancelled());

  receiver.reset();
  fresh.Run();  // Would write freed memory if it ran.
  EXPECT_TRUE(fresh.IsCancelled());
}

TEST(BindTest, WeakNullReceiverIsCancelled) {
  Receiver receiver;
  Closure hit = BindWeak(&Receiver::Hit, receiver.GetRef(),
                         static_cast<Receiver*>(nullptr), 1);
  EXPECT_TRUE(hit.IsCancelled());
  hit.Run();
}

TEST(WeakReferenceTest, FlagLifecycle) {
  WeakReference unbound;
  EXPECT_FALSE(unbound.IsValid());

  auto source = std::make_unique<WeakReferenceSource>();
  WeakReference first = source->GetRef();
  WeakReference copy = first;
  EXPECT_TRUE(first.IsValid());
  source->Invalidate();
  EXPECT_FALSE(first.IsValid());
  EXPECT_FALSE(copy.IsValid());

  WeakReference second = source->GetRef();
  EXPECT_TRUE(second.IsValid());
  EXPECT_FALSE(first.IsValid());

  source.reset();
  EXPECT_FALSE(second.IsValid());
  // The flag outlives its source while references hold it.
  WeakReference moved = std::move(second);
  EXPECT_FALSE(moved.IsValid());
}

}  // namespace
}  // namespace base

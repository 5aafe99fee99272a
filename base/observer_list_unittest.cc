#include "base/observer_list.h"

#include <functional>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

class Observer {
 public:
  virtual ~Observer() = default;
  virtual void OnEvent() = 0;
};

using List = ObserverList<Observer>;

// Records its name into a shared log and then does whatever the test asks.
class Recorder : public Observer {
 public:
  Recorder(std::string* log, char name) : log_(log), name_(name) {}
  void OnEvent() override {
    *log_ += name_;
    if (action_)
      action_();
  }
  void set_action(std::function<void()> action) { action_ = std::move(action); }

 private:
  std::string* log_;
  char name_;
  std::function<void()> action_;
};

void Notify(List& list) {
  for (Observer& observer : list)
    observer.OnEvent();
}

class ObserverListTest : public testing::Test {
 protected:
  std::string log_;
  Recorder a_{&log_, 'a'}, b_{&log_, 'b'}, c_{&log_, 'c'}, d_{&log_, 'd'};
};

TEST_F(ObserverListTest, RemovingItselfLetsTheWalkGoOn) {
  List list;
  list.AddObserver(&a_);
  list.AddObserver(&b_);
  list.AddObserver(&c_);
  b_.set_action([&] { list.RemoveObserver(&b_); });
  Notify(list);
  EXPECT_EQ("abc", log_);
  log_.clear();
  Notify(list);
  EXPECT_EQ("ac", log_);
  EXPECT_FALSE(list.HasObserver(&b_));
}

TEST_F(ObserverListTest, RemovedBeforeBeingReachedIsNotNotified) {
  List list;
  list.AddObserver(&a_);
  list.AddObserver(&b_);
  list.AddObserver(&c_);
  a_.set_action([&] {
    list.RemoveObserver(&c_);
    list.RemoveObserver(&d_);  // Not in the list: ignored.
  });
  Notify(list);
  EXPECT_EQ("ab", log_);
}

TEST_F(ObserverListTest, NestedWalkDoesNotCompactUnderTheOuterOne) {
  List list;
  for (Recorder* recorder : {&a_, &b_, &c_, &d_})
    list.AddObserver(recorder);
  bool nested = false;
  a_.set_action([&] {
    if (nested)
      return;
    nested = true;
    list.RemoveObserver(&a_);
    // Compacting at the end of this walk would shift b under the outer
    // walk's index, and the outer walk would skip it.
    Notify(list);
  });
  Notify(list);
  EXPECT_EQ("abcdbcd", log_);
  log_.clear();
  Notify(list);
  EXPECT_EQ("bcd", log_);
}

TEST_F(ObserverListTest, ListDestroyedDuringTheWalkEndsIt) {
  auto list = std::make_unique<List>();
  list->AddObserver(&a_);
  list->AddObserver(&b_);
  list->AddObserver(&c_);
  b_.set_action([&] { list.reset(); });
  List::Iter it(list.get());
  for (; it != List::Iter(); ++it)
    it->OnEvent();
  EXPECT_EQ("ab", log_);
  EXPECT_EQ(nullptr, it.GetCurrent());
  EXPECT_TRUE(it.IsAtEnd());
}

TEST_F(ObserverListTest, DuplicateAddKeepsOneEntry) {
  List list;
  list.AddObserver(&a_);
  list.AddObserver(&a_);
  Notify(list);
  EXPECT_EQ("a", log_);
  list.RemoveObserver(&a_);
  EXPECT_TRUE(list.empty());
}

TEST_F(ObserverListTest, AddedDuringTheWalkFollowsThePolicy) {
  struct Case {
    ObserverListPolicy policy;
    const char* first_walk;
  } const cases[] = {
      {ObserverListPolicy::kNotifyAll, "abc"},
      {ObserverListPolicy::kNotifyExistingOnly, "ab"},
  };
  for (const Case& test : cases) {
    log_.clear();
    List list(test.policy);
    list.AddObserver(&a_);
    list.AddObserver(&b_);
    a_.set_action([&] { list.AddObserver(&c_); });
    Notify(list);
    EXPECT_EQ(test.first_walk, log_);
    log_.clear();
    a_.set_action(nullptr);
    Notify(list);
    EXPECT_EQ("abc", log_);
  }
}

TEST_F(ObserverListTest, EmptyListWalksNothing) {
  List list;
  Notify(list);
  EXPECT_TRUE(list.begin() == list.end());
  // A walk over a list emptied during it still ends cleanly.
  list.AddObserver(&a_);
  a_.set_action([&] { list.RemoveObserver(&a_); });
  Notify(list);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace base

#include "desktop/windows/installer/transactions/transaction.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

using Events = std::vector<std::string>;

// What a recording operation does: its name in the log, whether its own
// work fails, and the sub-operations it runs first.
struct Step {
  std::string name;
  bool fails = false;
  std::vector<Step> sub_steps;
};

// Writes "do", "rollback" and "destroy" with its name into a shared log.
class RecordingOperation : public Operation {
 public:
  RecordingOperation(Step step, Events* events)
      : step_(std::move(step)), events_(events) {}
  ~RecordingOperation() override { events_->push_back("destroy " + step_.name); }

  bool Do(Transaction* sub_operations) override {
    events_->push_back("do " + step_.name);
    EXPECT_TRUE(sub_operations->empty());
    for (const Step& sub_step : step_.sub_steps) {
      if (!sub_operations->ExecuteOperation(
              std::make_unique<RecordingOperation>(sub_step, events_))) {
        return false;
      }
    }
    return !step_.fails;
  }
  void Rollback() override { events_->push_back("rollback " + step_.name); }

 private:
  const Step step_;
  Events* const events_;
};

class TransactionTest : public testing::Test {
 protected:
  bool Execute(Step step) {
    return transaction_.ExecuteOperation(
        std::make_unique<RecordingOperation>(std::move(step), &events_));
  }
  // The events since the last call.
  Events TakeEvents() {
    Events taken;
    taken.swap(events_);
    return taken;
  }

  Events events_;
  Transaction transaction_;
};

TEST_F(TransactionTest, EmptyTransactionRollsBackAndCommitsNothing) {
  transaction_.RollbackOperations();
  transaction_.DestroyOperations();
  EXPECT_TRUE(transaction_.empty());
  EXPECT_TRUE(events_.empty());
}

TEST_F(TransactionTest, RollbackUndoesNewestFirstThenDestroysOldestFirstOnce) {
  ASSERT_TRUE(Execute({"a"}));
  ASSERT_TRUE(Execute({"b"}));
  TakeEvents();

  transaction_.RollbackOperations();
  EXPECT_EQ(TakeEvents(),
            (Events{"rollback b", "rollback a", "destroy a", "destroy b"}));
  EXPECT_TRUE(transaction_.empty());

  // Committing what is left, and using the transaction again.
  transaction_.DestroyOperations();
  EXPECT_TRUE(TakeEvents().empty());
  ASSERT_TRUE(Execute({"c"}));
  transaction_.DestroyOperations();
  EXPECT_EQ(TakeEvents(), (Events{"do c", "destroy c"}));
}

TEST_F(TransactionTest, CommitDestroysOldestFirstWithoutRollback) {
  {
    Transaction transaction;
    for (const char* name : {"a", "b", "c"}) {
      ASSERT_TRUE(transaction.ExecuteOperation(
          std::make_unique<RecordingOperation>(Step{name}, &events_)));
    }
    TakeEvents();
  }
  EXPECT_EQ(TakeEvents(), (Events{"destroy a", "destroy b", "destroy c"}));
}

TEST_F(TransactionTest, FailingSecondSubOperationUndoesOperationThenFirst) {
  ASSERT_TRUE(Execute({"earlier"}));
  TakeEvents();

  EXPECT_FALSE(Execute({"copy", false, {{"first"}, {"second", true}}}));
  EXPECT_EQ(TakeEvents(),
            (Events{"do copy", "do first", "do second",
                    // The failed sub-operation, inside the operation's Do.
                    "rollback second", "destroy second",
                    // The operation first, then what it needed.
                    "rollback copy", "rollback first", "destroy first",
                    "destroy copy"}));
  EXPECT_EQ(transaction_.size(), 1u);

  transaction_.RollbackOperations();
  EXPECT_EQ(TakeEvents(), (Events{"rollback earlier", "destroy earlier"}));
}

TEST_F(TransactionTest, NestedSubOperationsStandFlatDeepestFirst) {
  ASSERT_TRUE(Execute({"value", false, {{"key", false, {{"parent key"}}}}}));
  EXPECT_EQ(transaction_.size(), 3u);
  TakeEvents();

  transaction_.RollbackOperations();
  EXPECT_EQ(TakeEvents(),
            (Events{"rollback value", "rollback key", "rollback parent key",
                    "destroy parent key", "destroy key", "destroy value"}));
}

// An installation of five steps, each needing one sub-operation, fails at
// step N: only the N - 1 steps before it stay to be rolled back, newest
// first, each before its sub-operation.
TEST_F(TransactionTest, FailureAtNthStepLeavesExactlyTheStepsBefore) {
  constexpr int kSteps = 5;
  for (int failing = 1; failing <= kSteps; ++failing) {
    SCOPED_TRACE("failing step " + std::to_string(failing));
    for (int step = 1; step <= kSteps; ++step) {
      const std::string name = std::to_string(step);
      if (!Execute({name, step == failing, {{name + "'"}}}))
        break;
    }
    EXPECT_EQ(transaction_.size(), 2u * (failing - 1));
    TakeEvents();

    transaction_.RollbackOperations();
    Events expected;
    for (int step = failing - 1; step >= 1; --step) {
      expected.push_back("rollback " + std::to_string(step));
      expected.push_back("rollback " + std::to_string(step) + "'");
    }
    for (int step = 1; step < failing; ++step) {
      expected.push_back("destroy " + std::to_string(step) + "'");
      expected.push_back("destroy " + std::to_string(step));
    }
    EXPECT_EQ(TakeEvents(), expected);
  }
}

}  // namespace
}  // namespace installer

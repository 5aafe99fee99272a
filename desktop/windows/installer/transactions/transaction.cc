#include "desktop/windows/installer/transactions/transaction.h"

#include <iterator>
#include <utility>

#include "desktop/windows/installer/testing/test_hooks.h"
#include "desktop/windows/installer/transactions/emptied_folder_sweep.h"

namespace installer {

Transaction::Transaction() = default;

Transaction::~Transaction() {
  DestroyOperations();
}

bool Transaction::ExecuteOperation(std::unique_ptr<Operation> operation) {
  Transaction sub_operations;
  // A test's injected fault turns a done operation into a failed one, which
  // takes the same path as a real failure.
  if (!operation->Do(&sub_operations) ||
      TestHooks::ShouldFailOperation()) {
    last_error_ = operation->error();
    // The operation first, then what it needed, newest first: the reverse of
    // the order in which they were done.
    operation->Rollback();
    sub_operations.RollbackOperations();
    // Left to itself the argument would live until the caller's statement
    // ends; it goes now, after its sub-operations, as in a rollback.
    operation.reset();
    return false;
  }
  operations_.insert(operations_.end(),
                     std::make_move_iterator(sub_operations.operations_.begin()),
                     std::make_move_iterator(sub_operations.operations_.end()));
  sub_operations.operations_.clear();
  operations_.push_back(std::move(operation));
  return true;
}

void Transaction::RollbackOperations() {
  for (auto it = operations_.rbegin(); it != operations_.rend(); ++it) {
    (*it)->Rollback();
    TestHooks::OnOperationRolledBack();
  }
  // Destructors run only after every rollback, oldest first.
  DestroyOperations();
}

void Transaction::DestroyOperations() {
  // Taken out first so that a destructor never sees a half-emptied list.
  std::vector<std::unique_ptr<Operation>> operations;
  operations.swap(operations_);
  // The emptied folders go once, after every operation's commit: one
  // judgement per folder, not one per file deleted from it.
  EmptiedFolderSweep emptied_folders;
  for (std::unique_ptr<Operation>& operation : operations) {
    emptied_folders.Add(operation->GetEmptiedFolder());
    operation.reset();
  }
  emptied_folders.Run();
}

}  // namespace installer

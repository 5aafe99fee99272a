#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_TRANSACTION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_TRANSACTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// The operations of one installation done so far, oldest first (an
// operation's sub-operations stand before it). Rolling back undoes them
// newest first; destroying the transaction commits them, and then removes
// the folders the commit emptied (Operation::GetEmptiedFolder).
class Transaction {
 public:
  Transaction();
  // Commits: destroys every held operation, oldest first.
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Runs `operation` and keeps it with its sub-operations when it succeeds;
  // on failure undoes it and its sub-operations and destroys them. The
  // result is the operation's own.
  [[nodiscard]] bool ExecuteOperation(std::unique_ptr<Operation> operation);
  // Undoes every held operation, newest first, then destroys them all; the
  // transaction can be used again.
  void RollbackOperations();
  // Destroys every held operation without undoing it, oldest first, then
  // removes the folders they emptied, deepest first.
  void DestroyOperations();

  size_t size() const { return operations_.size(); }
  bool empty() const { return operations_.empty(); }
  // The Windows error of the operation that failed last (0: none known), so
  // that the failure can be reported with its cause.
  uint32_t last_error() const { return last_error_; }

 private:
  std::vector<std::unique_ptr<Operation>> operations_;
  uint32_t last_error_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_TRANSACTION_H_

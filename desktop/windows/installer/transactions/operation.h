#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_OPERATION_H_

#include <cstdint>

#include "base/files/file_path.h"

namespace installer {

class Transaction;

// One reversible change on the machine. `Do` performs it once; `Rollback`
// undoes exactly what `Do` completed (also after a `Do` that failed part-way
// or changed nothing); the destructor finishes what must wait for the
// installation's success, such as removing a file that was set aside.
class Operation {
 public:
  virtual ~Operation() = default;

  // May run further operations on `sub_operations` first (a missing folder,
  // a file in the way); they join the same transaction.
  virtual bool Do(Transaction* sub_operations) = 0;
  virtual void Rollback() = 0;

  // A folder (by its final path) that the commit may leave empty, which
  // the transaction removes once every operation is committed, with the
  // emptied ones above it up to `outermost` (a final path too; empty: up
  // to the volume's root).
  struct EmptiedFolder {
    base::FilePath folder;
    base::FilePath outermost;
  };
  // Read by the transaction that commits the operation, just before it
  // destroys it. An empty folder: none.
  virtual EmptiedFolder GetEmptiedFolder() const { return EmptiedFolder(); }

  // The Windows error that made `Do` fail; 0 when none is known.
  uint32_t error() const { return error_; }

 protected:
  void set_error(uint32_t error) { error_ = error; }

 private:
  uint32_t error_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_OPERATION_H_

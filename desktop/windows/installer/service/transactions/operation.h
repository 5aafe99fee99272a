#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_

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
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_OPERATION_H_

#ifndef DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_RUN_JOURNAL_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_RUN_JOURNAL_OPERATION_H_

#include "desktop/windows/installer/transactions/operation.h"

namespace installer {

// Done right after the installation folder is made: a rollback keeps the
// run's journal until it has undone all the rest, so that a run killed
// while rolling back is still undone by the next one, and only then ends
// it, before the folder it lies in is removed.
class RunJournalOperation : public Operation {
 public:
  bool Do(Transaction* sub_operations) override;
  void Rollback() override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TRANSACTIONS_RUN_JOURNAL_OPERATION_H_

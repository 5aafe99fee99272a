#include "desktop/windows/installer/service/transactions/run_journal_operation.h"

#include "desktop/windows/installer/recovery/run_journal.h"

namespace installer {

bool RunJournalOperation::Do(Transaction* /*sub_operations*/) {
  return true;
}

void RunJournalOperation::Rollback() {
  RunJournal::Get()->Finish();
}

}  // namespace installer

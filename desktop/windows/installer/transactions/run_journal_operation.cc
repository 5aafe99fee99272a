#include "desktop/windows/installer/transactions/run_journal_operation.h"

#include "desktop/windows/installer/journal/run_journal.h"

namespace installer {

bool RunJournalOperation::Do(Transaction* /*sub_operations*/) {
  return true;
}

void RunJournalOperation::Rollback() {
  RunJournal::Get()->Finish();
}

}  // namespace installer

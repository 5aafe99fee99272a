// Reads a journal a run left and prints each line the recovery's scope
// refuses, for the end-to-end test that proves the steps journal nothing
// the recovery would leave alone:
//
//   journal_scope_tool <installation folder> <journal>
//       prints "refused <line number>" for each refused line, or
//       "unreadable" for a journal that does not parse; exit 0 when every
//       line passes, 1 when one is refused, 2 when it cannot be read.

#include <cstdio>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/recovery/journal_scope.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3)
    return 2;
  std::vector<installer::RunJournal::Entry> entries;
  if (!installer::RunJournal::Read(base::FilePath(argv[2]), &entries)) {
    std::printf("unreadable\n");
    return 2;
  }
  installer::JournalScope scope{base::FilePath(argv[1])};
  int result = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!scope.Allows(entries[i])) {
      std::printf("refused %zu\n", i + 1);
      result = 1;
    }
  }
  return result;
}

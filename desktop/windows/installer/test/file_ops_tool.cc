// Runs file operations in one transaction for the end-to-end tests, which
// compare the folder before and after with their own eyes.
//
//   file_ops_tool run SCRIPT commit|rollback [FAIL_AT]
//       SCRIPT is UTF-8, one operation a line, fields separated by tabs:
//         copy SOURCE TARGET | move SOURCE TARGET | mkdir FOLDER |
//         delete PATH CHECK_IN_USE(0|1) REMOVE_EMPTY_PARENTS(0|1) |
//         journal FOLDER (the run's journal is kept in FOLDER from here on)
//       Prints "<n> ok <operations held>" or "<n> failed" for each
//       operation run; the run stops at the first failure. With FAIL_AT, the
//       operation of that number (from 1) does its work and then reports
//       failure. The transaction is then rolled back ("rolled back") when
//       asked or when an operation failed, and committed ("committed")
//       otherwise. Exit 0 when every operation succeeded, 1 when one failed.
//   file_ops_tool wait
//       prints "ready" and runs until its standard input closes: a program
//       that is running while tests try to delete it.
//   file_ops_tool hold PATH
//       opens PATH for reading, letting others only read it (no deleting,
//       renaming or replacing it), prints "held" and keeps it open until
//       its standard input closes: another program holding a file.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/create_folder_operation.h"
#include "desktop/windows/installer/transactions/delete_file_operation.h"
#include "desktop/windows/installer/transactions/move_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace {

using base::FilePath;
using installer::Operation;

// Does the wrapped operation's work, then fails, so that the transaction
// must undo that work as well as what came before.
class InjectedFailure : public Operation {
 public:
  explicit InjectedFailure(std::unique_ptr<Operation> operation)
      : operation_(std::move(operation)) {}

  bool Do(installer::Transaction* sub_operations) override {
    operation_->Do(sub_operations);
    return false;
  }
  void Rollback() override { operation_->Rollback(); }

 private:
  std::unique_ptr<Operation> operation_;
};

std::unique_ptr<Operation> ParseOperation(const std::string& line) {
  std::vector<std::wstring> fields;
  for (const std::string& field :
       base::SplitNarrowByChar(line, '\t', base::KEEP_WHITESPACE,
                               base::SPLIT_WANT_ALL)) {
    fields.push_back(base::Utf8ToWide(field));
  }
  if (fields.size() == 3 && fields[0] == L"copy") {
    return std::make_unique<installer::CopyFileOperation>(FilePath(fields[1]),
                                                          FilePath(fields[2]));
  }
  if (fields.size() == 3 && fields[0] == L"move") {
    return std::make_unique<installer::MoveFileOperation>(FilePath(fields[1]),
                                                          FilePath(fields[2]));
  }
  if (fields.size() == 2 && fields[0] == L"mkdir")
    return installer::MakeCreateFolderOperation(FilePath(fields[1]));
  if (fields.size() == 4 && fields[0] == L"delete") {
    return installer::MakeDeleteFileOperation(
        FilePath(fields[1]), fields[2] == L"1", fields[3] == L"1");
  }
  return nullptr;
}

int Run(const FilePath& script, bool commit, int fail_at) {
  std::string text;
  if (!base::ReadFileToString(script, &text)) {
    std::printf("cannot read the script\n");
    return 2;
  }
  std::vector<std::unique_ptr<Operation>> operations;
  for (const std::string& line :
       base::SplitNarrowByChar(text, '\n', base::KEEP_WHITESPACE,
                               base::SPLIT_WANT_NONEMPTY)) {
    constexpr char kJournal[] = "journal\t";
    if (line.starts_with(kJournal)) {
      installer::RunJournal::Get()->Start(
          FilePath::FromUTF8(line.substr(sizeof(kJournal) - 1)));
      continue;
    }
    operations.push_back(ParseOperation(line));
    if (!operations.back()) {
      std::printf("bad line: %s\n", line.c_str());
      return 2;
    }
  }

  installer::Transaction transaction;
  bool succeeded = true;
  for (size_t i = 0; i < operations.size() && succeeded; ++i) {
    const int number = static_cast<int>(i) + 1;
    std::unique_ptr<Operation> operation = std::move(operations[i]);
    if (number == fail_at)
      operation = std::make_unique<InjectedFailure>(std::move(operation));
    succeeded = transaction.ExecuteOperation(std::move(operation));
    if (succeeded)
      std::printf("%d ok %zu\n", number, transaction.size());
    else
      std::printf("%d failed\n", number);
  }
  if (succeeded && commit) {
    transaction.DestroyOperations();
    std::printf("committed\n");
  } else {
    transaction.RollbackOperations();
    std::printf("rolled back\n");
  }
  installer::RunJournal::Get()->Finish();
  return succeeded ? 0 : 1;
}

void WaitForEndOfInput() {
  while (std::fgetc(stdin) != EOF) {
  }
}

int Wait() {
  std::printf("ready\n");
  std::fflush(stdout);
  WaitForEndOfInput();
  return 0;
}

int Hold(const FilePath& path) {
  base::win::ScopedHandle file(
      ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    std::printf("cannot open: %lu\n", ::GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  WaitForEndOfInput();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"wait" && argc == 2)
    return Wait();
  if (mode == L"hold" && argc == 3)
    return Hold(FilePath(argv[2]));
  if (mode == L"run" && (argc == 4 || argc == 5)) {
    const std::wstring ending = argv[3];
    if (ending == L"commit" || ending == L"rollback") {
      return Run(FilePath(argv[2]), ending == L"commit",
                 argc == 5 ? _wtoi(argv[4]) : 0);
    }
  }
  std::printf(
      "usage: file_ops_tool run SCRIPT commit|rollback [FAIL_AT]\n"
      "       file_ops_tool wait\n"
      "       file_ops_tool hold PATH\n");
  return 2;
}

// Copies of a 5,000-file, 300 MB tree through the installer's transaction,
// then rolled back or committed, against a plain CopyFileW loop over the
// same files in the same run. Two cases: into an empty folder (the copies
// create the folders as sub-operations) and over an installed tree (every
// old file is set aside, put back by the rollback, removed by the commit).
// Each figure is the best of three runs, in MB/s (10^6 bytes) and files/s.
//   transaction_bench [work folder]

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/transactions/copy_file_operation.h"
#include "desktop/windows/installer/transactions/transaction.h"

namespace {

constexpr int kFileCount = 5000;
constexpr int kFolderCount = 50;
constexpr size_t kTotalBytes = 300'000'000;
constexpr int kRuns = 3;
// A smoke run's tree.
constexpr int kSmokeFileCount = 100;
constexpr size_t kSmokeTotalBytes = 2'000'000;
constexpr double kMegabyte = 1e6;

struct Tree {
  std::vector<std::wstring> folders;  // relative, parents first
  std::vector<std::wstring> files;    // relative
  uint64_t bytes = 0;
};

// Folders two levels deep; file sizes spread evenly around the mean.
Tree MakeTree(const base::FilePath& root) {
  Tree tree;
  std::mt19937 random(302);
  ::CreateDirectoryW(root.value().c_str(), nullptr);
  for (int i = 0; i < kFolderCount; ++i) {
    std::wstring folder = L"dir" + std::to_wstring(i);
    if (i >= 10)
      folder = tree.folders[i % 10] + L"\\" + folder;
    ::CreateDirectoryW(root.Append(folder).value().c_str(), nullptr);
    tree.folders.push_back(folder);
  }
  const int file_count = bench::SmokeOr(kFileCount, kSmokeFileCount);
  const size_t mean =
      bench::SmokeOr(kTotalBytes, kSmokeTotalBytes) / file_count;
  std::string data(3 * mean, '\0');
  for (char& unit : data)
    unit = static_cast<char>(random());
  for (int i = 0; i < file_count; ++i) {
    const size_t size = mean / 2 + random() % mean;
    const std::wstring file = tree.folders[random() % kFolderCount] + L"\\f" +
                              std::to_wstring(i) + L".bin";
    base::WriteBufferToFile(root.Append(file), data.data() + (i % mean),
                            static_cast<int>(size));
    tree.files.push_back(file);
    tree.bytes += size;
  }
  std::sort(tree.files.begin(), tree.files.end());
  return tree;
}

bool LoopCopy(const Tree& tree,
              const base::FilePath& from,
              const base::FilePath& to) {
  ::CreateDirectoryW(to.value().c_str(), nullptr);
  for (const std::wstring& folder : tree.folders)
    ::CreateDirectoryW(to.Append(folder).value().c_str(), nullptr);
  bool ok = true;
  for (const std::wstring& file : tree.files) {
    ok &= ::CopyFileW(from.Append(file).value().c_str(),
                      to.Append(file).value().c_str(), FALSE) != FALSE;
  }
  return ok;
}

bool TransactionCopy(const Tree& tree,
                     const base::FilePath& from,
                     const base::FilePath& to,
                     installer::Transaction* transaction) {
  bool ok = true;
  for (const std::wstring& file : tree.files) {
    ok &= transaction->ExecuteOperation(
        std::make_unique<installer::CopyFileOperation>(from.Append(file),
                                                       to.Append(file)));
  }
  return ok;
}

// The number of files below `folder`, set-aside files included.
int CountFiles(const base::FilePath& folder) {
  int count = 0;
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW(folder.Append(L"*").value().c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE)
    return 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..")
      continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += CountFiles(folder.Append(name));
    else
      ++count;
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return count;
}

double Seconds(const std::function<bool()>& body, bool* ok) {
  const auto start = std::chrono::steady_clock::now();
  *ok &= body();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count();
}

struct Figures {
  double loop = 1e300;
  double copy = 1e300;
  double rollback = 1e300;
  double commit = 1e300;
};

// One round of a case: the loop, then the transaction's copy and rollback,
// then its copy and commit. `prepare` lays the target as the case needs.
bool RunRound(const Tree& tree,
              const base::FilePath& source,
              const base::FilePath& target,
              const std::function<void()>& prepare,
              Figures* figures) {
  bool ok = true;
  prepare();
  figures->loop = std::min(
      figures->loop, Seconds([&] { return LoopCopy(tree, source, target); }, &ok));

  prepare();
  const int files_before = CountFiles(target);
  {
    installer::Transaction transaction;
    figures->copy = std::min(
        figures->copy,
        Seconds([&] { return TransactionCopy(tree, source, target, &transaction); },
                &ok));
    figures->rollback = std::min(figures->rollback, Seconds([&] {
                                   transaction.RollbackOperations();
                                   return true;
                                 }, &ok));
  }
  if (CountFiles(target) != files_before) {
    std::printf("the rollback left %d files, not %d\n", CountFiles(target),
                files_before);
    ok = false;
  }

  prepare();
  {
    auto transaction = std::make_unique<installer::Transaction>();
    ok &= TransactionCopy(tree, source, target, transaction.get());
    figures->commit = std::min(figures->commit, Seconds([&] {
                                 transaction.reset();
                                 return true;
                               }, &ok));
  }
  if (CountFiles(target) != static_cast<int>(tree.files.size())) {
    std::printf("the commit left %d files, not %zu\n", CountFiles(target),
                tree.files.size());
    ok = false;
  }
  return ok;
}

void ReportFigure(const std::string& name, const Tree& tree, double seconds) {
  bench::Report(name, tree.bytes / kMegabyte / seconds, "MB/s");
  bench::Report(name, tree.files.size() / seconds, "files/s");
}

void ReportCase(const std::string& name, const Tree& tree, const Figures& f) {
  ReportFigure(name + ": CopyFileW loop", tree, f.loop);
  ReportFigure(name + ": transaction copy", tree, f.copy);
  ReportFigure(name + ": rollback", tree, f.rollback);
  ReportFigure(name + ": commit", tree, f.commit);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  base::FilePath work;
  if (!arguments.empty())
    work = base::FilePath::FromUTF8(arguments[0]);
  else if (base::GetTempDir(&work))
    work = work.Append(L"tarvo_transaction_bench");
  base::DeletePath(work, true);
  ::CreateDirectoryW(work.value().c_str(), nullptr);
  const base::FilePath source = work.Append(L"source");
  const base::FilePath target = work.Append(L"target");
  const Tree tree = MakeTree(source);
  bench::Report("tree files", tree.files.size(), "files");
  bench::Report("tree size", tree.bytes / kMegabyte, "MB");

  auto empty = [&] { base::DeletePath(target, true); };
  auto installed = [&] {
    empty();
    LoopCopy(tree, source, target);
  };
  Figures into_empty, over_installed;
  bool ok = true;
  // The cases take turns, so that a slow spell of the disk does not fall
  // on one of them only.
  for (int run = 0; run < bench::SmokeOr(kRuns, 1); ++run) {
    ok &= RunRound(tree, source, target, empty, &into_empty);
    ok &= RunRound(tree, source, target, installed, &over_installed);
  }
  ReportCase("into empty folder", tree, into_empty);
  ReportCase("over installed tree", tree, over_installed);

  base::DeletePath(work, true);
  if (!ok)
    std::printf("a run failed\n");
  return ok ? 0 : 1;
}

// Copy and delete of a 5,000-file, 200 MB tree: CopyDirectory and DeletePath
// against plain loops of CopyFileW and DeleteFileW over the same entries.
// Each figure is the best of three runs, in MB/s (10^6 bytes) and files/s.
//   file_util_bench [work folder]
// The source tree is made in the work folder (the temporary folder by
// default); with a folder given it is left there as "source", so that a
// script can time other tools on the very same files.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kFileCount = 5000;
constexpr int kFolderCount = 50;
constexpr size_t kTotalBytes = 200'000'000;
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

// Folders nested up to three deep; file sizes spread evenly around the mean.
Tree MakeTree(const base::FilePath& root) {
  Tree tree;
  std::mt19937 random(179);
  ::CreateDirectoryW(root.value().c_str(), nullptr);
  for (int i = 0; i < kFolderCount; ++i) {
    std::wstring folder = L"dir" + std::to_wstring(i);
    if (i >= 5)
      folder = tree.folders[random() % i] + L"\\" + folder;
    if (std::count(folder.begin(), folder.end(), L'\\') > 2)
      folder = L"dir" + std::to_wstring(i);
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
  // Folder by folder, as a listing would give them.
  std::sort(tree.files.begin(), tree.files.end());
  return tree;
}

bool LoopCopy(const Tree& tree,
              const base::FilePath& from,
              const base::FilePath& to) {
  bool ok = ::CreateDirectoryW(to.value().c_str(), nullptr);
  for (const std::wstring& folder : tree.folders)
    ok &=
        ::CreateDirectoryW(to.Append(folder).value().c_str(), nullptr) != FALSE;
  for (const std::wstring& file : tree.files) {
    ok &= ::CopyFileW(from.Append(file).value().c_str(),
                      to.Append(file).value().c_str(), FALSE) != FALSE;
  }
  return ok;
}

bool LoopDelete(const Tree& tree, const base::FilePath& root) {
  bool ok = true;
  for (const std::wstring& file : tree.files)
    ok &= ::DeleteFileW(root.Append(file).value().c_str()) != FALSE;
  for (auto folder = tree.folders.rbegin(); folder != tree.folders.rend();
       ++folder) {
    ok &= ::RemoveDirectoryW(root.Append(*folder).value().c_str()) != FALSE;
  }
  return ok && ::RemoveDirectoryW(root.value().c_str());
}

struct Contender {
  std::string name;
  std::function<void()> prepare;
  std::function<bool()> body;
  double best_seconds = 1e300;
};

// Runs the contenders in turn, kRuns rounds (one in a smoke run), so that a
// slow spell of the disk does not fall on one of them only; keeps each one's
// best time.
bool RunRounds(std::vector<Contender>* contenders) {
  bool ok = true;
  for (int run = 0; run < bench::SmokeOr(kRuns, 1); ++run) {
    for (Contender& contender : *contenders) {
      contender.prepare();
      const auto start = std::chrono::steady_clock::now();
      ok &= contender.body();
      const std::chrono::duration<double> elapsed =
          std::chrono::steady_clock::now() - start;
      contender.best_seconds =
          std::min(contender.best_seconds, elapsed.count());
    }
  }
  return ok;
}

void ReportRun(const std::string& name, const Tree& tree, double seconds) {
  bench::Report(name, tree.bytes / kMegabyte / seconds, "MB/s");
  bench::Report(name, tree.files.size() / seconds, "files/s");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  base::FilePath work;
  const bool keep_source = !arguments.empty();
  if (keep_source)
    work = base::FilePath::FromUTF8(arguments[0]);
  else if (base::GetTempDir(&work))
    work = work.Append(L"tarvo_file_util_bench");
  base::DeletePath(work, true);
  ::CreateDirectoryW(work.value().c_str(), nullptr);
  const base::FilePath source = work.Append(L"source");
  const base::FilePath copy = work.Append(L"copy");
  const Tree tree = MakeTree(source);
  bench::Report("tree files", tree.files.size(), "files");
  bench::Report("tree size", tree.bytes / kMegabyte, "MB");

  auto clear = [&] { base::DeletePath(copy, true); };
  auto fill = [&] {
    clear();
    base::CopyDirectory(source, copy);
  };
  std::vector<Contender> contenders = {
      {"copy: CopyDirectory", clear,
       [&] { return base::CopyDirectory(source, copy); }},
      {"copy: CopyFileW loop", clear,
       [&] { return LoopCopy(tree, source, copy); }},
      {"delete: DeletePath", fill,
       [&] { return base::DeletePath(copy, true); }},
      {"delete: DeleteFileW loop", fill,
       [&] { return LoopDelete(tree, copy); }},
  };
  const bool ok = RunRounds(&contenders);
  for (const Contender& contender : contenders)
    ReportRun(contender.name, tree, contender.best_seconds);

  clear();
  if (!keep_source)
    base::DeletePath(work, true);
  if (!ok)
    std::printf("a run failed\n");
  return ok ? 0 : 1;
}

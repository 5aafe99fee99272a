// Recovery time of a dead run's journal against its length: a journal of
// 10,000 and 100,000 lines (files created in a few hundred folders, some
// set aside, the folders made) is left in an installation folder under the
// name of a process that has ended, and the recovery undoes it. Most named
// files do not exist: the figure is the journal's own cost, not the
// deletions'. Each figure is the best of three runs, in seconds and lines/s.
//   recovery_bench [work folder]

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/ended_process.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/recovery/interrupted_run_recovery.h"

namespace {

constexpr int kLineCounts[] = {10'000, 100'000};
constexpr int kSmokeLineCount = 1'000;
constexpr int kFolderCount = 300;
constexpr int kRuns = 3;

std::string MakeJournal(const base::FilePath& folder, int lines) {
  std::string text;
  for (int i = 0; i < kFolderCount; ++i)
    text +=
        "folder\t" + folder.Append(L"d" + std::to_wstring(i)).AsUTF8() + "\n";
  for (int i = kFolderCount; i < lines; ++i) {
    const base::FilePath file =
        folder.Append(L"d" + std::to_wstring(i % kFolderCount))
            .Append(L"file" + std::to_wstring(i) + L".bin");
    if (i % 20 == 0) {
      text += "aside\t" + file.AsUTF8() + "\t" +
              file.AddExtension(L"1765140000.old").AsUTF8() + "\n";
    }
    text += "created\t" + file.AsUTF8() + "\n";
  }
  return text;
}

// Seconds the recovery took, or a negative value when it left the journal.
double RecoverOnce(const base::FilePath& folder,
                   const std::string& journal,
                   uint32_t dead_pid) {
  base::DeletePath(folder, true);
  base::CreateDirectory(folder);
  const base::FilePath file =
      folder.Append(L"installer_run_20261207204000_" +
                    std::to_wstring(dead_pid) + L".journal");
  base::WriteBufferToFile(file, journal.data(),
                          static_cast<int>(journal.size()));
  const auto start = std::chrono::steady_clock::now();
  const bool complete =
      installer::InterruptedRunRecovery::RecoverFolder(folder).complete();
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  if (!complete || base::PathExists(file)) {
    std::fprintf(stderr, "the journal was not recovered\n");
    return -1;
  }
  return took.count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  base::FilePath work;
  if (!arguments.empty())
    work = base::FilePath::FromUTF8(arguments[0]);
  else if (!base::GetTempDir(&work))
    return 1;
  const base::FilePath folder = work.Append(L"recovery_bench");
  const base::Process ended = base::EndedProcess();
  if (!ended.IsValid())
    return 1;
  const std::vector<int> line_counts = bench::SmokeOr(
      std::vector<int>(std::begin(kLineCounts), std::end(kLineCounts)),
      std::vector<int>{kSmokeLineCount});
  for (const int lines : line_counts) {
    const std::string journal = MakeJournal(folder, lines);
    double best = 1e9;
    for (int run = 0; run < bench::SmokeOr(kRuns, 1); ++run) {
      const double seconds = RecoverOnce(folder, journal, ended.Pid());
      if (seconds < 0)
        return 1;
      best = std::min(best, seconds);
    }
    const std::string name = "recovery of " + std::to_string(lines) + " lines";
    bench::Report(name, best, "s");
    bench::Report(name, lines / best, "lines/s");
  }
  base::DeletePath(folder, true);
  return 0;
}

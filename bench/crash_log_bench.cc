// The crash log of a real crashed process with 50 and 500 threads: the
// reporter's whole capture (attached as a debugger: modules, threads,
// registers) and the writing of the log, in milliseconds, and the log's
// size; then additions to the crash log's range set (20,000 windows of 32
// and 2,048 bytes around random addresses, as registers and stack slots
// give them).
//   crash_log_bench   (crash_child.exe is taken from the build folder)

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/scoped_handle.h"
#include "bench/bench_harness.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/debugged_process_state.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"
#include "desktop/windows/installer/test/standard_user_token.h"

namespace {

constexpr int kRangeAdditions = 20000;

struct Measurement {
  double milliseconds = 0;
  int64_t bytes = 0;
  size_t threads = 0;
};

struct Context {
  base::FilePath log_path;
  // The name the log was made under: the temporary file takes `log_path`.
  base::FilePath made_path;
  Measurement measurement;
};

void CaptureAndWrite(void* opaque,
                     const installer::PipeClientRecord& client,
                     const std::wstring* dump_path) {
  auto* context = static_cast<Context*>(opaque);
  const auto start = std::chrono::steady_clock::now();
  {
    const installer::ScopedDebuggerAttachment debugger(client.process_id());
    installer::DebuggedProcessState state;
    if (!state.Collect(client.process_id(), client.exception_pointers_address(),
                       client.thread_id_address(), {})) {
      return;
    }
    installer::MemoryRangeSet ranges;
    installer::WriteCrashLog(&ranges, state, installer::CrashLogData(),
                             context->log_path, &context->made_path);
    context->measurement.threads = state.GetThreads().size();
  }
  context->measurement.milliseconds =
      std::chrono::duration<double, std::milli>(
          std::chrono::steady_clock::now() - start)
          .count();
  base::GetFileSize(context->made_path, &context->measurement.bytes);
}

std::wstring ChildPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const base::FilePath bench(std::wstring(module, length));
  return bench.DirName().DirName().Append(L"desktop\\windows\\crash_child.exe")
      .value();
}

Measurement MeasureCrashLog(int threads) {
  Context context;
  base::CreateTemporaryFile(&context.log_path);
  installer::CrashPipeServer::Callbacks callbacks;
  callbacks.on_dump = &CaptureAndWrite;
  callbacks.dump_context = &context;
  {
    installer::CrashPipeServer server(
        installer::GetCrashReporterPipeName(::GetCurrentProcessId()), nullptr,
        callbacks, false, std::wstring());
    server.Start();
    std::wstring command = L"\"" + ChildPath() +
                           L"\" --crash=access-violation --threads=" +
                           std::to_wstring(threads) +
                           L" --crash-reporter-pid=" +
                           std::to_wstring(::GetCurrentProcessId());
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION started = {};
    // A standard user's process: one that may run elevated (every one of
    // Wine's by its own token) takes no reporter its command line names.
    const base::win::ScopedHandle token = installer::test::MakeStandardUserToken();
    if (token.IsValid() &&
        ::CreateProcessAsUserW(token.Get(), nullptr, command.data(), nullptr,
                               nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &started)) {
      const base::win::ScopedHandle process(started.hProcess);
      const base::win::ScopedHandle thread(started.hThread);
      ::WaitForSingleObject(process.Get(), INFINITE);
    }
  }
  base::DeletePath(context.log_path, false);
  base::DeletePath(context.made_path, false);
  return context.measurement;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const std::vector<int> thread_counts =
      bench::SmokeOr(std::vector<int>{50, 500}, std::vector<int>{50});
  for (int threads : thread_counts) {
    const Measurement measurement = MeasureCrashLog(threads);
    if (measurement.bytes == 0) {
      std::fprintf(stderr, "no crash log of %d threads was written\n", threads);
      return 1;
    }
    const std::string name =
        "crash log, " + std::to_string(measurement.threads) + " threads";
    bench::Report(name + ": capture and write", measurement.milliseconds, "ms");
    bench::Report(name + ": size", measurement.bytes / 1024.0, "KiB");
  }

  std::mt19937_64 random(1);
  std::vector<std::pair<uint64_t, uint64_t>> windows;
  for (int i = 0; i < kRangeAdditions; ++i) {
    const uint64_t address = 0x10000 + random() % (256ull << 20);
    const uint64_t radius = i % 4 == 0 ? 16 : 1024;
    windows.push_back({address - radius, address + radius});
  }
  uint64_t covered = 0;
  const double rate = bench::MeasureRate(
      [&] {
        installer::MemoryRangeSet ranges;
        for (const auto& [start, end] : windows)
          ranges.Add(start, end);
        covered = ranges.covered_bytes();
        bench::DoNotOptimize(&covered);
      },
      kRangeAdditions);
  bench::Report("range set: 20,000 additions", kRangeAdditions / rate * 1000,
                "ms");
  bench::Report("range set: bytes covered", covered / 1024.0, "KiB");
  return 0;
}

// Lines per second written to a log file: LOG(INFO) with the full header and
// with the default one (the local time only), against a plain fprintf loop to
// a file in the same run, buffered and flushed per line (each log line is one
// WriteFile, as a flushed fprintf line is).

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/logging.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kLinesPerCall = 1000;

std::wstring TempPath(const wchar_t* name) {
  wchar_t directory[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, directory);
  return std::wstring(directory, length) + name;
}

void ReportLogRate(const std::string& label, bool full_header) {
  base::SetLogItems(full_header, full_header, true, full_header);
  bench::Report(label, bench::MeasureRate([] {
                  for (int i = 0; i < kLinesPerCall; ++i)
                    LOG(INFO) << "benchmark line " << i << " with a little text";
                }, kLinesPerCall), "lines/s");
}

void ReportFprintfRate(const std::string& label, FILE* file, bool flush) {
  bench::Report(label, bench::MeasureRate([&] {
                  for (int i = 0; i < kLinesPerCall; ++i) {
                    std::fprintf(file,
                                 "[%lu:%lu:1207/101010.123:123456:INFO:logging_bench.cc(42)] "
                                 "benchmark line %d with a little text\n",
                                 GetCurrentProcessId(), GetCurrentThreadId(), i);
                    if (flush)
                      std::fflush(file);
                  }
                }, kLinesPerCall), "lines/s");
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  const std::wstring log_path = TempPath(L"tarvo_logging_bench.log");
  base::LoggingSettings settings;
  settings.log_file_path = log_path.c_str();
  settings.old_file_mode = base::DELETE_OLD_LOG_FILE;
  if (!base::InitLogging(settings)) {
    std::printf("cannot open the log file\n");
    return 1;
  }
  ReportLogRate("LOG(INFO) full header", true);
  ReportLogRate("LOG(INFO) default header", false);

  const std::wstring plain_path = TempPath(L"tarvo_logging_bench_plain.log");
  FILE* plain = _wfopen(plain_path.c_str(), L"wb");
  if (!plain)
    return 1;
  ReportFprintfRate("fprintf buffered", plain, false);
  ReportFprintfRate("fprintf flushed per line", plain, true);
  std::fclose(plain);

  // Park logging on the null device so the file can be deleted.
  settings.log_file_path = L"NUL";
  base::InitLogging(settings);
  DeleteFileW(log_path.c_str());
  DeleteFileW(plain_path.c_str());
  return 0;
}

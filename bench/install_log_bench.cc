// Writing and reading back the install log of a large installation: 10,000
// files and 1,000 registry values (50 keys of ten values in each hive, one
// key in ten in the 32-bit view). Each figure is the best of five runs, in
// milliseconds for the whole log, plus the log's size.
//   install_log_bench

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/win/scoped_com_initializer.h"
#include "bench/bench_harness.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/install_log/install_log_writer.h"
#include "desktop/windows/installer/registry/registry_data.h"

namespace {

constexpr int kFileCount = 10000;
constexpr int kSmokeFileCount = 100;
constexpr int kKeysPerHive = 50;
constexpr int kValuesPerKey = 10;
constexpr int kRuns = 5;

installer::InstallLog MakeLog() {
  installer::InstallLog log;
  log.app_id = "Tarvo.9f86d081";
  log.path = L"C:\\Users\\J\u00f6rg\\AppData\\Local\\Tarvo\\Application";
  log.subfolder = L"Application";
  log.version = "120.0.6099.5";
  const int file_count = bench::SmokeOr(kFileCount, kSmokeFileCount);
  for (int i = 0; i < file_count; ++i) {
    log.files.push_back(L"120.0.6099.5\\resources\\folder" +
                        std::to_wstring(i % 97) + L"\\file_" +
                        std::to_wstring(i) + L".pak");
  }
  installer::RegistryData* hives[] = {&log.hklm_registry, &log.hkcu_registry};
  for (installer::RegistryData* hive : hives) {
    for (int key = 0; key < kKeysPerHive; ++key) {
      const std::wstring path =
          L"Software\\Classes\\TarvoHTML" + std::to_wstring(key) + L"\\shell";
      for (int value = 0; value < kValuesPerKey; ++value) {
        const std::wstring data = log.path +
                                  L"\\tarvo.exe --single-argument %" +
                                  std::to_wstring(value);
        installer::AddRegistryValue(
            hive, path, L"Value" + std::to_wstring(value), data.c_str(), REG_SZ,
            static_cast<uint32_t>((data.size() + 1) * sizeof(wchar_t)), 1,
            key % 10 == 0 ? KEY_WOW64_32KEY : 0);
      }
    }
  }
  return log;
}

double BestSeconds(const std::function<bool()>& run) {
  double best = 1e9;
  for (int i = 0; i < bench::SmokeOr(kRuns, 1); ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) {
      std::fprintf(stderr, "run failed\n");
      return -1;
    }
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - start;
    best = std::min(best, elapsed.count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  base::win::ScopedCOMInitializer com;
  if (!com.Succeeded())
    return 1;
  base::FilePath temp;
  if (!base::GetTempDir(&temp))
    return 1;
  const base::FilePath folder = temp.Append(
      L"install_log_bench_" + std::to_wstring(::GetCurrentProcessId()));
  if (!base::CreateDirectory(folder))
    return 1;
  const base::FilePath path = folder.Append(installer::kInstallLogName);
  const installer::InstallLog log = MakeLog();

  const double write_seconds = BestSeconds(
      [&] { return installer::InstallLogWriter().Write(log, path); });
  int64_t size = 0;
  base::GetFileSize(path, &size);
  installer::InstallLog read;
  const double read_seconds = BestSeconds([&] {
    read = installer::InstallLog();
    return installer::InstallLogReader().Read(&read, path);
  });
  base::DeletePath(folder, true);
  if (!(read == log)) {
    std::fprintf(stderr, "the log read back differs\n");
    return 1;
  }
  bench::Report("install log size", size / 1e6, "MB");
  bench::Report("install log write (10000 files, 1000 values)",
                write_seconds * 1e3, "ms");
  bench::Report("install log read (10000 files, 1000 values)",
                read_seconds * 1e3, "ms");
  return 0;
}

#include "desktop/windows/crash_reporter/crash_reporter_paths.h"

#include <atomic>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "desktop/windows/crash_reporter/crash_environment.h"
#include "desktop/windows/installer/settings/may_run_elevated.h"

namespace installer {

namespace {

constexpr char kUserDataDirSwitch[] = "user-data-dir";

struct ReporterPaths {
  base::FilePath crash_directory;
  base::FilePath counter_file;
  base::FilePath preferences_file;
  base::FilePath crash_id_file;
  bool log_dir_overridden = false;
};

ReporterPaths& Paths() {
  static ReporterPaths paths;
  return paths;
}

std::atomic<uint32_t> g_crash_number{0};

base::FilePath PathOfKey(int key) {
  base::FilePath path;
  if (!base::GetPathForKey(key, &path))
    return base::FilePath();
  return path;
}

}  // namespace

bool GetCrashDirectory() {
  ReporterPaths& paths = Paths();
  // The browser's files (counter, preferences, crash id) are the user's: a
  // reporter that may run elevated neither reads nor writes them where the
  // user's command line points.
  const base::FilePath user_data(
      MayRunElevated()
          ? std::wstring()
          : base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(
                kUserDataDirSwitch));
  if (!user_data.empty())
    base::SetPathOverride(kUserDataPathKey, user_data, false, true);
  paths.counter_file = PathOfKey(kCounterFilePathKey);
  paths.preferences_file = PathOfKey(kPreferencesFilePathKey);
  paths.crash_id_file = PathOfKey(kCrashIdFilePathKey);

  const std::string log_dir = GetCrashLogDirOverride();
  if (!log_dir.empty()) {
    const base::FilePath folder = base::FilePath::FromUTF8(log_dir);
    if (base::CreateDirectory(folder)) {
      paths.crash_directory = folder;
      // Without a crash id file of its own there is no name to give one
      // in this folder.
      paths.crash_id_file = paths.crash_id_file.empty()
                                ? base::FilePath()
                                : folder.Append(paths.crash_id_file.BaseName()
                                                    .value());
      paths.log_dir_overridden = true;
    }
  }
  if (!paths.crash_directory.empty())
    return true;
  base::FilePath temp;
  if (!base::GetTempDir(&temp))
    return false;
  paths.crash_directory = temp.StripTrailingSeparators();
  return true;
}

const base::FilePath& GetCrashDirectoryPath() {
  return Paths().crash_directory;
}

const base::FilePath& GetCounterFilePath() {
  return Paths().counter_file;
}

const base::FilePath& GetPreferencesFilePath() {
  return Paths().preferences_file;
}

const base::FilePath& GetCrashIdFilePath() {
  return Paths().crash_id_file;
}

bool IsCrashLogDirOverridden() {
  return Paths().log_dir_overridden;
}

uint32_t NextCrashNumber() {
  return ++g_crash_number;
}

}  // namespace installer

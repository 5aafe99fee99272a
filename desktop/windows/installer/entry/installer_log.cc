#include "desktop/windows/installer/entry/installer_log.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/log_escape.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/entry/executable_directory.h"
#include "desktop/windows/installer/product/installer_names.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product/run_folder_name.h"

namespace installer {

namespace {

// A command line carries several paths and switches that a reader of the
// log needs whole; it is still bounded like any data from outside.
constexpr size_t kCommandLineLogLimit = 2048;

}  // namespace

base::FilePath GetLogFilePath() {
  const std::wstring name =
      RunFolderName::MakeForThisRun(
          base::Utf8ToWide(FormatWithProductName("%s_installer", true))) +
      L".log";
  base::FilePath folder;
  if (!TryPathKeyDirectory(GetInstallerFolderName(), base::FilePath(), 0,
                           &folder, base::kTempDir)) {
    return base::FilePath(name);
  }
  return folder.Append(name);
}

base::FilePath GetFallbackLogFilePath(const base::FilePath& log_path) {
  base::FilePath folder;
  if (!base::GetPathForKey(base::kLocalAppData, &folder))
    return base::FilePath();
  return folder.Append(GetInstallerFolderName())
      .Append(log_path.BaseName().value());
}

void InitInstallerLogging(const base::CommandLine& command_line) {
  // The uninstaller's recovery starts the log before the process set-up
  // does: a second start would make a second file, the name being taken.
  static bool started = false;
  if (started)
    return;
  started = true;
  const base::FilePath log_path = GetLogFilePath();
  const base::FilePath fallback_path = GetFallbackLogFilePath(log_path);
  base::LoggingSettings settings;
  settings.logging_destination = base::LOG_TO_FILE;
  settings.log_file_path = log_path.value().c_str();
  settings.fallback_log_file_path =
      fallback_path.empty() ? nullptr : fallback_path.value().c_str();
  // The name holds the process id: a file of that name is the log of an
  // earlier process whose id was given out again within the same second,
  // and deleting it would lose that log. Nor is it appended to: the folder
  // is the user's, a possibly elevated process writes here, and a name
  // planted in advance (a link to any file) would take its lines; such a
  // name gives way to the next free one.
  settings.old_file_mode = base::APPEND_TO_OLD_LOG_FILE;
  settings.new_file_only = true;
  base::InitLogging(settings);
  LOG(INFO) << FormatWithProductName("%s installer starting - version ", false)
            << GetVersionString() << " " << GetStreamName();
  LOG(INFO) << "Command line: "
            << base::EscapeForLog(
                   base::WideToUtf8(command_line.GetCommandLineString()),
                   kCommandLineLogLimit);
}

}  // namespace installer

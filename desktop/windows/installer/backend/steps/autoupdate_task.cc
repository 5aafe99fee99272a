#include "desktop/windows/installer/backend/steps/autoupdate_task.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/backend/run_state.h"
#include "desktop/windows/installer/backend/steps/journaled_temporary_files.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_string_ids.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "desktop/windows/installer/settings/settings.h"
#include "desktop/windows/installer/system/utils.h"
#include "desktop/windows/installer/tasks/task_scheduler.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"

namespace installer {

namespace {

constexpr char kScheduledAutoupdateSwitch[] = "scheduledautoupdate";
constexpr int32_t kAutoupdateTimeValue = 3600;

}  // namespace

AutoupdateTask::AutoupdateTask(Installer* installer)
    : InstallerPart(installer) {}

bool AutoupdateTask::ShouldCreateAutoupdateTask() const {
  if (run_.settings->GetFlag(COPY_ONLY))
    return false;
  // The elevated permission process holds the folder for a user-only
  // installation; a task made now would belong to the wrong account.
  return run_.settings->GetFlag(ALL_USERS_FLAG) ||
         !run_.permission_undo_event.IsValid();
}

void AutoupdateTask::CreateAutoupdateTask(const base::FilePath& folder) {
  LOG(INFO) << "Creating scheduled task";
  std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler();
  if (!scheduler || !scheduler->Init()) {
    LOG(ERROR) << "Could not initialize task scheduler";
    return;
  }
  scheduler->DeleteStaleTasks();
  base::CommandLine command_line(folder.Append(kLauncherName));
  command_line.AppendSwitch(kScheduledAutoupdateSwitch);
  command_line.AppendArg("$(Arg0)");
  ScheduledTaskInfo info(command_line);
  info.description = GetLocalizedString(kStringAutoupdateTaskDescription);
  info.name = L"Autoupdate " + base::Utf8ToWide(run_.install_log.app_id);
  const bool scheduled = ShouldScheduleAutoupdateTask();
  info.run_as_system = run_.settings->GetFlag(ALL_USERS_FLAG) ? 1 : 0;
  info.time_limit_seconds = kAutoupdateTimeValue;
  info.trigger_kind = scheduled ? 1 : 2;
  info.add_logon_trigger = scheduled;
  info.run_only_if_network = true;
  if (!scheduler->CreateTask(info)) {
    LOG(ERROR) << "Could not create scheduled task";
    return;
  }
  DecreaseAutoupdateErrorCount(folder.Append(kInstallerPrefsName));
}

// static
void AutoupdateTask::DecreaseAutoupdateErrorCount(const base::FilePath& path) {
  // Written in place, in the installation folder: the write's temporary
  // file is journaled before it exists, for a run killed in the middle.
  JournaledTemporaryFiles temporaries;
  const base::RefPtr<base::JsonPrefStore> prefs =
      base::MakeRefCounted<base::JsonPrefStore>(path, nullptr);
  prefs->SetTemporaryFileMaker(&temporaries);
  prefs->ReadPrefs();
  const base::Value* value = nullptr;
  int32_t count = 0;
  if (!prefs->GetValue("au_task_error_count", &value) ||
      !value->GetAsInteger(&count) || count <= 0) {
    return;
  }
  --count;
  prefs->SetValue("au_task_error_count", base::MakeValue<base::Value>(count),
                  0);
  prefs->FlushPendingWrite();
  LOG(INFO) << "Setting autoupdate task error counter to : " << count;
}

// static
void AutoupdateTask::RemoveAutoupdateTask(std::string* name_suffix) {
  std::unique_ptr<TaskScheduler> scheduler = CreateTaskScheduler();
  if (scheduler->Init()) {
    scheduler->DeleteStaleTasks();
    scheduler->DeleteTask(L"Autoupdate " + base::Utf8ToWide(*name_suffix));
  }
  name_suffix->clear();
}

}  // namespace installer

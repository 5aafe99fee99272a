#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include "desktop/common/autoupdate/updatechecker/global_storage_impl.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/install_log_reader.h"
#include "desktop/windows/installer/service/product_environment.h"

namespace installer {

namespace {

constexpr wchar_t kInstallLogName[] = L"installation_status.xml";

// The copy-only flag of the installation this process belongs to, from its
// install log; false when there is none.
bool IsCopyOnlyInstallation() {
  InstallLog log;
  InstallLogReader().Read(
      &log, GetProductEnvironment()->install_dir().Append(kInstallLogName));
  return log.copy_only;
}

}  // namespace

// static
GlobalStorage* GlobalStorage::GetInstance() {
  static GlobalStorageImpl instance;
  if (!instance.initialised())
    instance.Initialize(IsCopyOnlyInstallation());
  return &instance;
}

}  // namespace installer

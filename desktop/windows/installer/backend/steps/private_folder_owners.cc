#include "desktop/windows/installer/backend/steps/private_folder_owners.h"

#include "desktop/windows/installer/settings/may_run_elevated.h"

namespace installer {

PrivateTempFolder::Owners GetPrivateFolderOwners(bool all_users) {
  return all_users || MayRunElevated()
             ? PrivateTempFolder::Owners::kAdministrators
             : PrivateTempFolder::Owners::kCurrentUser;
}

}  // namespace installer

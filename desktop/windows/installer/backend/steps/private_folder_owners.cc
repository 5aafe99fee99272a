#include "desktop/windows/installer/backend/steps/private_folder_owners.h"

#include "desktop/windows/crash_reporter/crash_environment.h"

namespace installer {

PrivateTempFolder::Owners GetPrivateFolderOwners(bool all_users) {
  return all_users || MayRunElevated()
             ? PrivateTempFolder::Owners::kAdministrators
             : PrivateTempFolder::Owners::kCurrentUser;
}

}  // namespace installer

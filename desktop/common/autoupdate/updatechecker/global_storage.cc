#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include "desktop/common/autoupdate/updatechecker/global_storage_impl.h"
#include "desktop/windows/installer/product_environment/product_environment.h"

namespace installer {

// static
GlobalStorage* GlobalStorage::GetInstance() {
  static GlobalStorageImpl instance;
  // A copy-only installation keeps the storage in its own folder only.
  if (!instance.initialised())
    instance.Initialize(GetProductEnvironment()->IsCopyOnly());
  return &instance;
}

}  // namespace installer

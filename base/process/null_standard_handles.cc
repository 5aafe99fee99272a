#include "base/process/null_standard_handles.h"

#include "base/logging.h"
#include "base/process/launch.h"

namespace base {

NullStandardHandles::NullStandardHandles()
    : null_device_(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr)) {
  if (!null_device_.IsValid())
    PLOG(WARNING) << "Cannot open the null device";
}

NullStandardHandles::~NullStandardHandles() = default;

bool NullStandardHandles::ApplyTo(ProcessLaunchOptions* options) {
  if (!null_device_.IsValid())
    return false;
  inherited_.assign(1, null_device_.Get());
  options->handles_to_inherit = &inherited_;
  options->stdin_handle = null_device_.Get();
  options->stdout_handle = null_device_.Get();
  options->stderr_handle = null_device_.Get();
  return true;
}

}  // namespace base

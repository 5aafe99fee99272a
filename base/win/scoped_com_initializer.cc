#include "base/win/scoped_com_initializer.h"

namespace base::win {

ScopedCOMInitializer::ScopedCOMInitializer(Apartment apartment)
    : result_(::CoInitializeEx(nullptr,
                               apartment == Apartment::kMultiThreaded
                                   ? COINIT_MULTITHREADED
                                   : COINIT_APARTMENTTHREADED)) {}

ScopedCOMInitializer::~ScopedCOMInitializer() {
  // S_FALSE (already initialised) must be balanced too.
  if (SUCCEEDED(result_))
    ::CoUninitialize();
}

}  // namespace base::win

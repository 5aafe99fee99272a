#include "base/win/scoped_variant.h"

namespace base::win {

ScopedVariant::ScopedVariant() {
  ::VariantInit(&variant_);
}

ScopedVariant::ScopedVariant(const wchar_t* text) {
  ::VariantInit(&variant_);
  V_VT(&variant_) = VT_BSTR;
  V_BSTR(&variant_) = ::SysAllocString(text);
}

ScopedVariant::~ScopedVariant() {
  ::VariantClear(&variant_);
}

void ScopedVariant::Reset() {
  ::VariantClear(&variant_);
}

VARIANT* ScopedVariant::Receive() {
  Reset();
  return &variant_;
}

}  // namespace base::win

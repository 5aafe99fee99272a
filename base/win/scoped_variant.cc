#include "base/win/scoped_variant.h"

#include <cstring>

namespace base::win {

ScopedVariant::ScopedVariant() {
  ::VariantInit(&variant_);
}

ScopedVariant::ScopedVariant(const wchar_t* text) {
  ::VariantInit(&variant_);
  V_VT(&variant_) = VT_BSTR;
  V_BSTR(&variant_) = ::SysAllocString(text);
}

ScopedVariant::ScopedVariant(std::string_view bytes) {
  ::VariantInit(&variant_);
  SAFEARRAY* array =
      ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  if (!array)
    return;
  if (FAILED(::SafeArrayAccessData(array, &data))) {
    ::SafeArrayDestroy(array);
    return;
  }
  std::memcpy(data, bytes.data(), bytes.size());
  ::SafeArrayUnaccessData(array);
  V_VT(&variant_) = VT_ARRAY | VT_UI1;
  V_ARRAY(&variant_) = array;
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

#include "base/win/propvariant_util.h"

#include <cstring>

namespace base::win {

namespace {

// SetValue, then Commit only when SetValue gave S_OK; clears the variant.
bool SetPropertyValue(IPropertyStore* store,
                      const PROPERTYKEY& key,
                      PROPVARIANT* variant) {
  HRESULT result = store->SetValue(key, *variant);
  if (result == S_OK)
    result = store->Commit();
  ::PropVariantClear(variant);
  return SUCCEEDED(result);
}

}  // namespace

HRESULT InitPropVariantFromString(const wchar_t* text, PROPVARIANT* variant) {
  std::memset(variant, 0, sizeof(*variant));
  if (!text)
    return E_INVALIDARG;
  const size_t bytes = (::wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (!copy)
    return E_OUTOFMEMORY;
  std::memcpy(copy, text, bytes);
  variant->vt = VT_LPWSTR;
  variant->pwszVal = copy;
  return S_OK;
}

bool SetStringPropertyValue(IPropertyStore* store, const wchar_t* text) {
  PROPVARIANT variant;
  if (FAILED(InitPropVariantFromString(text, &variant)))
    return false;
  return SetPropertyValue(store, kAppUserModelIdKey, &variant);
}

bool SetBooleanPropertyValue(IPropertyStore* store, bool value) {
  PROPVARIANT variant;
  std::memset(&variant, 0, sizeof(variant));
  variant.vt = VT_BOOL;
  variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return SetPropertyValue(store, kAppUserModelIsDualModeKey, &variant);
}

}  // namespace base::win

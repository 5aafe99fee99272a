#ifndef BASE_WIN_PROPVARIANT_UTIL_H_
#define BASE_WIN_PROPVARIANT_UTIL_H_

#include <windows.h>

#include <propidl.h>
#include <propsys.h>

namespace base::win {

// The application user model keys of a shell link. Defined here because
// the toolchain's headers lack the dual-mode key and leave the id key
// without a definition to link against.
inline constexpr PROPERTYKEY kAppUserModelIdKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}},
    5};
inline constexpr PROPERTYKEY kAppUserModelIsDualModeKey = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}},
    11};

// A VT_LPWSTR copy of `text` from the COM task allocator. E_INVALIDARG for a
// null text, E_OUTOFMEMORY when the copy fails; the variant is then zeroed.
HRESULT InitPropVariantFromString(const wchar_t* text, PROPVARIANT* variant);

// Write the app id (VT_LPWSTR) or the dual-mode flag (VT_BOOL) into the
// store and commit it; true when the last step succeeded.
bool SetStringPropertyValue(IPropertyStore* store, const wchar_t* text);
bool SetBooleanPropertyValue(IPropertyStore* store, bool value);

}  // namespace base::win

#endif  // BASE_WIN_PROPVARIANT_UTIL_H_

#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_PRODUCT_PLACEHOLDERS_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_PRODUCT_PLACEHOLDERS_H_

#include <string>

namespace installer {

// The value of a registry template's placeholder that depends on nothing but
// the build and its branding ("Version", "Product", "HelpURL", ...);
// `name` itself for any other.
std::wstring ResolveProductPlaceholder(const std::wstring& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_PRODUCT_PLACEHOLDERS_H_

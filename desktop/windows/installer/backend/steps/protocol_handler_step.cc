#include "desktop/windows/installer/backend/steps/protocol_handler_step.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "desktop/windows/installer/product_environment/product_environment.h"
#include "desktop/windows/installer/settings/settings_switches.h"
#include "desktop/windows/installer/settings/status.h"

namespace installer {

namespace {

// Longer than any scheme in use; the name becomes a registry value name.
constexpr size_t kMaxSchemeLength = 64;

bool IsAsciiLetter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsAsciiDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

}  // namespace

ProtocolHandlerStep::ProtocolHandlerStep(Installer* installer)
    : InstallerPart(installer) {}

// static
bool ProtocolHandlerStep::IsValidProtocolScheme(const std::wstring& scheme) {
  if (scheme.empty() || scheme.size() > kMaxSchemeLength ||
      !IsAsciiLetter(scheme[0])) {
    return false;
  }
  for (wchar_t c : scheme) {
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != L'+' && c != L'-' &&
        c != L'.') {
      return false;
    }
  }
  return true;
}

void ProtocolHandlerStep::StepRegisterProtocolHandler() {
  if (!status()->existing_installation) {
    ScheduleNextStep();
    return;
  }
  const std::wstring protocol = GetProcessCommandLine().GetSwitchValueNative(
      switches::kRegisterProtocolHandler);
  // The value comes from whoever started the backend: anything but a
  // scheme could name a value other than a protocol's.
  if (!IsValidProtocolScheme(protocol)) {
    LOG(ERROR) << "Invalid protocol scheme: " << base::WideToUtf8(protocol);
    ScheduleNextStep();
    return;
  }
  const std::wstring client =
      base::Utf8ToWide(GetProductName() + GetStreamName());
  const std::wstring key_path = L"SOFTWARE\\Clients\\StartMenuInternet\\" +
                                client + L"\\Capabilities\\URLAssociations";
  base::win::RegistryKey key(HKEY_LOCAL_MACHINE, key_path.c_str(), KEY_WRITE);
  if (key.Valid() && InstallationWroteKey(base::WideToUtf8(key_path)) &&
      key.WriteString(protocol.c_str(), client.c_str()) == ERROR_SUCCESS) {
    LOG(INFO) << "Registered as handler of " << base::WideToUtf8(protocol);
    GetProductEnvironment()->MakeDefaultForAssociation(protocol, false);
  }
  ScheduleNextStep();
}

bool ProtocolHandlerStep::InstallationWroteKey(
    const std::string& key_path) const {
  for (const RegistryKeyRecord& record : status()->install_log.hklm_registry) {
    if (base::EqualsCaseInsensitiveAscii(record.key_path, key_path))
      return true;
  }
  return false;
}

}  // namespace installer

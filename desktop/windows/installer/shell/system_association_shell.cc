#include "desktop/windows/installer/shell/system_association_shell.h"

#include <objbase.h>

#include "base/lazy_global.h"
#include "base/logging.h"
#include "base/win/com_ptr.h"
#include "base/win/scoped_com_initializer.h"

namespace installer {
namespace {

using base::win::ComPtr;

constinit base::LazyGlobalInstance<SystemAssociationShell> g_system_shell(
    base::LazyGlobalLifetime::kLeaky);

bool Succeeded(HRESULT result, const char* what) {
  if (SUCCEEDED(result))
    return true;
  LOG(ERROR) << what << " failed: 0x" << std::hex << result;
  return false;
}

bool CreateAssociationRegistration(
    ComPtr<IApplicationAssociationRegistration>* registration) {
  return Succeeded(registration->CreateInstance(
                       __uuidof(ApplicationAssociationRegistration)),
                   "Creating the association registration");
}

}  // namespace

AssociationShell* GetSystemAssociationShell() {
  return g_system_shell.Get();
}

base::win::WindowsVersion SystemAssociationShell::windows_version() {
  return base::win::GetWindowsVersion();
}

bool SystemAssociationShell::QueryAppIsDefault(
    const std::wstring& query,
    ASSOCIATIONTYPE type,
    ASSOCIATIONLEVEL level,
    const std::wstring& application) {
  base::win::ScopedCOMInitializer com;
  ComPtr<IApplicationAssociationRegistration> registration;
  if (!CreateAssociationRegistration(&registration))
    return false;
  BOOL is_default = FALSE;
  return Succeeded(
             registration->QueryAppIsDefault(query.c_str(), type, level,
                                             application.c_str(), &is_default),
             "QueryAppIsDefault") &&
         is_default;
}

bool SystemAssociationShell::SetAppAsDefault(const std::wstring& application,
                                             const std::wstring& association,
                                             ASSOCIATIONTYPE type) {
  base::win::ScopedCOMInitializer com;
  ComPtr<IApplicationAssociationRegistration> registration;
  return CreateAssociationRegistration(&registration) &&
         Succeeded(registration->SetAppAsDefault(application.c_str(),
                                                 association.c_str(), type),
                   "SetAppAsDefault");
}

bool SystemAssociationShell::ShowOpenWithDialog(const std::wstring& file,
                                                OPEN_AS_INFO_FLAGS flags) {
  base::win::ScopedCOMInitializer com;
  OPENASINFO info = {};
  info.pcszFile = file.c_str();
  info.oaifInFlags = flags;
  return Succeeded(::SHOpenWithDialog(nullptr, &info), "SHOpenWithDialog");
}

void SystemAssociationShell::NotifyAssociationChanged() {
  ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

bool SystemAssociationShell::ActivateApplication(
    const std::wstring& app_user_model_id,
    const std::vector<std::wstring>& arguments) {
  base::win::ScopedCOMInitializer com;
  ComPtr<IApplicationActivationManager> manager;
  if (!Succeeded(manager.CreateInstance(__uuidof(ApplicationActivationManager),
                                        CLSCTX_SERVER),
                 "Creating the application activation manager")) {
    return false;
  }
  // The activated application comes up behind the installer's window
  // unless the activation manager may hand the foreground on.
  ::CoAllowSetForegroundWindow(manager.Get(), nullptr);
  for (const std::wstring& argument : arguments) {
    DWORD process_id = 0;
    if (!Succeeded(manager->ActivateApplication(app_user_model_id.c_str(),
                                                argument.c_str(), AO_NONE,
                                                &process_id),
                   "Activating the application")) {
      return false;
    }
  }
  return true;
}

}  // namespace installer

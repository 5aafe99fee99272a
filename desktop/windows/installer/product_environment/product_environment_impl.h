#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_IMPL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/ref_counted.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/product_environment/product_environment.h"

namespace installer {

class AssociationShell;

// The product environment of one installation folder. Reads the folder's
// "installer_prefs.json" at construction; never writes it.
class ProductEnvironmentImpl : public ProductEnvironment {
 public:
  // The installation the running executable belongs to.
  ProductEnvironmentImpl();
  ProductEnvironmentImpl(const ProductEnvironmentImpl&) = delete;
  ProductEnvironmentImpl& operator=(const ProductEnvironmentImpl&) = delete;
  ~ProductEnvironmentImpl() override;

  // The installation folder of an executable that runs from `exe_dir`: that
  // folder, or its parent when only the parent holds "launcher.exe" (the
  // executable runs from a version subfolder).
  static base::FilePath InstallDirForExecutableDir(
      const base::FilePath& exe_dir);

  // ProductEnvironment:
  base::RefPtr<base::JsonPrefStore> GetInstallerPrefs() override;
  bool GetBoolPref(const char* name, bool* out) override;
  bool GetWideStringPref(const char* name, std::wstring* out) override;
  bool GetStringPref(const char* name, std::string* out) override;
  bool GetInt64Pref(const char* name, int64_t* out) override;
  const base::FilePath& install_dir() const override;
  const InstallLog& install_log() const override;
  bool IsCopyOnly() override;
  bool IsDefaultBrowser() override;
  bool GetAssociationCommand(const std::wstring& association,
                             bool all_users,
                             std::wstring* command) override;
  bool IsAssociationOurs(std::wstring association,
                         bool use_product_executable) override;
  bool IsDefaultStartMenuClient() override;
  bool IsSingleProfile() override;
  bool GetPreviousDefaultBrowser(std::wstring* command) override;
  bool SetPreviousDefaultBrowser(const std::wstring& command,
                                 bool all_users) override;
  void RememberCurrentDefaultBrowser(bool all_users) override;
  bool MakeDefaultBrowser(bool all_users) override;
  bool RegisterAssociations(bool all_users) override;
  bool MakeDefaultForAssociation(std::wstring association,
                                 bool all_users) override;
  bool RegisterStartMenuClient(bool all_users) override;
  std::wstring GetApplicationId() override;
  std::wstring GetAutoupdateName() override;
  bool GetUserDataDir(base::FilePath* path) override;
  bool GetProfileDir(base::FilePath* path) override;
  bool GetUserDataDirForStream(base::FilePath* path) override;
  bool GetUserDataDirForChannel(base::FilePath* path, int32_t channel) override;
  void RebasePath(const base::FilePath& path, base::FilePath* rebased) override;

  // Tests only: the association operations go through `shell` (not owned;
  // it must outlive its use) instead of the system's services.
  void SetAssociationShellForTesting(AssociationShell* shell);

 protected:
  // An installation folder whose install log is still to be read.
  explicit ProductEnvironmentImpl(const base::FilePath& install_dir);
  // An installation folder whose install log is already known.
  ProductEnvironmentImpl(const base::FilePath& install_dir,
                         const InstallLog& install_log);

 private:
  void Initialize();
  // Reads "installation_status.xml" into the record once; what cannot be
  // read keeps the record's defaults.
  void LoadInstallLog();
  // Whether the install log says the installation is for all users.
  bool IsAllUsersInstallation();

  // MakeDefaultForAssociation's own steps on Windows 8 and 8.1, and on
  // Windows 10 and later.
  bool OfferOpenWithDialog(const std::wstring& association, bool all_users);
  bool OpenDefaultAppsSettings(const std::wstring& association, bool all_users);

  // The profile inside the installation folder of a single-profile
  // installation.
  bool GetLocalProfileDir(base::FilePath* path);
  bool GetRoamingProfileDir(base::FilePath* path);
  // The user-data folder that "profile_path" or the branding's template
  // names for `channel`.
  bool ExpandProfilePath(base::FilePath* path, int32_t channel);
  // With `strip_user`, a "profile_path" that ends in the user's name gives
  // the folder holding every user's profile.
  bool GetProfilePathForChannel(base::FilePath* path,
                                bool strip_user,
                                int32_t channel);

  base::RefPtr<base::JsonPrefStore> installer_prefs_;
  base::FilePath install_dir_;
  // The preference "profile_path" as read at construction.
  std::wstring profile_path_;
  bool install_log_loaded_ = false;
  InstallLog install_log_;
  // The name the browser is registered under as an application.
  std::wstring registered_name_;
  AssociationShell* shell_ = nullptr;
};

// The protocols and file types (leading dot included) whose handler a run
// may make this browser: "http", and before Windows 8 these beside it.
std::vector<std::wstring> GetBrowserAssociations();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_IMPL_H_

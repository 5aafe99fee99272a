#ifndef DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/ref_counted.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/install_log/install_log.h"

namespace installer {

// The installer's view of one installation of the browser: its folder, its
// installer preferences, its install log, its associations and where its
// profile lives. Used from one thread.
class ProductEnvironment {
 public:
  virtual ~ProductEnvironment() = default;

  // The installer preferences of the installation, read synchronously on
  // first use; an empty store when the file is missing or unreadable.
  virtual base::RefPtr<base::JsonPrefStore> GetInstallerPrefs() = 0;
  virtual bool GetBoolPref(const char* name, bool* out) = 0;
  virtual bool GetWideStringPref(const char* name, std::wstring* out) = 0;
  virtual bool GetStringPref(const char* name, std::string* out) = 0;
  // 64-bit numbers are kept as strings in the preferences file; a string
  // that is not wholly a decimal number is not read.
  virtual bool GetInt64Pref(const char* name, int64_t* out) = 0;

  virtual const base::FilePath& install_dir() const = 0;
  // The record as it stands, without reading "installation_status.xml".
  virtual const InstallLog& install_log() const = 0;
  // The install log's copy_only flag. This and the other operations that
  // need the log read the folder's "installation_status.xml" once, on first
  // need, unless the environment was made with a record.
  virtual bool IsCopyOnly() = 0;

  // Whether "http" and "https" are this installation's; before Windows 8
  // it must be the start-menu internet client as well.
  virtual bool IsDefaultBrowser() = 0;
  // The command Windows runs for a protocol or file extension (per user,
  // or for all users). An association is a file extension when it starts
  // with '.', else a protocol.
  virtual bool GetAssociationCommand(const std::wstring& association,
                                     bool all_users,
                                     std::wstring* command) = 0;
  // Whether that command names this installation's launcher, or with
  // `use_product_executable` its product executable.
  virtual bool IsAssociationOurs(std::wstring association,
                                 bool use_product_executable) = 0;
  virtual bool IsDefaultStartMenuClient() = 0;
  virtual bool IsSingleProfile() = 0;

  // The command line of the browser that handled "http" before this one,
  // kept so that it can be restored: the current user's, else all users'.
  virtual bool GetPreviousDefaultBrowser(std::wstring* command) = 0;
  virtual bool SetPreviousDefaultBrowser(const std::wstring& command,
                                         bool all_users) = 0;
  // Keeps the current "http" command unless it already names this
  // installation.
  virtual void RememberCurrentDefaultBrowser(bool all_users) = 0;

  // Registers the browser's document class and asks Windows, in the way the
  // Windows version allows, to make the browser the handler of web links
  // and documents. True when it is the default browser afterwards.
  virtual bool MakeDefaultBrowser(bool all_users) = 0;
  // Writes the browser's document class for the current user or all users.
  virtual bool RegisterAssociations(bool all_users) = 0;
  // Makes the browser the handler of one association: through the registry,
  // the association-registration service, the Open-with dialog (Windows 8,
  // 8.1) or the Settings app (Windows 10 and later, where false also means
  // that the browser already handles it).
  virtual bool MakeDefaultForAssociation(std::wstring association,
                                         bool all_users) = 0;
  virtual bool RegisterStartMenuClient(bool all_users) = 0;

  // The installation's application id, as its shortcuts carry it.
  virtual std::wstring GetApplicationId() = 0;
  // The name of the installation's scheduled autoupdate task.
  virtual std::wstring GetAutoupdateName() = 0;

  // The profile folders of this installation.
  virtual bool GetUserDataDir(base::FilePath* path) = 0;
  virtual bool GetProfileDir(base::FilePath* path) = 0;
  virtual bool GetUserDataDirForStream(base::FilePath* path) = 0;
  virtual bool GetUserDataDirForChannel(base::FilePath* path,
                                        int32_t channel) = 0;
  // A path under the roaming application-data folder rewritten onto the
  // local one.
  virtual void RebasePath(const base::FilePath& path,
                          base::FilePath* rebased) = 0;
};

// The installation the running executable belongs to, made on first use.
ProductEnvironment* GetProductEnvironment();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PRODUCT_ENVIRONMENT_PRODUCT_ENVIRONMENT_H_

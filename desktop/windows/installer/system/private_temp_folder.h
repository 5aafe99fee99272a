#ifndef DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

// A folder made for one use, for files that a possibly elevated process
// runs. Its name is new, so nobody can have prepared it, and its protected
// access list admits only its owners, so nobody else can swap its files or
// put libraries beside them. Deleted with its contents on destruction. Used
// from one thread.
//
// A run killed with its whole process tree cannot delete its folder: the
// next one finds it by what every such folder has from its creation, a mark
// file inside and a named event that lives exactly as long as a process of
// the run holds it.
class PrivateTempFolder {
 public:
  // The file made inside at creation: the folder is this installer's.
  static constexpr wchar_t kMarkName[] = L"tarvo_private_folder.mark";

  enum class Owners {
    // The current user alone, in the user's temporary folder (path key 4).
    kCurrentUser,
    // SYSTEM and the Administrators alone, in the system's temporary
    // folder below the Windows folder, from which users may not delete or
    // rename what others made: for what an elevated process installs.
    kAdministrators,
  };

  explicit PrivateTempFolder(Owners owners = Owners::kCurrentUser);
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  ~PrivateTempFolder();

  // The protected access list a folder of `owners` is made with, in the
  // security descriptor language ("D:P(A;OICI;FA;;;SY)..."): what Windows
  // stores on it. Empty when it cannot be built.
  static std::wstring GetAccessListText(Owners owners);

  // Whether `folder` has the form of a folder this class makes: a fresh
  // name directly in the temporary folder of either kind of owners.
  static bool HasMadeFolderForm(const base::FilePath& folder);
  // Whether `name` is a fresh name as this class makes them.
  static bool IsMadeFolderName(const std::wstring& name);
  // The folder the folders of `owners` are made in.
  static bool GetParentFolder(Owners owners, base::FilePath* parent);
  // The name of the event that the run holds while the folder `name` (its
  // base name) is in use; only the folder's owners may open it.
  static std::wstring GetLiveRunEventName(const std::wstring& name);

  // False when no folder could be made.
  [[nodiscard]] bool Create();
  // Empty until `Create` succeeded.
  const base::FilePath& path() const { return path_; }
  // Lets the folder outlive this object, for a process that runs from it
  // and has it removed once it has ended; returns its path (empty when
  // none was made).
  base::FilePath Release();
  // The live-run event, for a process that runs from the folder to inherit:
  // the folder then counts as in use for as long as that process lives,
  // even after this one. Null until `Create` succeeded.
  HANDLE live_run_event() const { return live_run_event_.Get(); }

 private:
  enum class Marking { kMarked, kNameTaken, kFailed };
  // Makes the live-run event (with the folder's list and `owner`) and the
  // mark of the new, empty `folder`; the folder goes again when they cannot
  // be made.
  Marking MarkAsLive(const base::FilePath& folder,
                     const SECURITY_DESCRIPTOR& folder_descriptor,
                     PSID owner);

  const Owners owners_;
  base::FilePath path_;
  // Closed after the folder is deleted.
  base::win::ScopedHandle live_run_event_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SYSTEM_PRIVATE_TEMP_FOLDER_H_

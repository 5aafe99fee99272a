#ifndef DESKTOP_WINDOWS_INSTALLER_SECURITY_ADMINISTRATORS_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SECURITY_ADMINISTRATORS_FOLDER_H_

#include <windows.h>

namespace installer {

// A folder that only the administrators and the system may change, as an
// all-users installation folder must be: elevated processes run what it
// holds.
class AdministratorsFolder {
 public:
  // The access list such a folder is given: kept from its parent's entries,
  // full control for SYSTEM and the Administrators, read and execute for
  // Users, passed on to everything inside; owned by the Administrators.
  static constexpr wchar_t kSecurityDescriptor[] =
      L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

  // Whether `sid` is the Administrators, SYSTEM or the service that owns
  // the system's files.
  static bool IsPrivileged(PSID sid);

  // Whether no entry of `dacl` that applies to the object itself lets
  // anyone but those put, remove or rename something in it, or change who
  // may. A missing list lets everyone in.
  static bool OnlyPrivilegedWrite(const ACL* dacl);

  // Whether a folder with this owner and list is the administrators': the
  // owner, who may always rewrite the list, is privileged or is the owner
  // this process gives what it makes (`default_owner`, which is the
  // Administrators for an elevated administrator on Windows), and only the
  // privileged may write.
  static bool IsAdministrators(PSID owner,
                               PSID default_owner,
                               const ACL* dacl);

  // The same read from the open folder (opened with READ_CONTROL).
  static bool IsAdministrators(HANDLE folder);

  // The owner that this process gives what it makes, in `buffer`; null
  // when it cannot be read.
  static PSID ReadDefaultOwner(BYTE (&buffer)[SECURITY_MAX_SID_SIZE]);

  // Writes the owner and the access list above to the open folder (opened
  // with WRITE_DAC and WRITE_OWNER). Where the owner cannot be changed,
  // the process's own default owner stays (Wine gives every file the
  // user's). False, with the error logged, when the list was not written.
  [[nodiscard]] static bool Protect(HANDLE folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SECURITY_ADMINISTRATORS_FOLDER_H_

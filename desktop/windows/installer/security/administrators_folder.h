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
  // anyone but those (and `trusted_user`, which may be null) put, remove or
  // rename something in it, or change who may. A missing list lets
  // everyone in.
  static bool OnlyPrivilegedWrite(const ACL* dacl, PSID trusted_user = nullptr);

  // Whether a folder with this owner and list is the administrators': the
  // owner, who may always rewrite the list, and everyone the list lets
  // write are privileged or `trusted_user`.
  static bool IsAdministrators(PSID owner, const ACL* dacl, PSID trusted_user);

  // What a folder's owner and list say, with ReadTrustedUser's user
  // counted among the privileged.
  struct Ownership {
    // The owner is privileged or that user.
    bool trusted_owner = false;
    // The folder is the administrators' (IsAdministrators).
    bool administrators = false;
    // Only those may take away what the folder holds or put something else
    // in its place: delete or rename an entry, rename the folder itself, or
    // change who may (as its owner always may). Adding entries of one's own
    // is left to anyone: users may make folders at a volume's root.
    bool keeps_entries = false;
    // The entries a folder made in it inherits let only those do so either
    // (its creator, this process's administrators, stands for the
    // creator's entries).
    bool new_folders_keep_entries = false;
  };
  // Of the open folder (opened with READ_CONTROL). False, with the error
  // logged, when its owner and list cannot be read.
  [[nodiscard]] static bool ReadOwnership(HANDLE folder, Ownership* ownership);
  // Of a folder's security descriptor, with `trusted_user` as
  // ReadTrustedUser gives it.
  [[nodiscard]] static bool OwnershipOf(PSECURITY_DESCRIPTOR descriptor,
                                        PSID trusted_user,
                                        Ownership* ownership);

  // The account this process runs as, in `buffer`, when every process of
  // it runs with the administrators' rights: the system runs them without
  // a limited twin of the same account (the user account control is off,
  // as under Wine, which also makes every file the user's). Null where a
  // process of the same account may run without those rights (a folder
  // that account owns or may write is then no administrators' folder), or
  // when that cannot be read.
  static PSID ReadTrustedUser(BYTE (&buffer)[SECURITY_MAX_SID_SIZE]);

  // Writes the owner and the access list above to the open folder (opened
  // with WRITE_DAC and WRITE_OWNER); where the owner cannot be changed the
  // old one stays, for IsAdministrators to judge. False, with the error
  // logged, when the list was not written.
  [[nodiscard]] static bool Protect(HANDLE folder);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SECURITY_ADMINISTRATORS_FOLDER_H_

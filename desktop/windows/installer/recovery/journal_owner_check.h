#ifndef DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_OWNER_CHECK_H_
#define DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_OWNER_CHECK_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace installer {

// Whether an elevated recovery may act on `journal`, found in `folder`: the
// file belongs to the user itself, the administrators or the system, or
// only those can write in the folder and none but those can rename or
// empty a folder above it (ParentFoldersCheck), which would let another put
// a folder of their own in its place. Anyone else could write a journal for
// an administrator's process to carry out. False when that cannot be read.
bool IsJournalFromTrustedWriter(const base::FilePath& journal,
                                const base::FilePath& folder);

// Whether this process may act on the record `record` (a run's journal, an
// uninstallation's record of leftovers) found in `folder`: one with no more
// than a standard user's rights acts on any, as its user could; one whose
// token may be elevated (ProcessElevation) only on what a trusted writer
// wrote. Every such record is judged here, by the one question.
bool MayActOnRecord(const base::FilePath& record, const base::FilePath& folder);

// The same on what was read: the journal's owner, the current user, the
// folder's owner and access list, and whether the folders above it keep
// what they hold for the privileged. Entries that only pass to what the
// folder holds, and denying ones, do not let anyone in.
bool IsTrustedJournalWriter(PSID journal_owner,
                            PSID user,
                            PSID folder_owner,
                            const ACL* folder_dacl,
                            bool parents_kept);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RECOVERY_JOURNAL_OWNER_CHECK_H_

#ifndef BASE_FILES_HELD_FOLDER_H_
#define BASE_FILES_HELD_FOLDER_H_

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {

// A local folder held open from its volume's root down, one name at a time,
// none of them a link, and each shared with readers and writers but not
// with a rename or a deletion: while it lives no folder on the way can be
// renamed, removed or replaced by a link. Files and folders are made, found
// and moved in by a single name relative to its handle, so that what a
// process that may run elevated writes below a folder a user can change
// lands in the folder it checked and nowhere else. Lives on one sequence;
// shared by the objects that write into it, a child keeping its parents.
class HeldFolder : public std::enable_shared_from_this<HeldFolder> {
  struct Key {};

 public:
  using Ref = std::shared_ptr<const HeldFolder>;

  // Made by Open and OpenSubfolder alone (`Key` is private).
  HeldFolder(Key, Ref parent, win::ScopedHandle handle, FilePath path);

  ~HeldFolder();
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;

  // Opens `path` ("X:\..." in its long spelling, a drive's folder): null,
  // with the Windows error set, when a name on the way is missing, is a
  // link or leads elsewhere (ERROR_CANT_RESOLVE_FILENAME), or is not a
  // single plain name (ERROR_INVALID_NAME), or when a folder is held by
  // someone renaming or removing it (ERROR_SHARING_VIOLATION).
  [[nodiscard]] static Ref Open(const FilePath& path);

  // Whether `name` is one plain name that every path rule keeps as it is:
  // no separator, stream colon or wildcard, not "." or "..", no trailing
  // dot or space (which the system trims when the name is used as a path).
  static bool IsSingleName(std::wstring_view name);

  // A subfolder by `name`: an existing one (never a link), or, with
  // `create`, one made new here when there is none (`*made` then true).
  // A folder made here is held with delete access, so that
  // RemoveWhenReleased can take it away again. Null with the error set.
  [[nodiscard]] Ref OpenSubfolder(std::wstring_view name,
                                  bool create,
                                  bool* made = nullptr) const;

  // This folder opened anew with `access` (its list changed through it,
  // say), by its single name in its held parent, and shared with every
  // holder: the holds keep the name leading here. Invalid with the error
  // set; ERROR_INVALID_FUNCTION for a volume's root.
  [[nodiscard]] win::ScopedHandle Reopen(DWORD access) const;

  // A file made new by `name`, never through a name that exists or a link
  // at it. Invalid with the error set.
  [[nodiscard]] win::ScopedHandle CreateNewFile(std::wstring_view name,
                                                DWORD access,
                                                DWORD sharing) const;

  // The file already at `name`, opened as itself: refused
  // (ERROR_CANT_RESOLVE_FILENAME) when it is a link of any kind, a folder,
  // or has a second name (a hard link to a file elsewhere, someone else's
  // maybe); ERROR_FILE_NOT_FOUND when nothing is there.
  [[nodiscard]] win::ScopedHandle OpenPlainFile(std::wstring_view name,
                                                DWORD access,
                                                DWORD sharing) const;

  // The file or folder already at `name`, opened as itself (`*is_folder`
  // tells which), for renaming or removing that name: refused
  // (ERROR_CANT_RESOLVE_FILENAME) when it is a link of any kind or lies
  // elsewhere; ERROR_FILE_NOT_FOUND when nothing is there. A file's second
  // name is no refusal here: what is done to one name touches no other.
  [[nodiscard]] win::ScopedHandle OpenEntry(std::wstring_view name,
                                            DWORD access,
                                            DWORD sharing,
                                            bool* is_folder) const;

  // Removes `name` here through handles alone: a link is removed itself
  // (where the system opens a link as itself: Wine opens what it leads to,
  // and such a name stays, ERROR_CANT_ACCESS_FILE), a file's read-only
  // attribute is cleared first, and with `recursive` a folder is emptied
  // first, each entry opened relative to the folder's handle held as
  // itself, never entering a link. Nothing there counts as removed. False
  // with the Windows error (a file another program holds, a folder not
  // empty) or at the first entry that stays.
  [[nodiscard]] bool RemoveEntry(std::wstring_view name, bool recursive) const;

  // RemoveEntry for `path` through its folder held from the drive root: a
  // folder on the way that is a link refuses it (ERROR_CANT_RESOLVE_FILENAME)
  // however it was judged before, and a missing one counts as removed.
  [[nodiscard]] static bool RemovePath(const FilePath& path, bool recursive);

  // Renames the file or folder open on `file` (with DELETE access) to
  // `name` in this folder, which must be free. False with the error set.
  [[nodiscard]] bool MoveInto(HANDLE file, std::wstring_view name) const;

  // The owner and access list a file made new here gets (the entries the
  // folder passes on, the maker's default where it passes none on), as a
  // self-relative descriptor worked out once by making such a file, which
  // goes again at once. Empty with the error set when it cannot be read.
  [[nodiscard]] const std::vector<unsigned char>& NewFileSecurity() const;

  // What an entry made below the folder open on `folder` gets, level by
  // level: [0] a file and a folder made there, [1] made in a folder made
  // there, and so on (a folder passes entries on to files and folders
  // apart, and an entry may stop at the first level), as
  // win::InheritedSecurity works it out from the folder's own descriptor.
  // Empty with the error set when it cannot be read.
  struct NewEntrySecurity {
    std::vector<unsigned char> file;
    std::vector<unsigned char> folder;
  };
  [[nodiscard]] static std::vector<NewEntrySecurity> NewTreeSecurity(
      HANDLE folder,
      size_t levels);

  // A file or folder made new in the folder open on `parent` (with
  // FILE_TRAVERSE and the right to add it) under a name of this process's,
  // open with DELETE, READ_CONTROL and `more_access`, shared with nobody,
  // and gone again once closed (a folder once what was made in it has
  // gone). Invalid with the error set.
  static win::ScopedHandle MakeProbe(HANDLE parent,
                                     bool folder,
                                     DWORD more_access = 0);

  // The file or folder `name` of the folder open on `parent` (with
  // FILE_TRAVERSE), opened as itself as far as the system allows and not
  // judged yet (see IsPlainEntryAt): a name relative to a handle spares
  // the system the whole path's lookup. Invalid with the error set.
  static win::ScopedHandle OpenEntryIn(HANDLE parent,
                                       std::wstring_view name,
                                       bool folder,
                                       DWORD access,
                                       DWORD sharing);

  // Where what is open on `handle` lies inside its volume ("\\a\\b", as
  // the system resolved it); empty with the error set.
  static std::wstring PathInVolume(HANDLE handle);
  // Whether what is open on `entry` is a plain folder (`folder`) or a file
  // with a single name, no reparse point, lying at `path_in_volume` (Wine
  // opens what a link leads to whatever the options say, and shows it as
  // plain: only where it lies tells).
  static bool IsPlainEntryAt(HANDLE entry,
                             std::wstring_view path_in_volume,
                             bool folder);

  // The owner, group and access list of what is open on `handle` (with
  // READ_CONTROL), self-relative; empty with the error set.
  static std::vector<unsigned char> ReadSecurity(HANDLE handle);
  // Gives `file` (with WRITE_DAC, and WRITE_OWNER where the owner differs)
  // the access list of `security`, and its owner where that differs. The
  // list is set as it stands: its entries keep the inherited marks they
  // have there. Returns the Windows error.
  [[nodiscard]] static DWORD GiveSecurity(
      HANDLE file,
      const std::vector<unsigned char>& security);
  // The same, with `current` the file's own descriptor as ReadSecurity
  // read it just now through the same handle: the owner is compared with
  // that instead of being read again (each read is a round trip to the
  // system, for every file moved). Empty `current`: the owner is set.
  [[nodiscard]] static DWORD GiveSecurity(
      HANDLE file,
      const std::vector<unsigned char>& security,
      const std::vector<unsigned char>& current);

  // A folder this process made (OpenSubfolder's `made`): removed once the
  // last reference goes, when it is empty now. False with the error set
  // (ERROR_DIR_NOT_EMPTY, or no delete access for a folder found here).
  [[nodiscard]] bool RemoveWhenReleased() const;

  HANDLE handle() const { return handle_.Get(); }
  // "X:\..." as the system spells it, from the volume's root down.
  const FilePath& path() const { return path_; }

 private:
  // Opens `name` below the folder open on `parent` with the NT call's
  // `disposition` and `options`.
  static win::ScopedHandle OpenRelative(HANDLE parent,
                                        std::wstring_view name,
                                        DWORD access,
                                        DWORD sharing,
                                        DWORD disposition,
                                        DWORD options,
                                        DWORD* result_information);
  // Whether `handle` is the plain folder or file `name` of this folder:
  // no reparse point, and its final path this folder's with `name`.
  bool HoldsEntry(HANDLE handle, std::wstring_view name, bool folder) const;
  // Whether `entry` is of the kind asked for, no link or reparse point, and
  // (a file) of one name only.
  static bool IsPlainKind(HANDLE entry, bool folder);
  // Whether the final path of `handle` is this folder's with `name`.
  bool LiesAt(HANDLE handle, std::wstring_view name) const;
  // The names listed here, "." and ".." left out; false with the error.
  bool ListNames(std::vector<std::wstring>* names) const;
  // Removes every entry listed here (RemoveEntry, recursive).
  bool RemoveAllEntries() const;

  const Ref parent_;
  const win::ScopedHandle handle_;
  const FilePath path_;
  mutable std::vector<unsigned char> new_file_security_;
};

}  // namespace base

#endif  // BASE_FILES_HELD_FOLDER_H_

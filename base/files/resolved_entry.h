#ifndef BASE_FILES_RESOLVED_ENTRY_H_
#define BASE_FILES_RESOLVED_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {

// A name on disk judged by what it resolves to, so that nothing deleted or
// moved by that name reaches through a link: the final path of a handle
// opened on the name without following its last link
// (FILE_FLAG_OPEN_REPARSE_POINT), held against the final path of the folder
// the name is listed in. The name is a link when its entry is a reparse
// point (a junction, a symbolic link), or when the handle lies elsewhere
// than the name says: Wine follows every link even on such an open, and
// lists a Unix link to a file with plain attributes.
class ResolvedEntry {
 public:
  enum class Kind {
    // Nothing is listed under the name, or its folder is missing.
    kMissing,
    // A file or folder of its own, in the folder the name is in.
    kPlain,
    // A link, junction or other reparse point, or a name that resolves
    // elsewhere: only the link itself may go, never what it leads to.
    kLink,
    // Listed, but nothing could be opened to tell what it is.
    kUnknown,
  };

  // What the judging handle may do besides reading attributes: with
  // kToDelete, a file (not a folder) is opened for deletion as well, so that
  // what is deleted is what was judged (DeleteJudgedFile).
  enum class Purpose { kToJudge, kToDelete };

  // `path` judged in its folder, whose final path is looked up.
  static ResolvedEntry Resolve(const FilePath& path,
                               Purpose purpose = Purpose::kToJudge);
  // The same where the caller knows the final path of the folder (a walk,
  // a cache of folders).
  static ResolvedEntry ResolveIn(const FilePath& path,
                                 const FilePath& folder_final_path,
                                 Purpose purpose = Purpose::kToJudge);
  // The same for an entry a listing of that folder found.
  static ResolvedEntry ResolveListed(const FilePath& path,
                                     const FilePath& folder_final_path,
                                     const WIN32_FIND_DATAW& listed,
                                     Purpose purpose = Purpose::kToJudge);

  // Where `path` lies once every link on the way, its last name included,
  // is followed; empty when it cannot be opened. "\\?\" forms come back
  // without their prefix ("C:\...", "\\server\share\...").
  static FilePath GetFinalPath(const FilePath& path);

  Kind kind() const { return kind_; }
  // kPlain: the entry's final path. kLink: the link's own path, its
  // folder's final path and the name it is listed under. kMissing: the
  // folder's final path and the name as given, when the folder is there.
  // Otherwise the name as given.
  const FilePath& path() const { return path_; }
  // As listed in the folder (a folder link shows FILE_ATTRIBUTE_DIRECTORY
  // with FILE_ATTRIBUTE_REPARSE_POINT).
  DWORD attributes() const { return attributes_; }
  bool is_directory() const {
    return (attributes_ & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  // kUnknown: the Windows error of the open.
  DWORD error() const { return error_; }

  // A file's identity: its index on the volume of the folder it lies in,
  // that folder told by its final path (which names the volume). Read
  // without asking for the volume's serial number, which Wine fetches from
  // another process on every call.
  struct FileId {
    FilePath folder;
    uint64_t index = 0;
  };

  // `path` opened for deletion without following a link, and known again
  // by `id` (read from an earlier judging handle): kPlain, with the
  // deleting handle, only when it is that very file in that very folder (a
  // file set aside under another name of its folder); kLink when something
  // else lies there now; kMissing when nothing does.
  static ResolvedEntry ReopenJudgedFile(const FilePath& path,
                                        const FileId& id);

  // A plain file judged kToDelete: its identity, read from the judging
  // handle; nullopt otherwise.
  std::optional<FileId> GetFileId() const;
  // Whether this entry holds the handle that judged a plain file for
  // deletion (not a folder, nor one judged only to be told apart).
  bool holds_handle() const { return handle_.IsValid(); }

  // A plain file judged kToDelete: deleted through the handle that judged
  // it (its read-only attribute cleared first). False otherwise, or with
  // the Windows error of the deletion.
  [[nodiscard]] bool DeleteJudgedFile();
  // A plain file judged kToDelete: renamed to `to` (which must not exist)
  // through the handle that judged it. False otherwise, or with the
  // Windows error of the rename.
  [[nodiscard]] bool RenameJudgedFile(const FilePath& to);
  // The same, to the single `name` within `folder_final_path` (its folder
  // when judged, FileId::folder), named relative to a handle of that folder
  // opened as itself: a link swapped in on the way since leads the file
  // nowhere else, and a folder that is no longer where it was judged is
  // refused (ERROR_CANT_RESOLVE_FILENAME). With `replace`, a file at the
  // name is replaced (RenameIntoFolder).
  [[nodiscard]] bool RenameJudgedFileInFolder(const FilePath& folder_final_path,
                                              std::wstring_view name,
                                              bool replace = false);
  // The judging handle of a plain file judged kToDelete, for what is done
  // to that very file (its access list); null otherwise.
  HANDLE handle() const { return handle_.Get(); }

 private:
  // A plain file lying in `folder_final_path` under `name` itself, judged by
  // its handle alone, without the listing that costs Wine as much as the
  // rest of a judgement: the handle shows no link nor folder, and its final
  // path is that name there. Anything else (a link, a folder, a short name,
  // nothing there) is nullopt, for the listing to judge.
  static std::optional<ResolvedEntry> ResolvePlainFileByHandle(
      const FilePath& path,
      const FilePath& folder_final_path,
      const FilePath& name,
      Purpose purpose);

  ResolvedEntry(Kind kind,
                const FilePath& path,
                DWORD attributes,
                DWORD error,
                win::ScopedHandle handle = win::ScopedHandle())
      : kind_(kind),
        path_(path),
        attributes_(attributes),
        error_(error),
        handle_(std::move(handle)) {}

  Kind kind_;
  FilePath path_;
  DWORD attributes_;
  DWORD error_;
  // The judging handle, kept for a plain entry.
  win::ScopedHandle handle_;
};

}  // namespace base

#endif  // BASE_FILES_RESOLVED_ENTRY_H_

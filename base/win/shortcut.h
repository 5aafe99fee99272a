#ifndef BASE_WIN_SHORTCUT_H_
#define BASE_WIN_SHORTCUT_H_

#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace base::win {

// What CreateOrUpdateShortcut does with the file; any other value fails.
enum ShortcutOperation : int {
  // A new link, overwriting any file at the path.
  kShortcutCreateAlways = 0,
  // A new link in place of an existing one; without given arguments the
  // old link's arguments are kept.
  kShortcutReplaceExisting = 1,
  // Loads the existing link and changes only the given fields.
  kShortcutUpdateExisting = 2,
};

// The fields of a shell link; `options` says which of them are set.
struct ShortcutProperties {
  enum Option : uint32_t {
    kTarget = 0x01,
    kWorkingDirectory = 0x02,
    kArguments = 0x04,
    kDescription = 0x08,
    kIcon = 0x10,  // The icon file and its index.
    kAppId = 0x20,
    kDualMode = 0x40,
  };

  ShortcutProperties();
  ~ShortcutProperties();

  void set_target(const FilePath& value);
  void set_working_directory(const FilePath& value);
  void set_arguments(const std::wstring& value);
  void set_description(const std::wstring& value);
  void set_icon(const FilePath& file, int32_t index);
  void set_app_id(const std::wstring& value);
  void set_dual_mode(bool value);

  FilePath target;
  FilePath working_directory;
  std::wstring arguments;
  std::wstring description;
  FilePath icon;
  int32_t icon_index = -1;
  // The application user model id, which groups the link with the running
  // application's windows on the taskbar.
  std::wstring app_id;
  bool dual_mode = false;
  uint32_t options = 0;
};

// COM must be initialised on the calling thread for all of these.

// Writes the link at `shortcut` as `operation` says. A target is required
// unless the link is only updated. The app id and dual mode are written on
// Windows 7 and later only. True when the link was saved.
bool CreateOrUpdateShortcut(const FilePath& shortcut,
                            const ShortcutProperties& properties,
                            int operation);

// Reads the fields named by `options` (ShortcutProperties::Option bits) into
// `out`, setting a bit of out->options for each field read. On failure the
// fields read so far stay in `out`.
bool ResolveShortcutProperties(const FilePath& shortcut,
                               uint32_t options,
                               ShortcutProperties* out);

// The link's target; `target` may be null to only check that the link loads.
bool ResolveShortcut(const FilePath& shortcut, FilePath* target);

// Asks the shell to unpin the link from the taskbar (Windows 7 and later).
bool UnpinShortcutFromTaskbar(const FilePath& shortcut);

}  // namespace base::win

#endif  // BASE_WIN_SHORTCUT_H_

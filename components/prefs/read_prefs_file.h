#ifndef COMPONENTS_PREFS_READ_PREFS_FILE_H_
#define COMPONENTS_PREFS_READ_PREFS_FILE_H_

#include <cstdint>

#include "base/files/file_path.h"
#include "base/values.h"

namespace base {

// What one read of a preferences file found, handed from the file's
// sequence to the store.
struct ReadPrefsResult {
  // Null unless the file parsed.
  ValueOwner value;
  // A `PrefStore::PrefReadError`.
  int32_t read_result = 0;
  // The file's folder does not exist.
  bool directory_missing = false;
};

// Reads and parses the preferences file at `path`. An unparsable file is
// moved aside to the path with the extension "bad" (replacing an earlier
// one), so that the next write cannot destroy it. Blocks.
ReadPrefsResult ReadPrefsFile(const FilePath& path);

// Where an unparsable file at `path` is set aside.
FilePath GetBadPrefsFilePath(const FilePath& path);

}  // namespace base

#endif  // COMPONENTS_PREFS_READ_PREFS_FILE_H_

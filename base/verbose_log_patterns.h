#ifndef BASE_VERBOSE_LOG_PATTERNS_H_
#define BASE_VERBOSE_LOG_PATTERNS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/strings/string_slice.h"

namespace base {

// The verbosity of each source file, from the switches "v" (a level for every
// file) and "vmodule" ("pattern=level,..."). A pattern without a path
// separator matches the module name (the file's base name without extension
// and "-inl"); one with a separator matches the whole path.
class VerboseLogPatterns {
 public:
  // A "v" value that reads as an integer n sets `*min_log_level` to -n. Files
  // that no pattern matches get -*min_log_level.
  VerboseLogPatterns(StringSlice v_switch_value,
                     StringSlice vmodule_switch_value,
                     int32_t* min_log_level);
  VerboseLogPatterns(const VerboseLogPatterns&) = delete;
  VerboseLogPatterns& operator=(const VerboseLogPatterns&) = delete;
  ~VerboseLogPatterns();

  // The level of the first pattern that matches `file`.
  int GetVerbosityLevel(StringSlice file) const;

 private:
  enum MatchTarget : int32_t { MATCH_MODULE = 0, MATCH_FILE = 1 };

  struct VerbosePattern {
    std::string pattern;
    int32_t verbosity_level;
    MatchTarget match_target;
  };

  std::vector<VerbosePattern> patterns_;
  int32_t* min_log_level_;
};

// Glob match: "*" any run of characters, "?" any one character, and "/" or
// "\" in the pattern matches either separator in the text.
bool MatchesVerbosePattern(StringSlice text, StringSlice pattern);

}  // namespace base

#endif  // BASE_VERBOSE_LOG_PATTERNS_H_

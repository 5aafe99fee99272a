#include "base/verbose_log_patterns.h"

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"

namespace base {
namespace {

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

// -level without overflow, for the lowest level a caller can set.
int NegatedLevel(int32_t level) {
  return level == INT32_MIN ? INT32_MAX : -level;
}

StringSlice BaseName(StringSlice path) {
  const StringSlice::size_type separator = path.FindLastOf("\\/");
  return separator == StringSlice::npos ? path : path.Substr(separator + 1);
}

// "dir/foo-inl.h" gives "foo": headers of inline code count as their module.
StringSlice ModuleName(StringSlice file) {
  StringSlice module = BaseName(file);
  const StringSlice::size_type dot = module.FindLastOf(".");
  if (dot != StringSlice::npos)
    module = module.Substr(0, dot);
  constexpr StringSlice kInlSuffix("-inl", 4);
  if (module.size() >= kInlSuffix.size() &&
      module.Substr(module.size() - kInlSuffix.size()) == kInlSuffix) {
    module = module.Substr(0, module.size() - kInlSuffix.size());
  }
  return module;
}

}  // namespace

VerboseLogPatterns::VerboseLogPatterns(StringSlice v_switch_value,
                                       StringSlice vmodule_switch_value,
                                       int32_t* min_log_level)
    : min_log_level_(min_log_level) {
  int32_t level = 0;
  if (!v_switch_value.empty() && StringToInt(v_switch_value, &level))
    *min_log_level_ = -level;

  StringPairs pairs;
  SplitKeyValuePairs(vmodule_switch_value, &pairs);
  for (const auto& [pattern, value] : pairs) {
    const bool has_separator = pattern.find_first_of("\\/") != std::string::npos;
    // A malformed level keeps what the conversion read before it stopped.
    int32_t pattern_level = 0;
    StringToInt(value, &pattern_level);
    patterns_.push_back(
        {pattern, pattern_level, has_separator ? MATCH_FILE : MATCH_MODULE});
  }
}

VerboseLogPatterns::~VerboseLogPatterns() = default;

int VerboseLogPatterns::GetVerbosityLevel(StringSlice file) const {
  const StringSlice module = ModuleName(file);
  for (const VerbosePattern& pattern : patterns_) {
    const StringSlice target = pattern.match_target == MATCH_FILE ? file : module;
    if (MatchesVerbosePattern(target, pattern.pattern))
      return pattern.verbosity_level;
  }
  return NegatedLevel(*min_log_level_);
}

bool MatchesVerbosePattern(StringSlice text, StringSlice pattern) {
  StringSlice::size_type t = 0;
  StringSlice::size_type p = 0;
  while (t < text.size() && p < pattern.size() && pattern[p] != '*') {
    const char want = pattern[p];
    const char have = text[t];
    const bool same = IsPathSeparator(want) ? IsPathSeparator(have)
                                            : (want == '?' || want == have);
    if (!same)
      return false;
    ++t;
    ++p;
  }
  if (p == pattern.size())
    return t == text.size();
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  if (p == pattern.size())
    return true;
  const StringSlice rest = pattern.Substr(p);
  for (; t < text.size(); ++t) {
    if (MatchesVerbosePattern(text.Substr(t), rest))
      return true;
  }
  return false;
}

}  // namespace base

#ifndef BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_
#define BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

#include <string>
#include <vector>

#include "base/features/feature_reader.h"
#include "base/strings/string_slice.h"

namespace base {

class CommandLine;

// Overrides from "with-feature:<name>" switches, valued "on" (or empty) and
// "off". Borrows the command line, which must outlive the reader.
class CommandLineFeatureReader : public FeatureReader {
 public:
  explicit CommandLineFeatureReader(const CommandLine& command_line);
  ~CommandLineFeatureReader() override;

  // "with-feature:" followed by `feature_name`.
  static std::string SwitchName(StringSlice feature_name);

  // In switch-name order; other values are logged and give no override.
  void ReadFeatures(std::vector<FeatureEntry>* overrides) const override;

 private:
  const CommandLine& command_line_;
};

}  // namespace base

#endif  // BASE_FEATURES_COMMAND_LINE_FEATURE_READER_H_

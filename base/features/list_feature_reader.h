#ifndef BASE_FEATURES_LIST_FEATURE_READER_H_
#define BASE_FEATURES_LIST_FEATURE_READER_H_

#include <vector>

#include "base/features/feature_reader.h"

namespace base {

class ListValue;

// Overrides from a stored list of strings "<name>@<state>", state 1 on and
// 2 off (an installation's "installer-experiments" preference). Borrows the
// list, which must outlive the reader; where the list is kept is the
// caller's concern.
class ListFeatureReader : public FeatureReader {
 public:
  explicit ListFeatureReader(const ListValue& list);
  ~ListFeatureReader() override;

  // In list order. Malformed elements are skipped silently; well-formed ones
  // whose name is not a feature name are skipped with a WARNING.
  void ReadFeatures(std::vector<FeatureEntry>* overrides) const override;

 private:
  const ListValue& list_;
};

}  // namespace base

#endif  // BASE_FEATURES_LIST_FEATURE_READER_H_

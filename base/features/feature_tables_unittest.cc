#include "base/features/feature_tables.h"

#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Flips every installer feature: only overridable ones change.
class FlipAllReader : public FeatureReader {
 public:
  explicit FlipAllReader(const FeatureList& list) : list_(list) {}

  void ReadFeatures(std::vector<FeatureEntry>* overrides) const override {
    for (const FeatureTableRow& row : GetInstallerFeatureTable())
      overrides->push_back({row.name, !list_.IsEnabled(row.name), false});
  }

 private:
  const FeatureList& list_;
};

TEST(FeatureTablesTest, InstallerFeaturesFollowProductMasks) {
  // Per feature in table order: "<state><overridable>" as 0/1 digits.
  const struct {
    const char* product_token;
    std::vector<std::string> expected;
  } kCases[] = {
      {"TRV", {"01", "00", "11", "11"}},
      {"QMX", {"01", "10", "01", "01"}},
      // Unknown products (tokens compare exactly) get masks (0, 0).
      {"trv", {"00", "00", "00", "00"}},
      {"", {"00", "00", "00", "00"}},
  };
  for (const auto& c : kCases) {
    FeatureList list;
    RegisterInstallerFeatures(c.product_token, &list);
    std::vector<bool> defaults;
    for (const FeatureTableRow& row : GetInstallerFeatureTable())
      defaults.push_back(list.IsEnabled(row.name));
    list.ApplyReader(FlipAllReader(list));
    std::vector<std::string> seen;
    const auto table = GetInstallerFeatureTable();
    for (size_t i = 0; i < table.size(); ++i) {
      const bool overridable = list.IsEnabled(table[i].name) != defaults[i];
      seen.push_back(std::string(defaults[i] ? "1" : "0") +
                     (overridable ? "1" : "0"));
    }
    EXPECT_EQ(c.expected, seen) << c.product_token;
  }
}

TEST(FeatureTablesTest, FindsProductChannelRows) {
  const struct {
    const char* token;
    int32_t channel;
    int32_t index;
  } kCases[] = {
      {"TRV", 1, 0}, {"TRV", 4, 3}, {"QMX", 1, 4}, {"QMX", 4, 7},
      {"TRV", 0, -1}, {"TRV", 5, -1}, {"qmx", 1, -1}, {"TR", 1, -1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.index, FindProductChannelEntry(c.token, c.channel))
        << c.token << " " << c.channel;
  }
}

TEST(FeatureTablesTest, FindFeatureMatchesWholeNamesOnly) {
  const FeatureTableRow* row = FindFeature("alternative-crash-logging");
  ASSERT_NE(nullptr, row);
  EXPECT_STREQ("alternative-crash-logging", row->name);
  EXPECT_EQ(nullptr, FindFeature("alternative-crash"));
  EXPECT_EQ(nullptr, FindFeature("alternative-crash-logging2"));
  EXPECT_EQ(nullptr, FindFeature(""));
  // Installer features live in the other table.
  EXPECT_EQ(nullptr, FindFeature("installer-experiment-test"));
}

}  // namespace
}  // namespace base

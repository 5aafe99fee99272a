#include "base/features/list_feature_reader.h"

#include <string>
#include <vector>

#include "base/features/feature_list.h"
#include "base/test/scoped_log_capture.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ListFeatureReaderTest, ReadsNameAtStateElements) {
  const struct {
    const char* element;
    const char* read;  // "<name> on|off", or null for nothing
    bool warns;
  } kCases[] = {
      {"alpha@1", "alpha on", false},
      {"alpha@2", "alpha off", false},
      {" alpha\t@ 2 ", "alpha off", false},
      {"x64_download-2@1", "x64_download-2 on", false},
      // Malformed: skipped without a word.
      {"alpha@0", nullptr, false},
      {"alpha@3", nullptr, false},
      {"alpha@-1", nullptr, false},
      {"alpha@", nullptr, false},
      {"alpha", nullptr, false},
      {"alpha@1@2", nullptr, false},
      {"alpha@1x", nullptr, false},
      {"alpha@99999999999", nullptr, false},
      {"", nullptr, false},
      // Well-formed, but not a feature name: it would match nothing here and
      // change or split on its way to a child's command line.
      {"@1", nullptr, true},
      {"Alpha@1", nullptr, true},
      {"al pha@1", nullptr, true},
      {"a\" --evil=\"1@1", nullptr, true},
      {"with-feature:a@1", nullptr, true},
      {"caf\xc3\xa9@1", nullptr, true},
  };
  for (const auto& c : kCases) {
    ListValue list;
    list.AppendString(c.element);
    std::vector<FeatureEntry> overrides;
    ScopedLogCapture log;
    ListFeatureReader(list).ReadFeatures(&overrides);
    if (c.read) {
      ASSERT_EQ(1u, overrides.size()) << c.element;
      EXPECT_EQ(c.read,
                overrides[0].name + (overrides[0].state ? " on" : " off"));
    } else {
      EXPECT_TRUE(overrides.empty()) << c.element;
    }
    EXPECT_EQ(c.warns ? 1u : 0u, log.lines().size()) << c.element;
  }
}

TEST(ListFeatureReaderTest, SkipsElementsThatAreNotStrings) {
  ListValue list;
  list.AppendInteger(1);
  list.AppendBoolean(true);
  list.Append(MakeValue<ListValue>());
  list.AppendString("alpha@1");
  std::vector<FeatureEntry> overrides;
  ListFeatureReader(list).ReadFeatures(&overrides);
  ASSERT_EQ(1u, overrides.size());
  EXPECT_EQ("alpha", overrides[0].name);
}

TEST(ListFeatureReaderTest, LaterElementWins) {
  ListValue list;
  list.AppendString("alpha@2");
  list.AppendString("beta@1");
  list.AppendString("alpha@1");
  list.AppendString("beta@2");
  FeatureList features;
  features.RegisterFeature("alpha", false, true);
  features.RegisterFeature("beta", false, true);
  features.ApplyReader(ListFeatureReader(list));
  EXPECT_TRUE(features.IsEnabled("alpha"));
  EXPECT_FALSE(features.IsEnabled("beta"));
}

}  // namespace
}  // namespace base

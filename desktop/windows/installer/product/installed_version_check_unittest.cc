#include "desktop/windows/installer/product/installed_version_check.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstalledVersionCheckTest, OnlyAnOlderBuildOrPatchIsOlder) {
  const struct {
    const char* package;
    const char* installed;
    bool older;
  } kCases[] = {
      {"2548.0", "45.0.2548.1", true},
      {"2547.9", "45.0.2548.0", true},
      {"2548.1", "45.0.2548.1", false},
      {"2548.2", "45.0.2548.1", false},
      {"2549.0", "45.0.2548.1", false},
      // The build number goes on across majors: a new major's first build is
      // newer than the last build of the one before.
      {"2549.0", "46.0.2548.3", false},
      {"2548.0", "44.9.2548.1", true},
      // Numbers, not texts: "10" is after "9".
      {"2548.10", "45.0.2548.9", false},
      {"2548.9", "45.0.2548.10", true},
      // Nothing that proves an installed version, or a package version.
      {"2548.0", "", false},
      {"2548.0", "2548.1", false},
      {"2548.0", "45.0.2548.x", false},
      {"2548.0", "45.0.2548.1.7", false},
      {"", "45.0.2548.1", false},
      {"45.0.2548.0", "45.0.2548.1", false},
      {"junk", "45.0.2548.1", false},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(IsOlderThanInstalled(test.package, test.installed), test.older)
        << test.package << " over " << test.installed;
  }
}

}  // namespace
}  // namespace installer

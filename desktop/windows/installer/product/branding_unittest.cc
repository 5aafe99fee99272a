#include "desktop/windows/installer/product/branding.h"

#include <string>

#include "desktop/windows/installer/product/installer_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Puts `json` in place of the host's configuration for one test.
class ScopedBranding {
 public:
  explicit ScopedBranding(const std::string& json) {
    internal::SetBrandingForTesting(json);
  }
  ScopedBranding(const ScopedBranding&) = delete;
  ScopedBranding& operator=(const ScopedBranding&) = delete;
  ~ScopedBranding() { internal::ClearBrandingForTesting(); }
};

TEST(BrandingTest, HostResourceIsRead) {
  EXPECT_EQ(GetProductName(), "Tarvo");
  EXPECT_EQ(GetCompanyName(), "Tarvo Software");
  EXPECT_EQ(GetScheduledAutoupdateDelayMin(), 5);
  EXPECT_TRUE(ShouldScheduleAutoupdateTask());
  EXPECT_EQ(GetBrandingUrl("crash"), "http://crash.tarvo.example/");
  EXPECT_EQ(GetVersionString(), "45.0.2548.0");
}

TEST(BrandingTest, UrlIsLookedUpInsideTheUrlsDictionary) {
  ScopedBranding branding(R"({"urls": {"crash": "http://inner/"},
                              "urls.autoupdate": "http://top-level/"})");
  EXPECT_EQ(GetBrandingUrl("crash"), "http://inner/");
  EXPECT_EQ(GetBrandingUrl("autoupdate"), "");
}

// Each accessor gives its empty value when the configuration is not a
// dictionary or the value has another type.
struct EmptyValueCase {
  const char* name;
  const char* json;
  // Tells a configuration that was read from one that was not.
  const char* domain = "";
};

class BrandingEmptyValueTest : public testing::TestWithParam<EmptyValueCase> {};

TEST_P(BrandingEmptyValueTest, EveryAccessorGivesItsEmptyValue) {
  ScopedBranding branding(GetParam().json);
  EXPECT_EQ(GetDomain(), GetParam().domain);
  EXPECT_EQ(GetProductName(), "");
  EXPECT_EQ(GetCompanyName(), "");
  EXPECT_EQ(GetBrandingUrl("crash"), "");
  EXPECT_EQ(GetMajorDelta(), 0);
  EXPECT_EQ(GetScheduledAutoupdateDelayMin(), 0);
  EXPECT_FALSE(ShouldScheduleAutoupdateTask());
  EXPECT_FALSE(UseFennicMajorForMinor());
  EXPECT_EQ(BuildVersionString(), "45.0.2548.0");
}

INSTANTIATE_TEST_SUITE_P(
    Configurations,
    BrandingEmptyValueTest,
    testing::Values(
        EmptyValueCase{"TopLevelList",
                       R"([{"product_name": "Tarvo", "major_delta": 3}])"},
        EmptyValueCase{"NotJson", "product_name = Tarvo"},
        EmptyValueCase{"Empty", ""},
        EmptyValueCase{"WrongTypes",
                       R"({"product_name": 1, "company_name": true,
                           "urls": "http://x/", "major_delta": 3.0,
                           "scheduled_autoupdate_delay_min": 5.0,
                           "schedule_autoupdate_task": 1,
                           "use_fennic_major_for_minor": "true",
                           "domain": "read.example"})",
                       "read.example"}),
    [](const testing::TestParamInfo<EmptyValueCase>& info) {
      return std::string(info.param.name);
    });

struct VersionCase {
  const char* json;
  const char* version;
};

class BrandingVersionTest : public testing::TestWithParam<VersionCase> {};

TEST_P(BrandingVersionTest, VersionFollowsMajorDeltaAndEngineMajor) {
  ScopedBranding branding(GetParam().json);
  EXPECT_EQ(BuildVersionString(), GetParam().version);
}

// The engine version compiled in is 7.3.2201.8: its first field is the minor
// version when the configuration asks for it.
INSTANTIATE_TEST_SUITE_P(
    Configurations,
    BrandingVersionTest,
    testing::Values(
        VersionCase{R"({"major_delta": 0})", "45.0.2548.0"},
        VersionCase{R"({"major_delta": 3, "use_fennic_major_for_minor": true})",
                    "48.7.2548.0"},
        VersionCase{R"({"major_delta": 3, "use_fennic_major_for_minor": false})",
                    "48.0.2548.0"},
        VersionCase{R"({"major_delta": -45})", "0.0.2548.0"}));

}  // namespace
}  // namespace installer

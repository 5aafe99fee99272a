#include "desktop/windows/installer/branding.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(BrandingTest, HostResourceIsRead) {
  EXPECT_EQ(GetProductName(), "Tarvo");
  EXPECT_EQ(GetCompanyName(), "Tarvo Software");
}

}  // namespace
}  // namespace installer

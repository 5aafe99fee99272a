#include "desktop/windows/installer/product/installer_names.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerNamesTest, InstallerFolderKeepsTheProductNameCase) {
  EXPECT_EQ(GetInstallerFolderName(), L"Tarvo Installer");
}

TEST(InstallerNamesTest, ProductNameIsFilledIn) {
  EXPECT_EQ(FormatWithProductName("%s_installer", true), "tarvo_installer");
  EXPECT_EQ(FormatWithProductName("%s installer starting - version ", false),
            "Tarvo installer starting - version ");
}

}  // namespace
}  // namespace installer

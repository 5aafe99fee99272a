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

TEST(InstallerNamesTest, OldProductTypesNameTheirStreams) {
  EXPECT_EQ(GetOldProductStreamName(0), L"");
  EXPECT_EQ(GetOldProductStreamName(1), L"Next");
  EXPECT_EQ(GetOldProductStreamName(2), L"Labs");
  EXPECT_EQ(GetOldProductStreamName(7), L"Invalid");
}

}  // namespace
}  // namespace installer

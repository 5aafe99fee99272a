#include "desktop/windows/installer/transactions/create_reg_key_operation.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/win/registry.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(CreateRegKeyOperationTest, KeyThatCannotBeOpenedForAnyOtherReasonFails) {
  // Neither there nor missing: no root of this process has that handle.
  const HKEY no_root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x7654));
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(
      std::make_unique<CreateRegKeyOperation>(no_root, L"Software\\X", 0)));
  EXPECT_TRUE(transaction.empty());
}

TEST(CreateRegKeyOperationTest, KeyThatRefusesOpeningIsThereAndStays) {
  test::ScopedTestKey test_key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(test_key.valid());
  const std::wstring locked = test_key.Child(L"Locked");
  base::win::RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(HKEY_CURRENT_USER, locked.c_str(), KEY_ALL_ACCESS));
  key.Close();
  ASSERT_TRUE(test::SetKeySddl(HKEY_CURRENT_USER, locked, 0,
                               L"D:(D;;0x1;;;WD)(A;;KA;;;WD)"));
  ASSERT_EQ(ERROR_ACCESS_DENIED,
            key.Open(HKEY_CURRENT_USER, locked.c_str(), KEY_QUERY_VALUE));

  Transaction transaction;
  EXPECT_TRUE(transaction.ExecuteOperation(
      std::make_unique<CreateRegKeyOperation>(HKEY_CURRENT_USER, locked, 0)));
  transaction.RollbackOperations();
  EXPECT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER, locked.c_str(), KEY_SET_VALUE));
}

}  // namespace
}  // namespace installer

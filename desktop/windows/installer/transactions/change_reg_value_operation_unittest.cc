#include "desktop/windows/installer/transactions/change_reg_value_operation.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/win/registry.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct StringValueCase {
  const char* name;
  DWORD type;
  std::vector<uint8_t> written;
  std::vector<uint8_t> stored;
};

// What RegQueryValueEx reads back of a value the operation wrote; a byte
// 0xEE alone when it cannot be read.
std::vector<uint8_t> ReadBack(const std::wstring& path,
                              const std::wstring& name,
                              DWORD* type) {
  base::win::RegistryKey key;
  DWORD size = 0;
  if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE) !=
          ERROR_SUCCESS ||
      ::RegQueryValueExW(key.Handle(), name.c_str(), nullptr, type, nullptr,
                         &size) != ERROR_SUCCESS) {
    return {0xEE};
  }
  std::vector<uint8_t> data(size);
  if (::RegQueryValueExW(key.Handle(), name.c_str(), nullptr, type,
                         data.data(), &size) != ERROR_SUCCESS) {
    return {0xEE};
  }
  data.resize(size);
  return data;
}

TEST(ChangeRegValueOperationTest, StringValuesAreStoredWithTheirTerminators) {
  const StringValueCase kCases[] = {
      {"empty sz", REG_SZ, {}, {0, 0}},
      {"sz without nul", REG_SZ, {'a', 0}, {'a', 0, 0, 0}},
      {"sz with nul", REG_SZ, {'a', 0, 0, 0}, {'a', 0, 0, 0}},
      {"odd sized sz", REG_SZ, {'a', 0, 'b'}, {'a', 0, 'b', 0, 0, 0}},
      {"empty expand sz", REG_EXPAND_SZ, {}, {0, 0}},
      {"empty multi sz", REG_MULTI_SZ, {}, {0, 0, 0, 0}},
      {"multi sz one nul", REG_MULTI_SZ, {'a', 0, 0, 0}, {'a', 0, 0, 0, 0, 0}},
      {"multi sz whole",
       REG_MULTI_SZ,
       {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0},
       {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {"empty binary", REG_BINARY, {}, {}},
      {"binary", REG_BINARY, {'a', 0}, {'a', 0}},
  };
  test::ScopedTestKey test_key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(test_key.valid());
  for (const StringValueCase& test : kCases) {
    SCOPED_TRACE(test.name);
    const std::wstring name(test.name, test.name + strlen(test.name));
    Transaction transaction;
    ASSERT_TRUE(transaction.ExecuteOperation(
        std::make_unique<ChangeRegValueOperation>(
            HKEY_CURRENT_USER, test_key.path(), name, test.written.data(),
            test.type, static_cast<DWORD>(test.written.size()), 0)));
    DWORD type = REG_NONE;
    EXPECT_EQ(test.stored, ReadBack(test_key.path(), name, &type));
    EXPECT_EQ(test.type, type);
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/transactions/delete_reg_key_operation.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/test/scoped_registry_override.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ScopedTestKey;

bool KeyExists(const std::wstring& path) {
  base::win::RegistryKey key;
  return key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) == ERROR_SUCCESS;
}

// The key's full name in the kernel's namespace, or empty when `handle` is
// not a key.
std::wstring KernelKeyName(HANDLE handle) {
  using QueryKey = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query_key =
      reinterpret_cast<QueryKey>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
  constexpr int kKeyNameInformation = 3;
  uint32_t buffer[1024];
  ULONG size = 0;
  if (query_key(handle, kKeyNameInformation, buffer, sizeof(buffer), &size) !=
      0)
    return std::wstring();
  return std::wstring(reinterpret_cast<const wchar_t*>(buffer + 1),
                      buffer[0] / sizeof(wchar_t));
}

// The number of this process's handles that refer to the key: the test's
// own key, which no other thread opens.
int CountHandlesToKey(const std::wstring& path) {
  base::win::RegistryKey probe;
  if (probe.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ) != ERROR_SUCCESS)
    return -1;
  const std::wstring target = KernelKeyName(probe.Handle());
  probe.Close();
  constexpr uintptr_t kHandleStep = 4;
  constexpr int kUnusedRunToStop = 1024;
  int count = 0;
  int unused_run = 0;
  for (uintptr_t value = kHandleStep; unused_run < kUnusedRunToStop;
       value += kHandleStep) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!::GetHandleInformation(handle, &flags)) {
      ++unused_run;
      continue;
    }
    unused_run = 0;
    if (_wcsicmp(KernelKeyName(handle).c_str(), target.c_str()) == 0)
      ++count;
  }
  return count;
}

TEST(DeleteRegKeyOperationTest,
     KeyMadeAgainMeanwhileKeepsItsValuesAndNoHandle) {
  ScopedTestKey test_key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(test_key.valid());
  const std::wstring tree = test_key.Child(L"Tree");
  base::win::RegistryKey key;
  ASSERT_EQ(
      ERROR_SUCCESS,
      key.Create(HKEY_CURRENT_USER, (tree + L"\\Sub").c_str(), KEY_ALL_ACCESS));
  key.Close();

  Transaction transaction;
  ASSERT_TRUE(transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, tree, 0)));
  ASSERT_FALSE(KeyExists(tree));
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(HKEY_CURRENT_USER, tree.c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, key.WriteString(L"made", L"meanwhile"));
  key.Close();

  transaction.RollbackOperations();
  EXPECT_TRUE(KeyExists(tree + L"\\Sub"));
  ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, tree.c_str(), KEY_READ));
  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadString(L"made", &text));
  EXPECT_EQ(L"meanwhile", text);
  key.Close();
  EXPECT_EQ(0, CountHandlesToKey(tree));
}

// Locks the tree's top key against deletion once the operation has opened
// it and read its three values: owned by the local system, whose list
// refuses everyone DELETE.
std::wstring* g_locked_key = nullptr;
bool g_seen_top_key = false;

bool LockTopKeyAfterItsValues(base::LogSeverity,
                              const char*,
                              int,
                              size_t message_start,
                              const std::string& text) {
  const std::string message = text.substr(message_start);
  if (message.find("DeleteAndSaveRecursive : ") == 0)
    g_seen_top_key = message.find("Sub") == std::string::npos;
  if (g_seen_top_key && message.find("3 values") == 0) {
    test::SetKeySddl(HKEY_CURRENT_USER, *g_locked_key, 0,
                     L"O:SYD:(D;;SD;;;WD)(A;;KA;;;WD)");
  }
  return true;
}

TEST(DeleteRegKeyOperationTest, KeyThatCannotBeDeletedFailsTheOperation) {
  ScopedTestKey test_key(HKEY_CURRENT_USER, 0);
  ASSERT_TRUE(test_key.valid());
  std::wstring tree = test_key.Child(L"Tree");
  base::win::RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(HKEY_CURRENT_USER, tree.c_str(), KEY_ALL_ACCESS));
  for (const wchar_t* name : {L"a", L"b", L"c"})
    ASSERT_EQ(ERROR_SUCCESS, key.WriteString(name, name));
  ASSERT_EQ(
      ERROR_SUCCESS,
      key.Create(HKEY_CURRENT_USER, (tree + L"\\Sub").c_str(), KEY_ALL_ACCESS));
  key.Close();

  g_locked_key = &tree;
  const base::LogSeverity level = base::GetMinLogLevel();
  const base::LogMessageHandlerFunction handler = base::GetLogMessageHandler();
  base::SetMinLogLevel(-1);
  base::SetLogMessageHandler(&LockTopKeyAfterItsValues);
  Transaction transaction;
  const bool deleted = transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, tree, 0));
  base::SetLogMessageHandler(handler);
  base::SetMinLogLevel(level);

  // The key stays; its subkey, deleted before, is made again.
  EXPECT_FALSE(deleted);
  EXPECT_TRUE(transaction.empty());
  EXPECT_TRUE(KeyExists(tree));
  EXPECT_TRUE(KeyExists(tree + L"\\Sub"));
}

TEST(DeleteRegKeyOperationTest, EmptyPathNeverEmptiesTheRoot) {
  base::win::ScopedRegistryOverride override_hkcu(HKEY_CURRENT_USER);
  ASSERT_TRUE(override_hkcu.Valid());
  base::win::RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(HKEY_CURRENT_USER, L"Kept", KEY_ALL_ACCESS));
  key.Close();
  Transaction transaction;
  EXPECT_FALSE(transaction.ExecuteOperation(
      std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, L"", 0)));
  EXPECT_TRUE(KeyExists(L"Kept"));
}

}  // namespace
}  // namespace installer

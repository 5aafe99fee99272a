#include "desktop/windows/installer/backend/steps/uninstall_entry_claim.h"

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/test/scoped_test_key.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

bool KeyExists(const std::wstring& path) {
  base::win::RegistryKey key;
  return key.Open(HKEY_CURRENT_USER, path.c_str(),
                  KEY_QUERY_VALUE | UninstallEntryClaim::kView) ==
         ERROR_SUCCESS;
}

bool MakeKey(const std::wstring& path) {
  base::win::RegistryKey key;
  return key.Create(HKEY_CURRENT_USER, path.c_str(),
                    KEY_ALL_ACCESS | UninstallEntryClaim::kView) ==
         ERROR_SUCCESS;
}

TEST(UninstallEntryClaimTest, TakesTheFirstFreeNameAndRollbackRemovesIt) {
  struct Case {
    std::vector<std::wstring> taken;
    const wchar_t* claimed;
  } const cases[] = {
      {{}, L""},
      {{L""}, L"1"},
      {{L"", L"1", L"2"}, L"3"},
      // A gap left by an uninstallation is used again.
      {{L"", L"2"}, L"1"},
  };
  for (const Case& test : cases) {
    test::ScopedTestKey parent(HKEY_CURRENT_USER, UninstallEntryClaim::kView);
    ASSERT_TRUE(parent.valid());
    const std::wstring first = parent.Child(L"Tarvo 45.0.2548.0");
    for (const std::wstring& suffix : test.taken)
      ASSERT_TRUE(MakeKey(first + suffix));
    SCOPED_TRACE(test.claimed);

    Transaction transaction;
    const std::wstring claimed =
        UninstallEntryClaim(HKEY_CURRENT_USER, first).Claim(&transaction);

    EXPECT_EQ(first + test.claimed, claimed);
    EXPECT_TRUE(KeyExists(claimed));
    transaction.RollbackOperations();
    EXPECT_FALSE(KeyExists(claimed));
    for (const std::wstring& suffix : test.taken)
      EXPECT_TRUE(KeyExists(first + suffix));
  }
}

// Two runs of one version choosing at the same moment, as two threads let
// go together (a named mutex serialises threads as it does processes):
// each gets an entry of its own, every time.
TEST(UninstallEntryClaimTest, RunsChoosingTogetherGetEntriesOfTheirOwn) {
  constexpr int kRounds = 20;
  constexpr int kRuns = 2;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    test::ScopedTestKey parent(HKEY_CURRENT_USER, UninstallEntryClaim::kView);
    ASSERT_TRUE(parent.valid());
    const std::wstring first = parent.Child(L"Tarvo 45.0.2548.0");
    // Manual reset: one signal lets both go.
    base::win::ScopedHandle start(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(start.IsValid());
    std::vector<std::wstring> claimed(kRuns);
    std::vector<Transaction> transactions(kRuns);
    std::vector<std::thread> runs;
    for (int run = 0; run < kRuns; ++run) {
      runs.emplace_back([&, run] {
        ::WaitForSingleObject(start.Get(), INFINITE);
        claimed[run] = UninstallEntryClaim(HKEY_CURRENT_USER, first)
                           .Claim(&transactions[run]);
      });
    }
    ::SetEvent(start.Get());
    for (std::thread& run : runs)
      run.join();
    ASSERT_FALSE(claimed[0].empty());
    ASSERT_FALSE(claimed[1].empty());
    EXPECT_NE(claimed[0], claimed[1]);
    // The second one's rollback leaves the first one's entry.
    transactions[1].RollbackOperations();
    EXPECT_TRUE(KeyExists(claimed[0]));
    EXPECT_FALSE(KeyExists(claimed[1]));
  }
}

}  // namespace
}  // namespace installer

#include "desktop/windows/crash_reporter/crash_key_store.h"

#include <cwchar>
#include <string>

#include "base/command_line.h"
#include "base/debug/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_key_table.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A store of the test's own, with the table and the base library's
// registry routed into it as an installer process does.
class CrashKeyStoreTest : public testing::Test {
 protected:
  CrashKeyStoreTest()
      : store_(L"installer",
               *GetCrashReportingConfig(),
               base::CommandLine(base::CommandLine::NO_PROGRAM)) {
    current_ = &store_;
    base::CrashKeys::Init(kCrashKeyTable, kCrashKeyTableSize,
                          kCrashKeyChunkLength);
    base::CrashKeys::SetReportingFunctions(
        [](base::StringSlice key, base::StringSlice value) {
          current_->SetCrashKeyIfAllowed(key, value);
        },
        [](base::StringSlice key) { current_->ClearCrashKeyEntry(key); });
  }
  ~CrashKeyStoreTest() override {
    base::CrashKeys::SetReportingFunctions(nullptr, nullptr);
    base::CrashKeys::Init(nullptr, 0, 0);
  }

  // What the crash reporter would read under `name`; null when absent.
  const DumpInfoEntry* Find(const std::wstring& name) const {
    const CustomInfoBlock& info = store_.custom_info();
    for (size_t i = 0; i < info.count; ++i) {
      if (name == info.entries[i].name)
        return &info.entries[i];
    }
    return nullptr;
  }
  std::wstring ValueOf(const std::wstring& name) const {
    const DumpInfoEntry* entry = Find(name);
    return entry ? entry->value : L"<absent>";
  }

  static CrashKeyStore* current_;
  CrashKeyStore store_;
};

CrashKeyStore* CrashKeyStoreTest::current_ = nullptr;

TEST_F(CrashKeyStoreTest, FixedEntriesComeFirstAndSpareOnesFollow) {
  const CustomInfoBlock& info = store_.custom_info();
  ASSERT_EQ(info.count, 7 + CrashKeyStore::kSpareEntryCount);
  const wchar_t* const names[] = {L"ver", L"prod",    L"plat",        L"ptype",
                                  L"pid", L"channel", L"profile-type"};
  for (size_t i = 0; i < 7; ++i)
    EXPECT_STREQ(info.entries[i].name, names[i]);
  EXPECT_STREQ(info.entries[2].value, L"Win32");
  EXPECT_STREQ(info.entries[3].value, L"installer");
  EXPECT_STREQ(info.entries[7].name, L"unspecified-crash-key");
}

TEST_F(CrashKeyStoreTest, LongValuesAreSplitIntoKeysOfWhatAnEntryHolds) {
  base::CrashKeys::SetValue("Email", std::string(100, 'e'));
  EXPECT_EQ(ValueOf(L"Email"), std::wstring(63, L'e'));

  std::string modules;
  for (int i = 0; i < 1300; ++i)
    modules += static_cast<char>('a' + i % 26);
  base::CrashKeys::SetValue("modules", modules);
  std::wstring joined;
  for (int chunk = 1; chunk <= 16; ++chunk)
    joined += ValueOf(L"modules-" + std::to_wstring(chunk));
  EXPECT_EQ(joined, std::wstring(modules.begin(), modules.begin() + 1008));

  base::CrashKeys::SetValue("modules", "short");
  EXPECT_EQ(ValueOf(L"modules-1"), L"short");
  EXPECT_EQ(ValueOf(L"modules-2"), L"");
}

TEST_F(CrashKeyStoreTest, OnlyTheInstallersKeysAreStored) {
  base::CrashKeys::SetValue("variations", "browser only");
  base::CrashKeys::SetValue("num-experiments", "3");
  base::CrashKeys::SetValue("never-registered", "x");
  EXPECT_EQ(Find(L"variations-1"), nullptr);
  EXPECT_EQ(Find(L"num-experiments"), nullptr);
  EXPECT_EQ(Find(L"never-registered"), nullptr);
}

TEST_F(CrashKeyStoreTest, KeysBeyondTheSpareEntriesAreDropped) {
  for (int i = 0; i < 257; ++i)
    store_.SetDumpInfoValue(L"key" + std::to_wstring(i), L"v");
  EXPECT_EQ(Find(L"key256"), nullptr);
  store_.SetDumpInfoValue(L"key0", L"again");
  EXPECT_EQ(ValueOf(L"key0"), L"again");
  store_.ClearDumpInfoValue(L"key0");
  EXPECT_EQ(ValueOf(L"key0"), L"");
}

}  // namespace
}  // namespace installer

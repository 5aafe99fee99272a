#include "desktop/windows/installer/registry/registry_entry.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "base/features/feature_tables.h"
#include "base/test/scoped_registry_override.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/registry/registry_entry_tables.h"
#include "desktop/windows/installer/registry/registry_placeholder_resolver.h"
#include "desktop/windows/installer/transactions/operation.h"
#include "desktop/windows/installer/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Stands in for the installer core's resolver: fixed values, and the
// install log's registry data of the root while it records.
class RecordingResolver : public PlaceholderResolver {
 public:
  std::wstring Resolve(const std::wstring& name) override {
    auto value = values.find(name);
    return value == values.end() ? name : value->second;
  }
  RegistryData* GetRegistryRecord(HKEY root) override {
    return root == HKEY_LOCAL_MACHINE ? &log.hklm_registry : &log.hkcu_registry;
  }

  std::map<std::wstring, std::wstring> values;
  InstallLog log;
};

constexpr wchar_t kFolder[] = L"C:\\Apps\\{InstallFolder}\\{x}";

TEST(RegistryEntryTest, PlaceholdersAreExpandedInOnePass) {
  RecordingResolver resolver;
  resolver.values = {{L"InstallFolder", kFolder},
                     {L"Product", L"Tarvo"},
                     {L"Alias", L"{Product}"}};
  const struct {
    const wchar_t* text;
    const wchar_t* expanded;
  } kCases[] = {
      // A folder holding a placeholder's name is taken as it stands.
      {L"{InstallFolder}\\Launcher.exe",
       L"C:\\Apps\\{InstallFolder}\\{x}\\Launcher.exe"},
      {L"{Alias} {Product}{Product}", L"{Product} TarvoTarvo"},
      // Unknown names come back as the resolver gives them.
      {L"{Unknown}\\{Product}", L"Unknown\\Tarvo"},
      {L"a{b", L"a{b"},
      {L"a}b{c", L"a}b{c"},
      {L"{a{b}c", L"a{bc"},
      {L"", L""},
      {nullptr, L""},
  };
  for (const auto& c : kCases) {
    const RegistryEntry entry({L"", nullptr, REG_SZ, {}, 1, RootFilter::kAnyRoot, 0, 0, 0},
                              &resolver);
    EXPECT_EQ(c.expanded, entry.ExpandPlaceholders(c.text))
        << (c.text ? c.text : L"(null)");
  }
}

TEST(RegistryEntryTest, RowsThatDoNotApplyGiveNoOperation) {
  const int32_t version = base::win::GetWindowsVersion();
  const int32_t channel = base::GetReleaseChannel();
  constexpr RootFilter kAny = RootFilter::kAnyRoot;
  constexpr RootFilter kHKLM = RootFilter::kLocalMachineOnly;
  constexpr RootFilter kHKCU = RootFilter::kCurrentUserOnly;
  const struct {
    int32_t min_version;
    RootFilter filter;
    int32_t min_channel;
    HKEY root;
    bool applies;
  } kCases[] = {
      {version, kAny, channel, HKEY_CURRENT_USER, true},
      {version + 1, kAny, 0, HKEY_CURRENT_USER, false},
      {1, kAny, channel + 1, HKEY_LOCAL_MACHINE, false},
      {1, kHKLM, 0, HKEY_LOCAL_MACHINE, true},
      {1, kHKLM, 0, HKEY_CURRENT_USER, false},
      {1, kHKCU, 0, HKEY_CURRENT_USER, true},
      {1, kHKCU, 0, HKEY_LOCAL_MACHINE, false},
  };
  for (int32_t kind : {REG_SZ, REG_DWORD, REG_NONE, kRemoveValue, kDeleteKey}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(testing::Message() << kind << " " << c.min_version << " "
                                      << static_cast<int>(c.filter) << " "
                                      << c.min_channel);
      RecordingResolver resolver;
      const RegistryEntryData data =
          kind == REG_DWORD ? RegistryEntryData(1u) : RegistryEntryData();
      RegistryEntry entry({L"Key", L"Name", kind, data, c.min_version,
                           c.filter, c.min_channel, 0, 0},
                          &resolver);
      std::unique_ptr<Operation> operation;
      ASSERT_TRUE(entry.CreateOperation(c.root, &operation));
      EXPECT_EQ(c.applies, operation != nullptr);
      if (!c.applies) {
        EXPECT_EQ(InstallLog(), resolver.log);
      }
    }
  }
}

TEST(RegistryEntryTest, UnknownKindFailsAndLeavesNoOperation) {
  RecordingResolver resolver;
  RegistryEntry known({L"Key", L"Name", REG_SZ, L"x", 1, RootFilter::kAnyRoot,
                       0, 0, 0},
                      &resolver);
  std::unique_ptr<Operation> operation;
  ASSERT_TRUE(known.CreateOperation(HKEY_CURRENT_USER, &operation));
  ASSERT_NE(nullptr, operation);
  RegistryEntry unknown({L"Key", L"Name", REG_MULTI_SZ, {}, 1,
                         RootFilter::kAnyRoot, 0, 0, 0},
                        &resolver);
  EXPECT_FALSE(unknown.CreateOperation(HKEY_CURRENT_USER, &operation));
  EXPECT_EQ(nullptr, operation);
}

TEST(RegistryEntryTest, ValuesToWriteAreRecordedUnderTheirRoot) {
  RecordingResolver resolver;
  resolver.values = {{L"Key", L"Software\\T"}};
  constexpr RootFilter kAny = RootFilter::kAnyRoot;
  const RegistryEntryDescription kRows[] = {
      {L"{Key}", L"sz", REG_SZ, L"{Key}", 1, kAny, 0, 1, 0},
      {L"{Key}", L"empty", REG_SZ, {}, 1, kAny, 0, 3, 0},
      {L"{Key}", nullptr, REG_EXPAND_SZ, L"%TEMP%", 1, kAny, 0, 2, 0},
      {L"{Key}", L"bin", REG_BINARY, "ab", 1, kAny, 0, 0, 0},
      {L"{Key}\\Sub", L"none", REG_NONE, {}, 1, kAny, 0, 0, 0},
      {L"{Key}", L"dword", REG_DWORD, 0x12345678u, 1, kAny, 0, 0, 0},
      {L"{Key}", L"removed", kRemoveValue, {}, 1, kAny, 0, 9, 0},
      {L"{Key}\\Deleted", nullptr, kDeleteKey, {}, 1, kAny, 0, 9, 0},
  };
  for (const RegistryEntryDescription& row : kRows) {
    std::unique_ptr<Operation> operation;
    ASSERT_TRUE(
        RegistryEntry(row, &resolver).CreateOperation(HKEY_USERS, &operation));
    EXPECT_NE(nullptr, operation);
  }
  const RegistryData expected = {
      {3,
       "Software\\T",
       {{"REG_SZ", "sz", "Software\\T"},
        {"REG_SZ", "empty", ""},
        {"REG_EXPAND_SZ", "", "%TEMP%"},
        {"REG_BINARY", "bin", "61,62"},
        {"REG_DWORD", "dword", "12345678"}}},
      {0, "Software\\T\\Sub", {{"REG_NONE", "none", ""}}},
  };
  // Any root but the machine's counts as the user's.
  EXPECT_EQ(expected, resolver.log.hkcu_registry);
  EXPECT_TRUE(resolver.log.hklm_registry.empty());
}

// Runs `rows` for `root` in one transaction, as the shell integration does.
bool WriteEntries(std::span<const RegistryEntryDescription> rows,
                  PlaceholderResolver* resolver,
                  HKEY root) {
  Transaction transaction;
  for (const RegistryEntryDescription& row : rows) {
    std::unique_ptr<Operation> operation;
    if (!RegistryEntry(row, resolver).CreateOperation(root, &operation))
      return false;
    if (operation && !transaction.ExecuteOperation(std::move(operation))) {
      transaction.RollbackOperations();
      return false;
    }
  }
  return true;
}

TEST(RegistryEntryTest, DocumentClassOfTheMachineLosesItsDdeKey) {
  base::win::ScopedRegistryOverride machine(HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(machine.Valid());
  constexpr wchar_t kClass[] = L"Software\\Classes\\Tarvodeveloper";
  const std::wstring dde = std::wstring(kClass) + L"\\shell\\open\\ddeexec";
  base::win::RegistryKey old(HKEY_LOCAL_MACHINE, (dde + L"\\Topic").c_str(),
                             KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, old.WriteString(nullptr, L"old topic"));
  old.Close();

  RegistryPlaceholderResolver resolver(L"", kFolder);
  ASSERT_TRUE(WriteEntries(GetDocumentClassEntries(), &resolver,
                           HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(
      base::win::RegistryKey(HKEY_LOCAL_MACHINE, dde.c_str(), KEY_READ).Valid());
  base::win::RegistryKey key(HKEY_LOCAL_MACHINE, kClass, KEY_READ);
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, key.ReadString(L"FriendlyTypeName", &text));
  EXPECT_EQ(L"Tarvo Web Document", text);
  // "URL Protocol" is empty: its lone NUL only, so readers stop there.
  DWORD type = REG_NONE;
  DWORD size = 1;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.Handle(), L"URL Protocol",
                                            nullptr, &type, nullptr, &size));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(sizeof(wchar_t), size);
}

TEST(RegistryEntryTest, ProtocolOfTheUserDropsTheUsersChoice) {
  base::win::ScopedRegistryOverride user(HKEY_CURRENT_USER);
  ASSERT_TRUE(user.Valid());
  constexpr wchar_t kChoice[] =
      L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\"
      L"ftp\\UserChoice";
  base::win::RegistryKey choice(HKEY_CURRENT_USER, kChoice, KEY_ALL_ACCESS);
  ASSERT_EQ(ERROR_SUCCESS, choice.WriteString(L"Progid", L"OtherBrowser"));

  RegistryPlaceholderResolver resolver(L"ftp", kFolder);
  ASSERT_TRUE(
      WriteEntries(GetProtocolEntries(), &resolver, HKEY_CURRENT_USER));
  // Its removal is a Vista-and-later row; the test prefix is Windows 10.
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegQueryValueExW(choice.Handle(), L"Progid", nullptr, nullptr,
                             nullptr, nullptr));
  base::win::RegistryKey command(
      HKEY_CURRENT_USER, L"Software\\Classes\\ftp\\shell\\open\\command",
      KEY_READ);
  std::wstring text;
  ASSERT_EQ(ERROR_SUCCESS, command.ReadString(nullptr, &text));
  EXPECT_EQ(std::wstring(L"\"") + kFolder +
                L"\\launcher.exe\" -noautoupdate -- \"%1\"",
            text);
  EXPECT_TRUE(base::win::RegistryKey(
                  HKEY_CURRENT_USER,
                  L"Software\\Classes\\ftp\\shell\\open\\ddeexec\\Topic",
                  KEY_READ)
                  .Valid());
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/registry/registry_data.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace installer {
namespace {

const DWORD kOne = 1;

TEST(RegistryDataTest, ValuesOfOneKeyShareItsRecordAndCaseMakesAnother) {
  RegistryData registry;
  EXPECT_EQ(AddRegistryValue(&registry, L"Software\\Tarvo", L"a", &kOne,
                             REG_DWORD, sizeof(kOne), 0),
            0u);
  EXPECT_EQ(AddRegistryValue(&registry, L"Software\\Tarvo", L"a", &kOne,
                             REG_DWORD, sizeof(kOne), 0),
            0u);
  EXPECT_EQ(AddRegistryValue(&registry, L"SOFTWARE\\Tarvo", L"b", &kOne,
                             REG_DWORD, sizeof(kOne), 0),
            1u);
  ASSERT_EQ(registry.size(), 2u);
  // Recording the same name twice keeps both.
  EXPECT_EQ(registry[0].values.size(), 2u);
  EXPECT_EQ(registry[1].key_path, "SOFTWARE\\Tarvo");
}

TEST(RegistryDataTest, KeyKeepsTheLargestCleanDepth) {
  RegistryData registry;
  for (int32_t depth : {1, 0})
    AddRegistryValue(&registry, L"A", L"", nullptr, REG_SZ, 0, depth);
  for (int32_t depth : {0, 2})
    AddRegistryValue(&registry, L"B", L"", nullptr, REG_SZ, 0, depth);
  ASSERT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry[0].clean_depth, 1);
  EXPECT_EQ(registry[1].clean_depth, 2);
}

TEST(RegistryDataTest, KeyIsOneRecordPerViewAndKeepsItsView) {
  RegistryData registry;
  const std::wstring kUninstall =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarvo";
  EXPECT_EQ(AddRegistryValue(&registry, kUninstall, L"a", &kOne, REG_DWORD,
                             sizeof(kOne), 1, KEY_WOW64_32KEY),
            0u);
  // The 64-bit view is this 64-bit library's default view.
  EXPECT_EQ(AddRegistryValue(&registry, kUninstall, L"b", &kOne, REG_DWORD,
                             sizeof(kOne), 1, KEY_WOW64_64KEY),
            1u);
  EXPECT_EQ(AddRegistryValue(&registry, kUninstall, L"c", &kOne, REG_DWORD,
                             sizeof(kOne), 1),
            1u);
  EXPECT_EQ(AddRegistryValue(&registry, kUninstall, L"d", &kOne, REG_DWORD,
                             sizeof(kOne), 1, KEY_WOW64_32KEY),
            0u);
  ASSERT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry[0].view, static_cast<uint32_t>(KEY_WOW64_32KEY));
  EXPECT_EQ(registry[0].values.size(), 2u);
  EXPECT_EQ(registry[1].view, 0u);
}

struct ValueCase {
  const char* label;
  uint32_t type;
  std::vector<uint8_t> bytes;
  RegistryValueRecord expected;
};

std::vector<uint8_t> WideBytes(const std::wstring& text) {
  const uint8_t* begin = reinterpret_cast<const uint8_t*>(text.c_str());
  return std::vector<uint8_t>(begin, begin + text.size() * sizeof(wchar_t));
}

std::vector<uint8_t> WithNul(std::vector<uint8_t> bytes) {
  bytes.insert(bytes.end(), {0, 0, 'x', 0});
  return bytes;
}

TEST(RegistryDataTest, ValueTextsByType) {
  const std::wstring folder = L"C:\\Program Files\\T\u00e4rv\u00f6\\";
  const std::string folder_utf8 = "C:\\Program Files\\T\xc3\xa4rv\xc3\xb6\\";
  const ValueCase cases[] = {
      {"dword 1", REG_DWORD, {1, 0, 0, 0}, {"REG_DWORD", "v", "00000001"}},
      {"dword 32", REG_DWORD, {32, 0, 0, 0}, {"REG_DWORD", "v", "00000020"}},
      {"short dword", REG_DWORD, {1, 0}, {"REG_DWORD", "v", ""}},
      {"binary",
       REG_BINARY,
       {0x0a, 0xff, 0x00},
       {"REG_BINARY", "v", "0a,ff,00"}},
      {"empty binary", REG_BINARY, {}, {"REG_BINARY", "v", ""}},
      {"string up to its NUL",
       REG_SZ,
       WithNul(WideBytes(folder)),
       {"REG_SZ", "v", folder_utf8}},
      {"string without NUL",
       REG_EXPAND_SZ,
       WideBytes(L"%TEMP%"),
       {"REG_EXPAND_SZ", "v", "%TEMP%"}},
      {"no data", REG_SZ, {}, {"REG_SZ", "v", ""}},
      {"qword", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, {"REG_QWORD", "v", ""}},
      {"multi string",
       REG_MULTI_SZ,
       WithNul(WideBytes(L"a")),
       {"REG_MULTI_SZ", "v", ""}},
  };
  for (const ValueCase& c : cases) {
    RegistryData registry;
    AddRegistryValue(&registry, L"K", L"v",
                     c.bytes.empty() ? nullptr : c.bytes.data(), c.type,
                     static_cast<uint32_t>(c.bytes.size()), 0);
    ASSERT_EQ(registry.size(), 1u) << c.label;
    ASSERT_EQ(registry[0].values.size(), 1u) << c.label;
    EXPECT_EQ(registry[0].values[0], c.expected) << c.label;
  }
}

TEST(RegistryDataTest, NamesAndPathsAreUtf8) {
  RegistryData registry;
  AddRegistryValue(&registry, L"Software\\J\u00f6rg", L"\u30d5", &kOne,
                   REG_DWORD, sizeof(kOne), 0);
  EXPECT_EQ(registry[0].key_path, "Software\\J\xc3\xb6rg");
  EXPECT_EQ(registry[0].values[0].name, "\xe3\x83\x95");
}

}  // namespace
}  // namespace installer

#include "base/win/registry.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/test/scoped_registry_override.h"
#include "gtest/gtest.h"

namespace base::win {
namespace {

constexpr wchar_t kSubkey[] = L"Software\\Tarvo\\Values";

std::vector<uint8_t> BytesOf(const std::wstring& text) {
  const auto* begin = reinterpret_cast<const uint8_t*>(text.data());
  return std::vector<uint8_t>(begin, begin + text.size() * sizeof(wchar_t));
}

// Wide text with its terminator, as the registry stores a string.
std::vector<uint8_t> TerminatedBytesOf(const std::wstring& text) {
  return BytesOf(std::wstring(text.data(), text.size() + 1));
}

std::vector<uint8_t> DwordBytes(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

class RegistryKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(override_.Valid());
    ASSERT_EQ(ERROR_SUCCESS,
              key_.Create(HKEY_CURRENT_USER, kSubkey, KEY_ALL_ACCESS));
  }

  void SetRaw(const wchar_t* name, DWORD type,
              const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key_.Handle(), name, 0, type, bytes.data(),
                             static_cast<DWORD>(bytes.size())));
  }

  ScopedRegistryOverride override_{HKEY_CURRENT_USER};
  RegistryKey key_;
};

TEST_F(RegistryKeyTest, ConstructorCreatesOnlyForWritingAccess) {
  const struct {
    REGSAM access;
    bool creates;
  } kCases[] = {
      {KEY_WRITE, true},          {KEY_SET_VALUE, true},
      {KEY_CREATE_SUB_KEY, true}, {KEY_CREATE_LINK | KEY_READ, true},
      {KEY_READ, false},          {KEY_QUERY_VALUE, false},
  };
  int index = 0;
  for (const auto& c : kCases) {
    const std::wstring path =
        std::wstring(kSubkey) + L"\\Missing" + std::to_wstring(index++);
    const RegistryKey key(HKEY_CURRENT_USER, path.c_str(), c.access);
    EXPECT_EQ(c.creates, key.Valid()) << c.access;
    RegistryKey probe;
    EXPECT_EQ(c.creates ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
              probe.Open(HKEY_CURRENT_USER, path.c_str(), KEY_READ))
        << c.access;
  }
}

TEST_F(RegistryKeyTest, NullRootKeepsOnlyTheView) {
  const RegistryKey key(nullptr, kSubkey, KEY_WRITE | KEY_WOW64_32KEY);
  EXPECT_FALSE(key.Valid());
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key.view());
}

TEST_F(RegistryKeyTest, FailedOpenKeepsTheKeyHeldAndSuccessReplacesIt) {
  EXPECT_EQ(ERROR_SUCCESS, key_.WriteString(L"which", L"first"));
  const std::wstring second_path = std::wstring(kSubkey) + L"\\Second";
  RegistryKey second(HKEY_CURRENT_USER, second_path.c_str(), KEY_WRITE);
  EXPECT_EQ(ERROR_SUCCESS, second.WriteString(L"which", L"second"));

  RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER, kSubkey, KEY_READ | KEY_WOW64_64KEY));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            key.Open(HKEY_CURRENT_USER, L"Software\\Tarvo\\Absent",
                     KEY_READ | KEY_WOW64_32KEY));
  std::wstring which;
  EXPECT_EQ(ERROR_SUCCESS, key.ReadString(L"which", &which));
  EXPECT_EQ(L"first", which);
  EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_64KEY), key.view());

  ASSERT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER, second_path.c_str(), KEY_READ));
  EXPECT_EQ(ERROR_SUCCESS, key.ReadString(L"which", &which));
  EXPECT_EQ(L"second", which);
  EXPECT_EQ(0u, key.view());

  key.Close();
  EXPECT_FALSE(key.Valid());
  EXPECT_EQ(ERROR_INVALID_HANDLE, key.ReadString(L"which", &which));
}

TEST_F(RegistryKeyTest, ReadDwordTakesOnlyFourByteNumbers) {
  constexpr DWORD kUntouched = 0xDEADBEEF;
  const struct {
    const wchar_t* name;
    DWORD type;
    std::vector<uint8_t> bytes;
    LONG result;
    DWORD value;
  } kCases[] = {
      {L"dword", REG_DWORD, DwordBytes(0x12345678), ERROR_SUCCESS, 0x12345678},
      {L"binary4", REG_BINARY, {1, 2, 3, 4}, ERROR_SUCCESS, 0x04030201},
      {L"big endian", REG_DWORD_BIG_ENDIAN, {1, 2, 3, 4}, ERROR_CANTREAD,
       kUntouched},
      {L"binary2", REG_BINARY, {1, 2}, ERROR_CANTREAD, kUntouched},
      {L"short string", REG_SZ, TerminatedBytesOf(L"a"), ERROR_CANTREAD,
       kUntouched},
      // Eight bytes do not fit the four-byte buffer at all.
      {L"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, ERROR_MORE_DATA,
       kUntouched},
      {L"binary8", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8}, ERROR_MORE_DATA,
       kUntouched},
  };
  for (const auto& c : kCases)
    SetRaw(c.name, c.type, c.bytes);
  for (const auto& c : kCases) {
    DWORD value = kUntouched;
    EXPECT_EQ(c.result, key_.ReadDword(c.name, &value)) << c.name;
    EXPECT_EQ(c.value, value) << c.name;
  }
  DWORD value = kUntouched;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key_.ReadDword(L"missing", &value));
  EXPECT_EQ(kUntouched, value);
}

TEST_F(RegistryKeyTest, ReadStringByTypeAndSize) {
  wchar_t system_root[MAX_PATH];
  const DWORD root_length =
      GetEnvironmentVariableW(L"SystemRoot", system_root, MAX_PATH);
  ASSERT_GT(root_length, 0u);
  const std::wstring long_text(600, L'v');
  ASSERT_TRUE(SetEnvironmentVariableW(L"TARVO_LONG", long_text.c_str()));

  const std::wstring kUntouched = L"untouched";
  const struct {
    const wchar_t* name;
    DWORD type;
    std::vector<uint8_t> bytes;
    LONG result;
    std::wstring text;
  } kCases[] = {
      {L"plain", REG_SZ, TerminatedBytesOf(L"hello world"), ERROR_SUCCESS,
       L"hello world"},
      {L"empty", REG_SZ, TerminatedBytesOf(L""), ERROR_SUCCESS, L""},
      {L"no bytes", REG_SZ, {}, ERROR_SUCCESS, L""},
      {L"inner nul", REG_SZ, TerminatedBytesOf(std::wstring(L"ab\0cd", 5)),
       ERROR_SUCCESS, L"ab"},
      {L"odd size", REG_SZ, {'a', 0, 'b'}, ERROR_SUCCESS, L"a"},
      {L"largest", REG_SZ, TerminatedBytesOf(std::wstring(1023, L'x')),
       ERROR_SUCCESS, std::wstring(1023, L'x')},
      {L"too long", REG_SZ, TerminatedBytesOf(std::wstring(1024, L'x')),
       ERROR_MORE_DATA, kUntouched},
      {L"expand", REG_EXPAND_SZ, TerminatedBytesOf(L"%SystemRoot%\\x"),
       ERROR_SUCCESS, std::wstring(system_root, root_length) + L"\\x"},
      {L"expand unset", REG_EXPAND_SZ, TerminatedBytesOf(L"%TARVO_UNSET%"),
       ERROR_SUCCESS, L"%TARVO_UNSET%"},
      {L"expand too long", REG_EXPAND_SZ,
       TerminatedBytesOf(L"%TARVO_LONG%%TARVO_LONG%"), ERROR_MORE_DATA,
       kUntouched},
      {L"multi", REG_MULTI_SZ, TerminatedBytesOf(std::wstring(L"a\0b\0", 4)),
       ERROR_CANTREAD, kUntouched},
      {L"dword", REG_DWORD, DwordBytes(7), ERROR_CANTREAD, kUntouched},
      {L"binary", REG_BINARY, TerminatedBytesOf(L"text"), ERROR_CANTREAD,
       kUntouched},
      {L"none", REG_NONE, {}, ERROR_CANTREAD, kUntouched},
  };
  for (const auto& c : kCases)
    SetRaw(c.name, c.type, c.bytes);
  for (const auto& c : kCases) {
    std::wstring text = kUntouched;
    EXPECT_EQ(c.result, key_.ReadString(c.name, &text)) << c.name;
    EXPECT_EQ(c.text, text) << c.name;
  }
  std::wstring text = kUntouched;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, key_.ReadString(L"missing", &text));
  EXPECT_EQ(kUntouched, text);
  SetEnvironmentVariableW(L"TARVO_LONG", nullptr);
}

// A string stored without a terminator that fills the whole read buffer must
// end at the size returned. Wine keeps the bytes as written, like Windows, but
// terminates a value whenever the caller's buffer has room to spare; that is
// why only a value of exactly the buffer's size can show an over-read.
TEST_F(RegistryKeyTest, UnterminatedStringFillingTheBufferEndsAtItsSize) {
  const std::wstring full(1024, L'u');
  SetRaw(L"unterminated", REG_SZ, BytesOf(full));
  SetRaw(L"unterminated expand", REG_EXPAND_SZ, BytesOf(full));

  std::wstring text;
  EXPECT_EQ(ERROR_SUCCESS, key_.ReadString(L"unterminated", &text));
  EXPECT_EQ(full, text);
  // The expansion needs a terminator too, which leaves no room for it.
  EXPECT_EQ(ERROR_MORE_DATA, key_.ReadString(L"unterminated expand", &text));
  EXPECT_EQ(full, text);
}

TEST_F(RegistryKeyTest, WriteStringStoresTerminatedText) {
  const std::wstring kTexts[] = {
      L"",
      L"plain",
      L"C:\\Program Files\\Tarvo\\",
      L"\u00fc\u20ac\U0001D11E",
      std::wstring(1023, L'w'),
  };
  for (const std::wstring& text : kTexts) {
    ASSERT_EQ(ERROR_SUCCESS, key_.WriteString(L"written", text.c_str()));

    std::vector<uint8_t> stored(4096);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(stored.size());
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key_.Handle(), L"written",
                                              nullptr, &type, stored.data(),
                                              &size));
    stored.resize(size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(TerminatedBytesOf(text), stored);

    std::wstring read;
    EXPECT_EQ(ERROR_SUCCESS, key_.ReadString(L"written", &read));
    EXPECT_EQ(text, read);
  }
}

}  // namespace
}  // namespace base::win

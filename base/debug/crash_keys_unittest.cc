#include "base/debug/crash_keys.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

constexpr size_t kChunkLength = 63;

constexpr CrashKeyRegistration kTable[] = {
    {"url", 256},                      // 5 stored keys
    {"switches", 700},                 // 12: chunk numbers past 9
    {"channel", 63},                   // fits one key: never chunked
    {"build", 10},     {"url", 1000},  // duplicate: ignored
};

// What crash reporting was asked to do, in order.
std::vector<std::string>& Operations() {
  static std::vector<std::string> operations;
  return operations;
}

void RecordSet(StringSlice key, StringSlice value) {
  Operations().push_back("set " + key.AsString() + "=" + value.AsString());
}

void RecordClear(StringSlice key) {
  Operations().push_back("clear " + key.AsString());
}

// 640 characters of "switches": ten full chunks and one of 10, the twelfth
// stored key cleared.
std::vector<std::string> SwitchesOperations() {
  std::vector<std::string> operations = {"clear switches-12"};
  for (int i = 1; i <= 10; ++i)
    operations.push_back("set switches-" + std::to_string(i) + "=" +
                         std::string(63, 's'));
  operations.push_back("set switches-11=" + std::string(10, 's'));
  return operations;
}

class CrashKeysTest : public testing::Test {
 protected:
  void SetUp() override {
    Operations().clear();
    stored_keys_ = CrashKeys::Init(kTable, std::size(kTable), kChunkLength);
    CrashKeys::SetReportingFunctions(&RecordSet, &RecordClear);
  }
  void TearDown() override {
    CrashKeys::SetReportingFunctions(nullptr, nullptr);
    CrashKeys::Init(nullptr, 0, 0);
  }

  size_t stored_keys_ = 0;
};

TEST_F(CrashKeysTest, InitCountsStoredKeysOfFirstRegistrations) {
  EXPECT_EQ(5u + 12u + 1u + 1u, stored_keys_);
  ASSERT_NE(nullptr, CrashKeys::Lookup("url"));
  EXPECT_EQ(256u, CrashKeys::Lookup("url")->max_length);
  EXPECT_EQ(nullptr, CrashKeys::Lookup("unknown"));
  EXPECT_EQ(0u, CrashKeys::Init(nullptr, 0, kChunkLength));
  EXPECT_EQ(nullptr, CrashKeys::Lookup("url"));
}

TEST_F(CrashKeysTest, SetValueStoresChunksAndClearsTheRest) {
  const std::string a63(63, 'a'), b37(37, 'b'), c(63, 'c');
  const struct {
    const char* key;
    std::string value;
    std::vector<std::string> operations;
  } kCases[] = {
      {"url",
       a63 + b37,
       {"clear url-3", "clear url-4", "clear url-5", "set url-1=" + a63,
        "set url-2=" + b37}},
      // Cut to 256 before chunking: the fifth chunk keeps 4 characters.
      {"url",
       std::string(252, 'c') + "dddd" + "eeee",
       {"set url-1=" + c, "set url-2=" + c, "set url-3=" + c, "set url-4=" + c,
        "set url-5=dddd"}},
      {"url",
       "",
       {"clear url-1", "clear url-2", "clear url-3", "clear url-4",
        "clear url-5"}},
      {"switches", std::string(640, 's'), SwitchesOperations()},
      // Unchunked keys are stored whole, even past their maximum.
      {"channel",
       std::string(100, 'x'),
       {"set channel=" + std::string(100, 'x')}},
      {"unregistered", "value", {"set unregistered=value"}},
  };
  for (const auto& test : kCases) {
    Operations().clear();
    CrashKeys::SetValue(test.key, test.value);
    EXPECT_EQ(test.operations, Operations())
        << test.key << " " << test.value.size();
  }
}

TEST_F(CrashKeysTest, SetValueDoesNothingWithoutFunctionsOrTable) {
  CrashKeys::SetReportingFunctions(nullptr, nullptr);
  CrashKeys::SetValue("url", "value");
  CrashKeys::SetReportingFunctions(&RecordSet, &RecordClear);
  CrashKeys::Init(nullptr, 0, kChunkLength);
  CrashKeys::SetValue("unregistered", "value");
  EXPECT_TRUE(Operations().empty());
}

TEST_F(CrashKeysTest, ZeroChunkLengthStoresEveryValueWhole) {
  EXPECT_EQ(4u, CrashKeys::Init(kTable, std::size(kTable), 0));
  CrashKeys::SetValue("url", std::string(300, 'u'));
  EXPECT_EQ(std::vector<std::string>{"set url=" + std::string(300, 'u')},
            Operations());
}

}  // namespace
}  // namespace base

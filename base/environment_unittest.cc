#include "base/environment.h"

#include <windows.h>

#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Windows itself looks names up without regard to case, so the retry in the
// other case cannot be told apart here; the cases pin what callers see.
TEST(Environment, GetVarFindsValuesAndRetriesInTheOtherCase) {
  struct Case {
    const wchar_t* set_name;  // Null: nothing set.
    const wchar_t* set_value;
    const char* asked;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {L"TARVO_ENV_UPPER", L"up", "tarvo_env_upper", true, "up"},
      {L"tarvo_env_lower", L"down", "TARVO_ENV_LOWER", true, "down"},
      {L"TARVO_ENV_TEXT", L"\u00e9t\u00e9 \u4e2d", "TARVO_ENV_TEXT", true,
       "\xc3\xa9t\xc3\xa9 \xe4\xb8\xad"},
      {L"TARVO_ENV_LONG", nullptr, "TARVO_ENV_LONG", true, nullptr},
      {nullptr, nullptr, "TARVO_ENV_NEVER_SET", false, ""},
      {nullptr, nullptr, "1TARVO_ENV_DIGIT", false, ""},
      {nullptr, nullptr, "", false, ""},
  };
  // Longer than any first guess of a buffer; values end at 32,767 units.
  const std::wstring long_value(32000, L'x');
  std::unique_ptr<Environment> environment = CreateEnvironment();
  for (const Case& test : cases) {
    SCOPED_TRACE(test.asked);
    if (test.set_name) {
      ASSERT_TRUE(::SetEnvironmentVariableW(
          test.set_name, test.set_value ? test.set_value : long_value.c_str()));
    }
    std::string value = "untouched";
    EXPECT_EQ(test.found, environment->GetVar(test.asked, &value));
    EXPECT_EQ(test.found, environment->HasVar(test.asked));
    if (!test.found)
      EXPECT_EQ("untouched", value);
    else if (test.value)
      EXPECT_EQ(test.value, value);
    else
      EXPECT_TRUE(value == std::string(32000, 'x')) << value.size();
    if (test.set_name)
      ::SetEnvironmentVariableW(test.set_name, nullptr);
  }
}

TEST(Environment, SetAndUnSetReachTheProcessEnvironment) {
  std::unique_ptr<Environment> environment = CreateEnvironment();
  ASSERT_TRUE(environment->SetVar("TARVO_ENV_SET", "\xc3\xa9"));
  wchar_t buffer[8] = {};
  EXPECT_EQ(1u, ::GetEnvironmentVariableW(L"TARVO_ENV_SET", buffer, 8));
  EXPECT_EQ(std::wstring(L"\u00e9"), buffer);
  ASSERT_TRUE(environment->UnSetVar("TARVO_ENV_SET"));
  EXPECT_FALSE(environment->HasVar("TARVO_ENV_SET"));
}

}  // namespace
}  // namespace base

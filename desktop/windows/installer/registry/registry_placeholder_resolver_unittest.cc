#include "desktop/windows/installer/registry/registry_placeholder_resolver.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RegistryPlaceholderResolverTest, KnowsFiveNamesAndRecordsNothing) {
  RegistryPlaceholderResolver resolver(L".htm", L"C:\\Apps\\{x}");
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } kCases[] = {
      {L"InstallFolder", L"C:\\Apps\\{x}"},
      {L"Product", L"Tarvo"},
      {L"Stream", L"developer"},
      {L"Extension", L".htm"},
      {L"Protocol", L".htm"},
      // Any other name, case-sensitively, stands for itself.
      {L"Version", L"Version"},
      {L"product", L"product"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.value, resolver.Resolve(c.name)) << c.name;
  EXPECT_EQ(nullptr, resolver.GetRegistryRecord(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(nullptr, resolver.GetRegistryRecord(HKEY_CURRENT_USER));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/crash_reporter/crash_report_fields.h"

#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_reporting_config.h"
#include "desktop/windows/crash_reporter/parameter_map.h"
#include "desktop/windows/crash_reporter/system_description.h"
#include "desktop/windows/crash_reporter/upload_parameter_set.h"
#include "desktop/windows/installer/product/branding.h"
#include "desktop/windows/installer/product/installer_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Fields = std::map<std::wstring, std::wstring>;

DumpInfoEntry Entry(const std::wstring& name, const std::wstring& value) {
  DumpInfoEntry entry = {};
  std::wcsncpy(entry.name, name.c_str(), DumpInfoEntry::kTextUnits);
  std::wcsncpy(entry.value, value.c_str(), DumpInfoEntry::kTextUnits);
  return entry;
}

ParameterMap MapOf(const std::vector<DumpInfoEntry>& entries) {
  return ParameterMap::FromCustomInfo(entries.data(), entries.size());
}

TEST(ParameterMapTest, JoinsChunksAndSkipsInvalidEntries) {
  DumpInfoEntry unterminated_name = Entry(L"", L"v");
  std::wmemset(unterminated_name.name, L'n', DumpInfoEntry::kTextUnits);
  DumpInfoEntry unterminated_value = Entry(L"unterminated", L"");
  std::wmemset(unterminated_value.value, L'v', DumpInfoEntry::kTextUnits);
  struct {
    const char* name;
    std::vector<DumpInfoEntry> entries;
    ParameterMap::Entries expected;
  } const kCases[] = {
      {"chunks in index order",
       {Entry(L"a-1", L"x"), Entry(L"a-0", L"y"), Entry(L"b", L"z")},
       {{L"a", L"yx"}, {L"b", L"z"}}},
      {"a plain entry first keeps its value",
       {Entry(L"a", L"own"), Entry(L"a-1", L"x")}, {{L"a", L"own"}}},
      {"chunks first win over a later plain entry",
       {Entry(L"a-1", L"x"), Entry(L"a", L"own")}, {{L"a", L"x"}}},
      {"the first of two plain entries wins",
       {Entry(L"ver", L"1"), Entry(L"ver", L"2")}, {{L"ver", L"1"}}},
      {"a number that wraps is no chunk index",
       {Entry(L"x-18446744073709551616", L"big")},
       {{L"x-18446744073709551616", L"big"}}},
      {"names of 64 characters, blanks, other letters; values without end",
       {unterminated_name, Entry(L"with space", L"v"), Entry(L"caf\u00e9", L"v"),
        unterminated_value, Entry(L"ok.name_1", L"")},
       {{L"ok.name_1", L""}}},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(MapOf(test.entries).entries(), test.expected) << test.name;
}

TEST(ParameterMapTest, FallbackModulesStopAtTheFirstBrokenGroup) {
  const std::vector<FallbackModule> modules = ParseFallbackModules(
      L"tarvo.exe:00007FF600000000:1a000:C:\\Tarvo\\tarvo.exe::"
      L"ntdll.dll:00007FFB10000000:1f0000:C:\\Windows\\System32\\ntdll.dll::"
      L"bad.dll:zz:10:C:\\bad.dll::"
      L"late.dll:1:1:C:\\late.dll::");
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].name, L"tarvo.exe");
  EXPECT_EQ(modules[0].base, 0x7FF600000000u);
  EXPECT_EQ(modules[0].size, 0x1a000u);
  EXPECT_EQ(modules[0].path, L"C:\\Tarvo\\tarvo.exe");
  EXPECT_EQ(modules[1].path, L"C:\\Windows\\System32\\ntdll.dll");
  EXPECT_TRUE(ParseFallbackModules(L"name:1:2:path-without-end").empty());
}

TEST(CrashReportFieldsTest, CrashLogMetadataLeavesOutRenamesAndFillsTheHeader) {
  CrashLogData data;
  FillCrashLogData(
      MapOf({Entry(L"ptype", L"installer"), Entry(L"ver", L"45.1.2.3"),
             Entry(L"URL", L"https://secret"), Entry(L"prod", L"Tarvo"),
             Entry(L"ptime", L"1234"), Entry(L"empty", L""),
             Entry(L"plugin-path-chunk-x", L"p"), Entry(L"Zed", L"last")}),
      &data);
  const SystemDescription& system = GetSystemDescription();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Zed", "last"},
      {"process_type", "installer"},
      {"os_version", system.os_version},
      {"os_service_pack_version", system.os_service_pack_version},
      {"cpu_architecture", system.cpu_architecture},
      {"cpu_level", system.cpu_level},
      {"cpu_revision", system.cpu_revision},
  };
  EXPECT_EQ(data.metadata, expected);
  EXPECT_EQ(data.version, "45.1.2.3");
  EXPECT_EQ(data.build_number, base::IntToString(GetBuildNumber()));
  EXPECT_EQ(data.product_suffix, GetCrashLogProductSuffix());
}

TEST(CrashReportFieldsTest, RegularUploadSelectsAndRenames) {
  struct {
    const char* name;
    std::vector<DumpInfoEntry> entries;
    Fields expected;
  } const kCases[] = {
      {"uptime in seconds, names of the crash server",
       {Entry(L"ptime", L"12345"), Entry(L"UBN", L"2548"),
        Entry(L"Email", L"a@b.c"), Entry(L"Origin", L"ci"),
        Entry(L"ver", L"45.0"), Entry(L"channel", L"beta"),
        Entry(L"prod", L"Tarvo"), Entry(L"ptype", L"installer"),
        Entry(L"URL", L"https://page"), Entry(L"other", L"x")},
       {{L"CrashUptime", L"12"}, {L"build_number", L"2548"},
        {L"email", L"a@b.c"}, {L"origin", L"ci"}, {L"Version", L"45.0"},
        {L"channel", L"beta"}, {L"prod", L"Tarvo"},
        {L"URL", L"https://page"}}},
      {"under a second is 0, the browser's page stays private",
       {Entry(L"ptime", L"999"), Entry(L"ptype", L"browser"),
        Entry(L"URL", L"https://page"), Entry(L"ver", L"")},
       {{L"CrashUptime", L"0"}}},
  };
  for (const auto& test : kCases) {
    UploadParameterSet fields;
    FillRegularUploadFields(MapOf(test.entries), &fields);
    EXPECT_EQ(fields.fields(), test.expected) << test.name;
  }
}

// Without a process the crash is now and the start is that much earlier.
TEST(CrashReportFieldsTest, AlternativeUploadCarriesTheKeysTimesAndProduct) {
  UploadParameterSet fields;
  FillAlternativeUploadFields(
      MapOf({Entry(L"ptype", L"installer"), Entry(L"ver", L"45.0"),
             Entry(L"ptime", L"5000"), Entry(L"prod", L"Tarvo"),
             Entry(L"modules", L"m"), Entry(L"BuildID", L"own"),
             Entry(L"Custom", L"c")}),
      nullptr, &fields);
  Fields result = fields.fields();
  int64_t start = 0;
  int64_t crash = 0;
  ASSERT_TRUE(base::WideStringToInt64(result[L"StartupTime"], &start));
  ASSERT_TRUE(base::WideStringToInt64(result[L"CrashTime"], &crash));
  EXPECT_EQ(crash - start, 5);
  result.erase(L"StartupTime");
  result.erase(L"CrashTime");
  const Fields expected = {
      {L"ProcessType", L"installer"},
      {L"Version", L"45.0"},
      {L"BuildID", L"own"},
      {L"Custom", L"c"},
      {L"ProductName", base::Utf8ToWide(GetCrashUploadProductName())},
      {L"UBN", base::IntToString16(GetBuildNumber())},
      {L"ReleaseChannel", base::Utf8ToWide(GetReleaseChannelName())},
  };
  EXPECT_EQ(result, expected);
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/paths/archive_entry_path.h"

#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct EntryCase {
  const wchar_t* name;
  const wchar_t* path;  // Null when refused.
};

constexpr EntryCase kEntryCases[] = {
    {L"tarvo.exe", L"tarvo.exe"},
    {L"Application/1.0/resources.pak", L"Application\\1.0\\resources.pak"},
    {L"locales\\fr.pak", L"locales\\fr.pak"},
    {L"ünïcödé/файл.txt", L"ünïcödé\\файл.txt"},
    {L".hidden", L".hidden"},
    {L"a..b/c.", L"a..b\\c."},
    {L"console.txt", L"console.txt"},
    {L"..", nullptr},
    {L"../evil.txt", nullptr},
    {L"a/../../evil.txt", nullptr},
    {L"a\\..\\..\\evil.txt", nullptr},
    {L"a/./b", nullptr},
    {L".../evil.txt", nullptr},
    {L".. /evil.txt", nullptr},
    {L"/evil.txt", nullptr},
    {L"\\evil.txt", nullptr},
    {L"\\\\server\\share\\evil.txt", nullptr},
    {L"//?/C:/evil.txt", nullptr},
    {L"C:evil.txt", nullptr},
    {L"C:/Windows/evil.txt", nullptr},
    {L"tarvo.exe:stream", nullptr},
    {L"CON", nullptr},
    {L"sub/nul.txt", nullptr},
    {L"Lpt1 .log", nullptr},
    {L"com9", nullptr},
    {L"CONOUT$", nullptr},
    {L"COM0", nullptr},
    {L"sub/lpt0.txt", nullptr},
    {L"COM\u00B9", nullptr},
    {L"com\u00B2.log", nullptr},
    {L"COM\u00B3", nullptr},
    {L"LPT\u00B9", nullptr},
    {L"lpt\u00B2 .txt", nullptr},
    {L"LPT\u00B3", nullptr},
    {L"COM10", L"COM10"},
    {L"LPT\u00B4", L"LPT\u00B4"},
};

TEST(ArchiveEntryPathTest, NamesThatLeaveTheFolderAreRefused) {
  for (const EntryCase& entry : kEntryCases) {
    SCOPED_TRACE(base::WideToUtf8(entry.name));
    const std::optional<std::wstring> path =
        GetArchiveEntryRelativePath(entry.name);
    if (entry.path) {
      ASSERT_TRUE(path);
      EXPECT_EQ(*path, entry.path);
    } else {
      EXPECT_FALSE(path);
    }
  }
}

TEST(ArchiveEntryPathTest, WindowsPathFormDropsWhatWindowsDrops) {
  const struct {
    const wchar_t* path;
    const wchar_t* form;
  } kCases[] = {
      {L"Readme.txt", L"Readme.txt"},
      {L"notes.txt.", L"notes.txt"},
      {L"notes.txt . ", L"notes.txt"},
      {L"docs.\\a.txt", L"docs\\a.txt"},
      {L"a\\\\b", L"a\\b"},
      {L"a..b\\c", L"a..b\\c"},
  };
  for (const auto& test_case : kCases)
    EXPECT_EQ(test_case.form, GetWindowsPathForm(test_case.path));
}

// Entries packed where case counts may name one path here; the first two
// that do are named, whatever else lies between them.
TEST(ArchiveEntryPathTest, EntriesNamingOnePathAreFound) {
  using Collision = std::optional<std::pair<size_t, size_t>>;
  const struct {
    const char* name;
    std::vector<ArchiveEntryName> entries;
    Collision expected;
  } kCases[] = {
      {"distinct", {{L"a.txt"}, {L"b.txt"}, {L"sub", true}, {L"sub\\a.txt"}},
       std::nullopt},
      {"case", {{L"Readme.txt"}, {L"README.TXT"}}, std::pair<size_t, size_t>{0, 1}},
      {"case far apart",
       {{L"README.TXT"}, {L"b.txt"}, {L"c\\d.txt"}, {L"Readme.txt"}},
       std::pair<size_t, size_t>{0, 3}},
      {"same name twice", {{L"a.txt"}, {L"a.txt"}}, std::pair<size_t, size_t>{0, 1}},
      {"trailing dot", {{L"a.txt."}, {L"a.txt"}}, std::pair<size_t, size_t>{0, 1}},
      {"folder case", {{L"Docs\\a.txt"}, {L"DOCS\\A.TXT"}},
       std::pair<size_t, size_t>{0, 1}},
      {"non-ASCII case", {{L"\u00c9t\u00e9.txt"}, {L"\u00e9T\u00c9.TXT"}},
       std::pair<size_t, size_t>{0, 1}},
      {"file where a folder goes", {{L"a"}, {L"A\\b.txt"}},
       std::pair<size_t, size_t>{0, 1}},
      {"folder before the file", {{L"Sub", true}, {L"sub"}},
       std::pair<size_t, size_t>{0, 1}},
      {"folders may repeat", {{L"Sub", true}, {L"SUB", true}, {L"sub\\a"}},
       std::nullopt},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    EXPECT_EQ(test_case.expected, FindEntryPathCollision(test_case.entries));
  }
}

}  // namespace
}  // namespace installer

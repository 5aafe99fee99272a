#include "desktop/windows/installer/package_fetcher/archive_entry_path.h"

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

}  // namespace
}  // namespace installer

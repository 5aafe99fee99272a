#include "desktop/windows/installer/package_fetcher/additional_file_name.h"

#include <cwctype>
#include <string>

#include "desktop/windows/installer/paths/archive_entry_path.h"
#include "desktop/windows/installer/product/package_file_names.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(AdditionalFileNameTest, OnlyOnePlainNameIsAccepted) {
  const struct {
    const wchar_t* name;
    bool plain;
  } kCases[] = {
      {L"partner.txt", true},
      {L"Partner Content v2.dat", true},
      {L".hidden", true},
      {L"\u00e9t\u00e9.txt", true},
      {L"", false},
      {L".", false},
      {L"..", false},
      {L"..\\escaped.txt", false},
      {L"../escaped.txt", false},
      {L"sub\\file.txt", false},
      {L"C:\\absolute.txt", false},
      {L"C:relative.txt", false},
      {L"\\\\server\\share\\file.txt", false},
      {L"files_list:stream", false},
      {L"wild*.txt", false},
      {L"what?.txt", false},
      {L"a<b>.txt", false},
      {L"quote\".txt", false},
      {L"pipe|.txt", false},
      {L"tab\t.txt", false},
      {L"trailing.", false},
      {L"trailing ", false},
      {L"NUL", false},
      {L"nul.txt", false},
      {L"COM1.log", false},
      {L"lpt9", false},
      {L"CON .txt", false},
      {L"CONOUT$", false},
      {L"console.txt", true},
      {L"nullable", true},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(IsPlainFileName(test.name), test.plain) << test.name;
  EXPECT_TRUE(IsPlainFileName(std::wstring(255, L'a')));
  EXPECT_FALSE(IsPlainFileName(std::wstring(256, L'a')));
}

TEST(AdditionalFileNameTest, NamesWindowsLoadsOrRunsAreExecutable) {
  const struct {
    const wchar_t* name;
    bool executable;
  } kCases[] = {
      {L"winmm.dll", true},
      {L"VERSION.DLL", true},
      {L"setup.Exe", true},
      {L"driver.sys", true},
      {L"control.ocx", true},
      {L"applet.cpl", true},
      {L"saver.scr", true},
      {L"tool.com", true},
      {L"package.msi", true},
      {L"script.ps1", true},
      {L"run.bat", true},
      {L"run.CMD", true},
      {L"hidden.dll.", true},
      {L"hidden.dll .. ", true},
      {L"archive.tar.exe", true},
      {L"partner.txt", false},
      {L"readme.dll.txt", false},
      {L"dll", false},
      {L".dll", true},
      {L".dllx", false},
      {L"noextension", false},
      {L"", false},
      {L"...", false},
  };
  for (const auto& test : kCases)
    EXPECT_EQ(IsExecutableFileName(test.name), test.executable) << test.name;
}

// A partner file lands in the package beside its own files: taking one of
// their names, in any case, would put it in that file's place.
TEST(AdditionalFileNameTest, PackageFileNamesAreRefusedInAnyCase) {
  for (const wchar_t* name : kPackageFileNames) {
    std::wstring upper(name);
    for (wchar_t& c : upper)
      c = static_cast<wchar_t>(towupper(c));
    EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_FALSE(IsPlainFileName(upper)) << upper;
  }
  for (const wchar_t* near_miss :
       {L"files_list.txt", L"installer_prefs.json.bak", L"my_files_list",
        L"k.bat.txt", L"Local State 2"}) {
    EXPECT_TRUE(IsPlainFileName(near_miss)) << near_miss;
  }
}

// The partner names and the archive entries refuse the same devices: what
// Windows opens as a port under one name it opens under the other.
TEST(AdditionalFileNameTest, DevicesAreRefusedAsArchiveEntriesRefuseThem) {
  const struct {
    const wchar_t* name;
    bool device;
  } kCases[] = {
      {L"COM\u00B9.txt", true}, {L"LPT\u00B2", true}, {L"lpt\u00B3.log", true},
      {L"CLOCK$", true},        {L"com0", true},      {L"NUL .txt", true},
      {L"conin$.dat", true},    {L"COM10", false},    {L"LPT\u00B4", false},
      {L"COM\u00B9x.txt", false}, {L"console.txt", false}, {L"auxiliary", false},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(IsPlainFileName(test.name), !test.device) << test.name;
    EXPECT_EQ(GetArchiveEntryRelativePath(test.name).has_value(), !test.device)
        << test.name;
  }
}

}  // namespace
}  // namespace installer

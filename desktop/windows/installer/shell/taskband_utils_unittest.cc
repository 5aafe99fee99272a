#include "desktop/windows/installer/shell/taskband_utils.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_registry_override.h"
#include "base/test/scoped_temp_folder.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/shortcut.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;

constexpr wchar_t kCompanyKey[] = L"Software\\Tarvo Software";
// This build's stream is "developer".
constexpr wchar_t kLastBandCheck[] = L"developer Last Band Check";
constexpr int64_t kDay = 24LL * 60 * 60 * 1000 * 1000;
constexpr PrivateTempFolder::Owners kUser =
    PrivateTempFolder::Owners::kCurrentUser;

FilePath RecorderPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return FilePath(std::wstring(module, length))
      .DirName()
      .Append(L"installer")
      .Append(L"pin_helper_recorder.exe");
}

int64_t Now() {
  return base::Time::Now().ToInternalValue();
}

// The recorder from the test folder stands in for the helper in a fake
// installation folder; the temporary folder is a test folder of its own.
class TaskbarPinTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_.Valid());
    ASSERT_TRUE(base::GetPathForKey(base::kTempDir, &real_temp_));
    ASSERT_TRUE(
        base::SetPathOverride(base::kTempDir, temp_.path(), true, false));
    const bool x64 = base::win::GetWindowsVersionInfo().architecture() ==
                     base::win::WindowsVersionInfo::kArchitectureX64;
    ASSERT_TRUE(base::CopyFileChecked(
        RecorderPath(),
        installation_.path().Append(x64 ? L"installer_helper_64.exe"
                                        : L"installer_helper.exe")));
    record_file_ = records_.path().Append(L"record.txt");
    ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_RECORD",
                              record_file_.value().c_str());
    shortcut_ = installation_.path().Append(L"T\u00e4rvo Browser.lnk");
  }
  void TearDown() override {
    ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_RECORD", nullptr);
    ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_EXIT", nullptr);
    ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_HANG", nullptr);
    base::SetPathOverride(base::kTempDir, real_temp_, true, false);
  }

  // What the helper recorded; empty when it did not run.
  std::map<std::string, std::string> ReadRecord() {
    std::map<std::string, std::string> record;
    std::string text;
    if (!base::ReadFileToString(record_file_, &text))
      return record;
    for (const std::string& line : base::SplitString(
             text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      const size_t equals = line.find('=');
      record[line.substr(0, equals)] = line.substr(equals + 1);
    }
    base::DeletePath(record_file_, false);
    return record;
  }

  std::vector<FilePath> TempEntries() { return Entries(temp_.path()); }
  static std::vector<FilePath> Entries(const FilePath& folder) {
    std::vector<FilePath> entries;
    base::FileEnumerator enumerator(
        folder, false,
        base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, L"");
    for (FilePath entry = enumerator.Next(); !entry.empty();
         entry = enumerator.Next()) {
      entries.push_back(entry);
    }
    return entries;
  }

  void WriteTimestamp(const std::wstring& text) {
    base::win::RegistryKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, key.WriteString(kLastBandCheck, text.c_str()));
  }
  std::wstring ReadTimestamp() {
    base::win::RegistryKey key(HKEY_CURRENT_USER, kCompanyKey, KEY_READ);
    std::wstring text;
    key.ReadString(kLastBandCheck, &text);
    return text;
  }

  base::win::ScopedRegistryOverride registry_{HKEY_CURRENT_USER};
  base::ScopedTempFolder installation_;
  base::ScopedTempFolder temp_;
  base::ScopedTempFolder records_;
  FilePath real_temp_;
  FilePath record_file_;
  FilePath shortcut_;
};

// The folder's access list is not asserted: Wine keeps no file access lists
// here and reports one made from the Unix mode bits.
TEST_F(TaskbarPinTest, HelperRunsLockedInAFolderOfItsOwners) {
  // A stale helper under the old fixed name, held open by another process,
  // no longer stands in the way.
  const FilePath stale = temp_.path().Append(L"explorer.exe");
  ASSERT_EQ(2, base::WriteBufferToFile(stale, "MZ", 2));
  base::win::ScopedHandle stale_lock(
      ::CreateFileW(stale.value().c_str(), GENERIC_READ, 0, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(stale_lock.IsValid());
  // The system's temporary folder, where the administrators' folders go.
  base::ScopedTempFolder windows;
  const FilePath system_temp = windows.path().Append(L"Temp");
  ASSERT_TRUE(base::CreateDirectory(system_temp));
  FilePath real_windows;
  ASSERT_TRUE(base::GetPathForKey(base::kWindowsDir, &real_windows));
  ASSERT_TRUE(
      base::SetPathOverride(base::kWindowsDir, windows.path(), true, false));
  const struct {
    PrivateTempFolder::Owners owners;
    FilePath parent;
  } kCases[] = {
      {kUser, temp_.path()},
      // An elevated run's helper: not where the user's processes write.
      {PrivateTempFolder::Owners::kAdministrators, system_temp},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.parent.AsUTF8());
    EXPECT_TRUE(PinToTaskbarWithHelper(installation_.path(), shortcut_,
                                       kPinNow, test_case.owners));

    std::map<std::string, std::string> record = ReadRecord();
    EXPECT_EQ("1", record["arguments"]);
    EXPECT_EQ(shortcut_.AsUTF8(), record["argument"]);
    const FilePath program = FilePath::FromUTF8(record["program"]);
    EXPECT_EQ(L"explorer.exe", program.BaseName().value());
    EXPECT_EQ(0, FilePath::CompareIgnoreCase(test_case.parent,
                                             program.DirName().DirName()));
    EXPECT_EQ(std::to_string(ERROR_SHARING_VIOLATION), record["rename_error"]);
    // The private folder is gone; the stale file is not ours to touch.
    EXPECT_EQ(std::vector<FilePath>{stale}, TempEntries());
    EXPECT_TRUE(Entries(system_temp).empty());
  }
  base::SetPathOverride(base::kWindowsDir, real_windows, true, false);
}

TEST_F(TaskbarPinTest, HelperStatusDecides) {
  const struct {
    const wchar_t* exit_code;
    bool pinned;
  } kCases[] = {{L"0", true}, {L"3", false}};
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.exit_code);
    ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_EXIT", test_case.exit_code);
    EXPECT_EQ(test_case.pinned, PinToTaskbarWithHelper(installation_.path(),
                                                       shortcut_, kPinNow,
                                                       kUser));
    EXPECT_EQ(shortcut_.AsUTF8(), ReadRecord()["argument"]);
  }
}

TEST_F(TaskbarPinTest, HelperThatNeverEndsIsGivenUp) {
  // The helper never ends, so that no wait limit is too short to hold.
  ::SetEnvironmentVariableW(L"TARVO_PIN_HELPER_HANG", L"1");
  const base::LogSeverity min_level = base::GetMinLogLevel();
  base::SetMinLogLevel(-2);
  base::ScopedLogCapture log;
  EXPECT_FALSE(internal::PinToTaskbarWithHelper(
      installation_.path(), shortcut_, kPinNow, kUser, base::TimeDelta()));
  base::SetMinLogLevel(min_level);
  ASSERT_FALSE(log.lines().empty());
  EXPECT_EQ("Could not wait for helper", log.lines().back());
  // Ended, and its folder gone.
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(TaskbarPinTest, MissingHelperPinsNothingAndLeavesNothing) {
  base::ScopedTempFolder empty_installation;
  EXPECT_FALSE(PinToTaskbarWithHelper(empty_installation.path(), shortcut_,
                                      kPinNow, kUser));
  EXPECT_TRUE(TempEntries().empty());
}

TEST_F(TaskbarPinTest, PeriodicModePinsEvery182Days) {
  const struct {
    const char* label;
    // Null: no timestamp; else the text, or a day offset from now.
    const wchar_t* text;
    int64_t days_ago;
    bool pinned;
    // Whether the stored time becomes now; else it stays as it was.
    bool restamped;
  } kCases[] = {
      {"first call", nullptr, 0, false, true},
      {"100 days ago", L"", 100, false, false},
      {"181 days ago", L"", 181, false, false},
      {"183 days ago", L"", 183, true, true},
      {"zero", L"0", 0, false, true},
      {"in the future", L"", -1, false, true},
      {"not a number", L"soon", 0, false, true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.label);
    base::win::RegistryKey(HKEY_CURRENT_USER, kCompanyKey, KEY_ALL_ACCESS);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kCompanyKey, kLastBandCheck);
    std::wstring stored;
    if (test_case.text) {
      stored = *test_case.text
                   ? test_case.text
                   : base::Int64ToString16(Now() - test_case.days_ago * kDay);
      WriteTimestamp(stored);
    }
    const int64_t before = Now();
    EXPECT_EQ(test_case.pinned,
              PinToTaskbarWithHelper(installation_.path(), shortcut_,
                                     kPinPeriodically, kUser));
    const int64_t after = Now();

    EXPECT_EQ(test_case.pinned, !ReadRecord().empty());
    if (test_case.restamped) {
      int64_t stamp = 0;
      ASSERT_TRUE(base::WideStringToInt64(ReadTimestamp(), &stamp));
      EXPECT_LE(before, stamp);
      EXPECT_GE(after, stamp);
    } else {
      EXPECT_EQ(stored, ReadTimestamp());
    }
  }
}

TEST_F(TaskbarPinTest, WindowsVersionChoosesTheWay) {
  base::win::ScopedCOMInitializer com;
  base::win::ShortcutProperties properties;
  properties.set_target(RecorderPath());
  ASSERT_TRUE(base::win::CreateOrUpdateShortcut(
      shortcut_, properties, base::win::kShortcutCreateAlways));
  // Wine's shell has no "taskbarpin" verb for links (it answers 31, no
  // association): on Windows 7 to 8.1 only the failed verb's answer and the
  // absence of the helper are shown.
  const struct {
    int version;
    bool pinned;
    bool helper_ran;
  } kCases[] = {
      {base::win::kVersionVista, false, false},
      {base::win::kVersionWin7, false, false},
      {base::win::kVersionWin8_1, false, false},
      {base::win::kVersionWin10, true, true},
      {base::win::kVersionNewer, true, true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.version);
    EXPECT_EQ(test_case.pinned,
              internal::PinToTaskbarOnVersion(test_case.version,
                                              installation_.path(), shortcut_,
                                              kPinNow, kUser));
    EXPECT_EQ(test_case.helper_ran, !ReadRecord().empty());
  }
}

}  // namespace
}  // namespace installer

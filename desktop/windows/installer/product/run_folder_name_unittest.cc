#include "desktop/windows/installer/product/run_folder_name.h"

#include <windows.h>

#include <string>

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(RunFolderNameTest, ParseReadsOnlyWholeNames) {
  struct Case {
    const wchar_t* name;
    const wchar_t* prefix;  // null: not a run's name
    uint32_t pid;
  } const cases[] = {
      {L"tarvo_installer_20261207204000_1234", L"tarvo_installer", 1234},
      {L"tarvo_installer_20261207204000_1234.exe", L"tarvo_installer", 1234},
      {L"tarvo_installer_20261207204000_1234.log", L"tarvo_installer", 1234},
      {L"installer_run_20261207204000_56.journal", L"installer_run", 56},
      {L"suite_20261207204000_4294967295", L"suite", 4294967295u},
      // A prefix may hold what looks like a name of its own.
      {L"a_20261207204000_7_20261207204001_8", L"a_20261207204000_7", 8},
      // Wrong digit counts.
      {L"tarvo_installer_2026120720400_1234", nullptr, 0},
      {L"tarvo_installer_202612072040001_1234", nullptr, 0},
      // Non-digits, signs and blanks where digits belong.
      {L"tarvo_installer_2026120720400x_1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_12a4", nullptr, 0},
      {L"tarvo_installer_20261207204000_+1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_-1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_ 1234", nullptr, 0},
      {L"tarvo_installer_20261207204000_\x0661\x0662", nullptr, 0},
      // Pids that no process has.
      {L"tarvo_installer_20261207204000_4294967296", nullptr, 0},
      {L"tarvo_installer_20261207204000_99999999999999999999", nullptr, 0},
      {L"tarvo_installer_20261207204000_0", nullptr, 0},
      // Missing parts.
      {L"tarvo_installer_20261207204000_", nullptr, 0},
      {L"tarvo_installer_20261207204000", nullptr, 0},
      {L"_20261207204000_1234", nullptr, 0},
      {L"20261207204000_1234", nullptr, 0},
      {L"tarvo_installer__1234", nullptr, 0},
      {L"_1234", nullptr, 0},
      {L"tarvo_installer", nullptr, 0},
      {L"", nullptr, 0},
      // The name ends at its first dot.
      {L"tarvo_installer_20261207204000.5_1234", nullptr, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<RunFolderName> parsed = RunFolderName::Parse(test.name);
    ASSERT_EQ(test.prefix != nullptr, parsed.has_value());
    if (test.prefix) {
      EXPECT_EQ(test.prefix, parsed->prefix());
      EXPECT_EQ(test.pid, parsed->pid());
    }
  }
}

TEST(RunFolderNameTest, ParseRefusesNamesLongerThanAPath) {
  const std::wstring name =
      std::wstring(MAX_PATH, L'x') + L"_20261207204000_1234";
  EXPECT_FALSE(RunFolderName::Parse(name));
  EXPECT_TRUE(RunFolderName::Parse(name.substr(name.size() - MAX_PATH)));
}

// The fetcher's files are read only in the exact forms it makes: anything
// else in the temporary folder may be a user's, and stays.
TEST(RunFolderNameTest, ParseFetcherFileReadsOnlyTheFetchersNames) {
  using File = RunFolderName::FetcherFile;
  constexpr int64_t kNoTry = -1;
  struct Case {
    const wchar_t* name;
    const wchar_t* prefix;  // null: not a name the fetcher makes
    uint32_t pid;
    File file;
    int64_t try_number;
  } const cases[] = {
      {L"tarvo_installer_20261207204000_1234", L"tarvo_installer", 1234,
       File::kPackageFolder, kNoTry},
      {L"tarvo_installer_20261207204000_1234.exe", L"tarvo_installer", 1234,
       File::kPackage, kNoTry},
      {L"tarvo_installer_20261207204000_1234_0.exe", L"tarvo_installer", 1234,
       File::kTryDownload, 0},
      {L"tarvo_installer_20261207204000_1234_2.exe", L"tarvo_installer", 1234,
       File::kTryDownload, 2},
      {L"tarvo_installer_20261207204000_1234_4294967295.exe",
       L"tarvo_installer", 1234, File::kTryDownload, 4294967295},
      {L"tarvo_installer_20261207204000_1234_1.7z", L"tarvo_installer", 1234,
       File::kTryArchive, 1},
      {L"tarvo_installer_20261207204000_1234.additional_file.tmp",
       L"tarvo_installer", 1234, File::kAdditionalFileTemporary, kNoTry},
      {L"suite_20261207204000_56", L"suite", 56, File::kPackageFolder, kNoTry},
      // The file system matches names in any case.
      {L"tarvo_installer_20261207204000_1234_1.EXE", L"tarvo_installer", 1234,
       File::kTryDownload, 1},
      {L"tarvo_installer_20261207204000_1234.Additional_File.TMP",
       L"tarvo_installer", 1234, File::kAdditionalFileTemporary, kNoTry},
      // A prefix may hold what looks like a name of its own.
      {L"a_20261207204000_7_20261207204001_8_1.exe", L"a_20261207204000_7", 8,
       File::kTryDownload, 1},
      // Other suffixes: the run's log and journal, partial or doubled ones.
      {L"tarvo_installer_20261207204000_1234.log", nullptr},
      {L"installer_run_20261207204000_1234.journal", nullptr},
      {L"tarvo_installer_20261207204000_1234.", nullptr},
      {L"tarvo_installer_20261207204000_1234.ex", nullptr},
      {L"tarvo_installer_20261207204000_1234.exe.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_1.exe.7z", nullptr},
      {L"tarvo_installer_20261207204000_1234.tmp", nullptr},
      {L"tarvo_installer_20261207204000_1234.additional_file", nullptr},
      {L"tarvo_installer_20261207204000_1234.additional_file.tmp.bak",
       nullptr},
      {L"tarvo_installer_20261207204000_1234_1.exe ", nullptr},
      // A try number only where the fetcher writes one, and as it writes it.
      {L"tarvo_installer_20261207204000_1234_1", nullptr},
      {L"tarvo_installer_20261207204000_1234.7z", nullptr},
      {L"tarvo_installer_20261207204000_1234_1.additional_file.tmp", nullptr},
      {L"tarvo_installer_20261207204000_1234_01.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_00.7z", nullptr},
      {L"tarvo_installer_20261207204000_1234_+1.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_-1.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_ 1.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_1a.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_\x0661.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_4294967296.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_99999999999.7z", nullptr},
      {L"tarvo_installer_20261207204000_1234_.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234_1_2.exe", nullptr},
      {L"tarvo_installer_20261207204000_1234__1.exe", nullptr},
      // A bad run-folder name before a good suffix.
      {L"tarvo_installer_20261207204000_1.exe", L"tarvo_installer", 1,
       File::kPackage, kNoTry},
      {L"tarvo_installer_20261207204000_0_1.exe", nullptr},
      {L"tarvo_installer_2026120720400_1234_1.exe", nullptr},
      {L"tarvo_installer_20261207204000_1.7z", nullptr},
      {L"_20261207204000_1234_1.7z", nullptr},
      {L"20261207204000_1234_1.exe", nullptr},
      {L"_1.exe", nullptr},
      {L".exe", nullptr},
      {L"", nullptr},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const std::optional<RunFolderName> parsed =
        RunFolderName::ParseFetcherFile(test.name);
    ASSERT_EQ(test.prefix != nullptr, parsed.has_value());
    if (!test.prefix)
      continue;
    EXPECT_EQ(test.prefix, parsed->prefix());
    EXPECT_EQ(test.pid, parsed->pid());
    EXPECT_EQ(test.file, parsed->fetcher_file());
    EXPECT_EQ(test.try_number == kNoTry, !parsed->try_number().has_value());
    if (parsed->try_number()) {
      EXPECT_EQ(test.try_number, *parsed->try_number());
    }
  }
}

// The fetcher names its files through MakeFetcherFile and the next run
// reads them through ParseFetcherFile: each kind must come back as itself.
TEST(RunFolderNameTest, EveryFetcherFileParsesBackAsItsKind) {
  using File = RunFolderName::FetcherFile;
  const std::wstring folder = L"suite_20261207204000_4294967295";
  for (File file : {File::kPackageFolder, File::kPackage, File::kTryDownload,
                    File::kTryArchive, File::kAdditionalFileTemporary}) {
    const std::wstring name = RunFolderName::MakeFetcherFile(folder, file, 7);
    SCOPED_TRACE(name);
    const std::optional<RunFolderName> parsed =
        RunFolderName::ParseFetcherFile(name);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(file, parsed->fetcher_file());
    EXPECT_EQ(L"suite", parsed->prefix());
    EXPECT_EQ(4294967295u, parsed->pid());
    const bool has_try =
        file == File::kTryDownload || file == File::kTryArchive;
    EXPECT_EQ(has_try ? std::optional<uint32_t>(7) : std::nullopt,
              parsed->try_number());
  }
  EXPECT_EQ(folder + L"_0.exe",
            RunFolderName::MakeFetcherFile(folder, File::kTryDownload));
  EXPECT_EQ(folder + L".additional_file.tmp",
            RunFolderName::MakeFetcherFile(
                folder, File::kAdditionalFileTemporary));
  // The plain reading knows no try: a reader of logs or journals sees none.
  EXPECT_FALSE(RunFolderName::Parse(folder + L"_7.exe"));
}

// The digits are UTC whatever the time zone, and each field is padded.
TEST(RunFolderNameTest, MakeWritesUtcDigitsThatParseBack) {
  SYSTEMTIME utc = {};
  utc.wYear = 2026;
  utc.wMonth = 3;
  utc.wDay = 9;
  utc.wHour = 4;
  utc.wMinute = 5;
  utc.wSecond = 6;
  FILETIME file_time = {};
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &file_time));
  const std::wstring name = RunFolderName::Make(
      L"tarvo_installer", base::Time::FromFileTime(file_time), 4294967295u);
  EXPECT_EQ(L"tarvo_installer_20260309040506_4294967295", name);
  const std::optional<RunFolderName> parsed = RunFolderName::Parse(name);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(L"20260309040506", parsed->time_digits());
}

}  // namespace
}  // namespace installer

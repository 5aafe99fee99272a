#include "desktop/windows/installer/install_log/install_log_writer.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/install_log/install_log.h"
#include "desktop/windows/installer/install_log/install_log_reader.h"
#include "desktop/windows/installer/registry/registry_data.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const DWORD kOne = 1;

// Every field set, both hives, a key in the 32-bit view, and texts that
// need escaping or are not ASCII.
InstallLog FullLog(bool all_users) {
  InstallLog log;
  log.copy_only = true;
  log.all_users = all_users;
  log.pinned = true;
  log.app_id = "T\xC3\xA4rv\xC3\xB6.9f86d081";
  log.path = L"C:\\Users\\J\u00f6rg & <M\u00fcller>\\AppData\\Local\\Tarvo";
  log.subfolder = L"Application \"\u30d5\"";
  log.version = "120.0.6099.5";
  log.desktop_shortcut = L"C:\\Desktop\\T\u00e4rv\u00f6.lnk";
  log.start_menu_shortcut = L"C:\\Start Menu\\Tarvo.lnk";
  log.quick_launch_shortcut = L"C:\\Quick Launch\\Tarvo.lnk";
  log.files = {L"tarvo.exe", L"120.0.6099.5\\r\u00e9sum\u00e9 & co.dll"};
  log.root_files = {L"tarvo_proxy.exe"};
  log.components = {{"pepper_flash", L"C:\\Tarvo\\PepperFlash"},
                    {"w\u00efdevine", L"C:\\Tarvo\\Widevine"}};
  const std::wstring kIcon = L"\"C:\\Tarvo\\Launcher.exe\",0";
  AddRegistryValue(&log.hklm_registry, L"Software\\Classes\\TarvoHTML", L"",
                   kIcon.c_str(), REG_SZ,
                   static_cast<uint32_t>((kIcon.size() + 1) * 2), 2);
  AddRegistryValue(&log.hklm_registry,
                   L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                   L"Tarvo",
                   L"NoModify", &kOne, REG_DWORD, sizeof(kOne), 1,
                   KEY_WOW64_32KEY);
  const uint8_t kBlob[] = {0x0a, 0xff, 0x00};
  AddRegistryValue(&log.hkcu_registry, L"Software\\Tarvo\\\u00dcn\u00efcode",
                   L"Blob <&>", kBlob, REG_BINARY, sizeof(kBlob), -1);
  AddRegistryValue(&log.hkcu_registry, L"Software\\Tarvo\\\u00dcn\u00efcode",
                   L"Wide", nullptr, REG_QWORD, 0, 0);
  return log;
}

InstallLog WithOnlyFiles(std::vector<std::wstring> files) {
  InstallLog log;
  log.path = L"C:\\Tarvo";
  log.files = std::move(files);
  return log;
}

class InstallLogWriterTest : public testing::Test {
 protected:
  base::FilePath LogPath() const {
    return folder_.path().Append(kInstallLogName);
  }

  InstallLog ReadBack() {
    InstallLog log;
    InstallLogReader reader;
    EXPECT_TRUE(reader.Read(&log, LogPath())) << reader.error();
    return log;
  }

  std::string Contents() {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(LogPath(), &text));
    return text;
  }

  std::vector<base::FilePath> FolderEntries() {
    std::vector<base::FilePath> entries;
    base::FileEnumerator listing(folder_.path(), base::FileEnumerator::kFiles);
    for (base::FilePath entry = listing.Next(); !entry.empty();
         entry = listing.Next()) {
      entries.push_back(entry);
    }
    return entries;
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempFolder folder_;
  InstallLogWriter writer_;
};

TEST_F(InstallLogWriterTest, EveryWrittenRecordReadsBackEqual) {
  const InstallLog cases[] = {
      FullLog(true),
      FullLog(false),
      // Nothing follows the files, or the files list is empty: logs the
      // reader once refused.
      WithOnlyFiles({L"tarvo.exe"}),
      WithOnlyFiles({}),
      [] {
        InstallLog log = WithOnlyFiles({});
        log.components = FullLog(true).components;
        return log;
      }(),
  };
  for (const InstallLog& log : cases) {
    ASSERT_TRUE(writer_.Write(log, LogPath()));
    EXPECT_EQ(ReadBack(), log) << Contents();
  }
}

TEST_F(InstallLogWriterTest, OnlyTheKeyIn32BitViewCarriesTheView) {
  ASSERT_TRUE(writer_.Write(FullLog(true), LogPath()));
  const std::string text = Contents();
  EXPECT_NE(text.find("<key path=\"Software\\Microsoft\\Windows\\"
                      "CurrentVersion\\Uninstall\\Tarvo\" clean=\"1\" "
                      "view=\"32\">"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("view="), text.rfind("view=")) << text;
}

TEST_F(InstallLogWriterTest, ReplacesALongerLogWhole) {
  const std::string old_log(100000, 'x');
  base::WriteBufferToFile(LogPath(), old_log.data(),
                          static_cast<int>(old_log.size()));
  ASSERT_TRUE(writer_.Write(WithOnlyFiles({L"tarvo.exe"}), LogPath()));
  EXPECT_EQ(ReadBack(), WithOnlyFiles({L"tarvo.exe"}));
  EXPECT_EQ(FolderEntries(), std::vector<base::FilePath>{LogPath()});
}

TEST_F(InstallLogWriterTest, FailedWriteKeepsThePreviousLog) {
  const InstallLog previous = FullLog(true);
  ASSERT_TRUE(writer_.Write(previous, LogPath()));
  const std::string previous_text = Contents();
  {
    // Another process holds the log open without sharing it.
    base::File holder(LogPath(), base::File::kOpen | base::File::kRead |
                                     base::File::kExclusiveRead |
                                     base::File::kExclusiveWrite);
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(writer_.Write(WithOnlyFiles({L"new.exe"}), LogPath()));
  }
  // A record that no XML document can hold is not written at all.
  InstallLog unwritable = WithOnlyFiles({L"bell\a.exe"});
  EXPECT_FALSE(writer_.Write(unwritable, LogPath()));
  EXPECT_EQ(Contents(), previous_text);
  EXPECT_EQ(ReadBack(), previous);
  // No temporary file of the writer (hex digits and ".tmp") is left beside
  // it. Wine's ReplaceFileW leaves one "rf*.tmp" of its own on failure.
  for (const base::FilePath& entry : FolderEntries()) {
    const std::wstring name = entry.BaseName().value();
    EXPECT_TRUE(entry == LogPath() || name.starts_with(L"rf"))
        << entry.AsUTF8();
  }
}

TEST_F(InstallLogWriterTest, MissingFolderFailsTheWrite) {
  EXPECT_FALSE(writer_.Write(WithOnlyFiles({L"a"}),
                             folder_.path().Append(L"missing\\log.xml")));
}

}  // namespace
}  // namespace installer

#include "desktop/windows/crash_reporter/crash_uploads.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The uploads never reach a server here: the URL is refused before any
// connection (an "ftp" one), so what is tested is the job's own work around
// the upload. Uploads that arrive are the end-to-end tests'. The reporter's
// quit signal is waited for as the reporter does: once it is set, the job
// has run and its files are gone.
TEST(CrashUploadsTest, QueuedJobCleansUpBeforeReleasingItsHold) {
  struct {
    const char* name;
    std::string contents;
    bool delete_file;
  } const kCases[] = {
      // The zip is made, the upload fails, the zip goes and so does the log.
      {"upload fails", "crash log", true},
      // A zip that cannot be made: nothing sent, the log stays unless told.
      {"empty log kept", "", false},
      {"empty log deleted", "", true},
  };
  ::SetEnvironmentVariableW(L"TARVO_CRASH_SERVER_URL", L"ftp://127.0.0.1/crash");
  InitCrashServerUrls();
  ::SetEnvironmentVariableW(L"TARVO_CRASH_SERVER_URL", nullptr);
  ReporterQuitSignal* quit_signal = ReporterQuitSignal::Instance();
  ASSERT_TRUE(quit_signal->CreateQuitEvent());
  for (const auto& test : kCases) {
    base::ScopedTempFolder folder;
    base::FilePath log = folder.path().Append(L"tarvo-crashlog-1-1.txt");
    ASSERT_EQ(static_cast<int>(test.contents.size()),
              base::WriteBufferToFile(log, test.contents.data(),
                                      static_cast<int>(test.contents.size())));
    ASSERT_TRUE(PostCrashServerUpload(log, nullptr, test.delete_file)) << test.name;
    ASSERT_TRUE(quit_signal->Wait());

    EXPECT_EQ(!test.delete_file, base::PathExists(log)) << test.name;
    EXPECT_FALSE(base::PathExists(log.ReplaceExtension(L".zip"))) << test.name;
  }
}

}  // namespace
}  // namespace installer

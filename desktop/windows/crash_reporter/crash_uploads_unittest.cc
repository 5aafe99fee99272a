#include "desktop/windows/crash_reporter/crash_uploads.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// What the queued jobs see of the reporter's quit signal: the test waits
// for the last hold to go.
std::atomic<int> g_holds{0};
std::atomic<bool> g_file_gone_at_release{false};
base::FilePath* g_watched_file = nullptr;
HANDLE g_released = nullptr;

void AddHold() {
  ++g_holds;
}

void ReleaseHold() {
  g_file_gone_at_release = !base::PathExists(*g_watched_file);
  if (--g_holds == 0)
    ::SetEvent(g_released);
}

// The uploads never reach a server here: the URL is refused before any
// connection (an "ftp" one), so what is tested is the job's own work around
// the upload. Uploads that arrive are the end-to-end tests'.
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
  SetUploadHoldFunctions(&AddHold, &ReleaseHold);
  for (const auto& test : kCases) {
    base::ScopedTempFolder folder;
    base::FilePath log = folder.path().Append(L"tarvo-crashlog-1-1.txt");
    ASSERT_EQ(static_cast<int>(test.contents.size()),
              base::WriteBufferToFile(log, test.contents.data(),
                                      static_cast<int>(test.contents.size())));
    base::win::ScopedHandle released(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_released = released.Get();
    g_watched_file = &log;

    ASSERT_TRUE(PostCrashServerUpload(log, nullptr, test.delete_file)) << test.name;
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(released.Get(), INFINITE));

    EXPECT_EQ(test.delete_file, g_file_gone_at_release.load()) << test.name;
    EXPECT_EQ(!test.delete_file, base::PathExists(log)) << test.name;
    EXPECT_FALSE(base::PathExists(log.ReplaceExtension(L".zip"))) << test.name;
  }
  SetUploadHoldFunctions(nullptr, nullptr);
}

}  // namespace
}  // namespace installer

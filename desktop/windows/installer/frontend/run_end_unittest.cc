#include "desktop/windows/installer/frontend/run_end.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/stats_sender/stats.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The report is never sent here.
class NoPromptUIDelegate : public PackageFetcher::UIDelegate {
 public:
  void RunUICallbackAndPostReply(base::Callback<int(HWND)> ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 base::Callback<void(int)> reply) override {
    ADD_FAILURE() << "no prompt is expected";
  }
};

// A full disk cannot be made inside the build folder: the fetcher's write
// error is given.
TEST(RunEndErrorTest, FetchFailureNamesItsCause) {
  const base::FilePath folder(L"C:\\T\\Tarvo Installer");
  const struct {
    int state;
    PackageFetcher::FailureCause cause;
    int code;
    const wchar_t* text;
  } kCases[] = {
      {PackageFetcher::UNPACKING_FAILED, {ERROR_DISK_FULL}, 37075,
       L"The Tarvo package could not be unpacked in the temporary folder "
       L"C:\\T\\Tarvo Installer. There is not enough space on the disk."},
      {PackageFetcher::DOWNLOAD_FAILED, {ERROR_HANDLE_DISK_FULL}, 37076,
       L"Tarvo could not be downloaded to the temporary folder C:\\T\\Tarvo "
       L"Installer. There is not enough space on the disk."},
      // Other causes keep the texts that send the user to the network or
      // to a second try.
      {PackageFetcher::UNPACKING_FAILED, {}, 37054,
       L"The Tarvo package could not be unpacked. Please try again."},
      {PackageFetcher::DOWNLOAD_FAILED, {ERROR_ACCESS_DENIED}, 37053,
       L"Tarvo could not be downloaded. Please check your Internet connection "
       L"and try again."},
      {PackageFetcher::INITIALIZATION_FAILED, {}, 37053,
       L"Tarvo could not be downloaded. Please check your Internet connection "
       L"and try again."},
      // Package files changed after their check were not run: downloading
      // again is the way out, not the network.
      {PackageFetcher::DOWNLOAD_FAILED,
       {0, {SignatureRefusal::kNotSigned, true}},
       37085,
       L"The files of the Tarvo package were changed after they were "
       L"checked, so they were not run. Please download Tarvo again."},
      // A package refused at its first check for its signature is told by
      // the check that refused it.
      {PackageFetcher::DOWNLOAD_FAILED,
       {0, {SignatureRefusal::kOtherPublisher, false}},
       37092,
       L"The Tarvo package is not signed by the publisher of Tarvo, so it "
       L"was not installed. Please download Tarvo again."},
      {PackageFetcher::DOWNLOAD_FAILED,
       {0, {SignatureRefusal::kExpired, true}},
       37090,
       L"The signature of the Tarvo package has expired and carries no valid "
       L"time-stamp, so the package was not installed. Please download the "
       L"latest Tarvo installer."},
      // A package older than the installer is no matter of the network.
      {PackageFetcher::DOWNLOAD_FAILED, {0, {}, true}, 37089,
       L"The downloaded Tarvo package is older than this installer, so it "
       L"was not installed. Please download the latest Tarvo installer."},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.code);
    const RunEnd::Error error = RunEnd::FetchFailureError(
        test_case.state, test_case.cause, folder);
    EXPECT_EQ(test_case.code, error.code);
    EXPECT_EQ(test_case.text, RunEnd::WindowText(error));
    // The report's reason stays the one every failed fetch gives.
    EXPECT_EQ("Fetcher error", error.message);
  }
}

// A backend that hands over follows the package's installer's error with a
// general one: the first of an attempt is what the report keeps, until the
// error was dealt with and the user tries again; a replacing error stands.
TEST(RunEndErrorTest, FirstErrorOfAnAttemptIsKept) {
  // The report's start keys read the process's command line.
  base::CommandLine::Init();
  base::MessageLoop loop;
  base::LoopRunner loop_runner;
  NoPromptUIDelegate ui_delegate;
  Stats stats(&ui_delegate);
  RunEnd run_end(&loop_runner, &stats);
  const auto reason = [&stats] {
    std::string text;
    stats.GetRootForTesting()->GetString("failure_reason", &text);
    return text;
  };
  const RunEnd::Error copy_failed = {37062, L"C:\\T\\a.pak", "copy", 112};

  EXPECT_TRUE(run_end.KeepFirstError(copy_failed));
  EXPECT_FALSE(run_end.KeepFirstError({37055, L"", "general", 0}));
  EXPECT_EQ("copy", reason());

  run_end.OnErrorHandled();
  EXPECT_TRUE(run_end.KeepFirstError({37055, L"", "second try", 0}));
  EXPECT_EQ("second try", reason());

  run_end.ReplaceError({37053, L"", "Fetcher error", 0});
  EXPECT_FALSE(run_end.KeepFirstError(copy_failed));
  EXPECT_EQ("Fetcher error", reason());
}

}  // namespace
}  // namespace installer

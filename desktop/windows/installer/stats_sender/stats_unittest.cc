#include "desktop/windows/installer/stats_sender/stats.h"

#include <cstdint>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/message_loop/message_loop.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class NoPromptUIDelegate : public UIDelegate {
 public:
  void RunUICallbackAndPostReply(base::Callback<int(HWND)> ui_callback,
                                 base::RefPtr<base::TaskRunner> reply_runner,
                                 base::Callback<void(int)> reply) override {
    ADD_FAILURE() << "no request should get as far as a prompt";
  }
};

// The controllers end the run in the done callback: a report that cannot
// be written must still run it, or the installer never exits.
TEST(StatsTest, UnwritableReportStillRunsTheDoneCallback) {
  // The start keys read the process's command line.
  base::CommandLine::Init();
  base::MessageLoop loop;
  NoPromptUIDelegate ui_delegate;
  Stats stats(&ui_delegate);
  // No node writes binary values; the JSON writer refuses them.
  stats.GetRootForTesting()->Set(
      "blob", base::MakeValue<base::Value>(std::vector<uint8_t>{1, 2, 3}));
  int done = 0;

  EXPECT_FALSE(stats.Send(base::Bind([](int* done) { ++*done; }, &done),
                          /*wait_for_network=*/false));
  EXPECT_EQ(1, done);
}

}  // namespace
}  // namespace installer

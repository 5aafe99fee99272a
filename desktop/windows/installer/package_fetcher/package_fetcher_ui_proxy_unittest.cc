#include "desktop/windows/installer/package_fetcher/package_fetcher_ui_proxy.h"

#include <string>
#include <thread>
#include <vector>

#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Writes down every call that reaches the controller, in order.
class RecordingDelegate : public PackageFetcher::Delegate {
 public:
  void SetTotalProgress(int total) override {
    calls.push_back("total " + std::to_string(total));
  }
  void SetCurrentProgress(int current) override {
    currents.push_back(current);
    calls.push_back("current " + std::to_string(current));
  }
  void NotifyStalled() override { calls.push_back("stalled"); }
  void NotifyStatusChanged(int state) override {
    calls.push_back("state " + std::to_string(state));
    if (runner)
      runner->Quit();
  }

  std::vector<std::string> calls;
  std::vector<int> currents;
  base::LoopRunner* runner = nullptr;
};

// Progress given while a progress call is on its way joins that call; any
// other notification keeps its place after the progress before it, and a
// disconnected controller hears nothing more.
TEST(PackageFetcherUIProxyTest, JoinsProgressButKeepsTheOrder) {
  base::MessageLoop loop;
  RecordingDelegate delegate;
  auto proxy = base::MakeRefCounted<PackageFetcherUIProxy>(&delegate, nullptr);

  proxy->SetTotalProgress(3);
  for (int i = 0; i < 3; ++i)
    proxy->SetCurrentProgress(i);
  proxy->NotifyStalled();
  proxy->SetCurrentProgress(5);
  proxy->SetCurrentProgress(6);
  proxy->NotifyStatusChanged(7);
  proxy->SetCurrentProgress(8);
  base::LoopRunner run;
  run.QuitOnceIdle();
  run.Run();

  EXPECT_EQ((std::vector<std::string>{"total 3", "current 2", "stalled",
                                      "current 6", "state 7", "current 8"}),
            delegate.calls);

  proxy->SetCurrentProgress(9);
  proxy->Disconnect();
  base::LoopRunner after;
  after.QuitOnceIdle();
  after.Run();
  EXPECT_EQ(6u, delegate.calls.size());
}

// From a worker thread racing the controller: the values arrive in the
// order given, and the last one always arrives.
TEST(PackageFetcherUIProxyTest, LastProgressFromAnotherThreadArrives) {
  base::MessageLoop loop;
  RecordingDelegate delegate;
  base::LoopRunner run;
  delegate.runner = &run;
  auto proxy = base::MakeRefCounted<PackageFetcherUIProxy>(&delegate, nullptr);
  constexpr int kCount = 20000;

  std::thread worker([&proxy] {
    for (int i = 0; i < kCount; ++i)
      proxy->SetCurrentProgress(i);
    proxy->NotifyStatusChanged(1);
  });
  run.Run();
  worker.join();

  ASSERT_FALSE(delegate.currents.empty());
  EXPECT_EQ(kCount - 1, delegate.currents.back());
  for (size_t i = 1; i < delegate.currents.size(); ++i)
    ASSERT_LT(delegate.currents[i - 1], delegate.currents[i]);
  EXPECT_EQ("state 1", delegate.calls.back());
}

}  // namespace
}  // namespace installer

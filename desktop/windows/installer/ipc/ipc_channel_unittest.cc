#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/observer_list.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/ipc/test/recording_installer_observer.h"
#include "desktop/windows/installer/product/installer_object_names.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr IpcReceiver::ConnectResult kConnected =
    IpcReceiver::ConnectResult::kConnected;

base::win::ScopedHandle OpenForWriting(const std::wstring& mailslot_path) {
  return base::win::ScopedHandle(CreateFileW(
      mailslot_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The receiver creates its mailslot on its own thread after `Connect`.
void WaitForMailslot(const std::wstring& mailslot_path) {
  while (!OpenForWriting(mailslot_path).IsValid())
    Sleep(1);
}

class IpcChannelTest : public testing::Test, public IpcReceiver::Delegate {
 protected:
  IpcChannelTest()
      : channel_(MakeInstallerChannelName(base::FilePath(
            L"C:\\Program Files\\Tarvo " +
            std::to_wstring(GetCurrentProcessId()) + L"\\" + UnitTestName()))),
        mailslot_path_(GetMailslotPath(channel_)),
        receiver_(this) {
    observers_.AddObserver(&observer_);
  }

  static std::wstring UnitTestName() {
    const std::string name =
        testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::wstring(name.begin(), name.end());
  }

  void ConnectBothEnds() {
    ASSERT_EQ(kConnected, receiver_.Connect(channel_));
    WaitForMailslot(mailslot_path_);
    ASSERT_TRUE(sender_.Connect(channel_));
  }

  // Runs the loop until `count` datagrams in all have reached the delegate.
  void WaitForDatagrams(int count) {
    awaited_ = count;
    if (received_ >= awaited_)
      return;
    base::LoopRunner runner;
    runner_ = &runner;
    runner.Run();
    runner_ = nullptr;
  }

  // IpcReceiver::Delegate:
  void OnMessageReceived(const InstallerMessage& message) override {
    ++received_;
    ReplayInstallerMessage(message, observers_);
    if (runner_ && received_ == awaited_)
      runner_->Quit();
  }

  base::MessageLoop loop_;
  const std::wstring channel_;
  const std::wstring mailslot_path_;
  RecordingInstallerObserver observer_;
  base::ObserverList<InstallerObserver> observers_;
  int received_ = 0;
  int awaited_ = 0;
  base::LoopRunner* runner_ = nullptr;
  IpcReceiver receiver_;
  IpcSender sender_;
};

TEST_F(IpcChannelTest, MessagesSentRightBeforeCloseArrive) {
  ConnectBothEnds();
  constexpr int kCount = 200;
  for (int i = 0; i < kCount; ++i)
    sender_.Send(MakeTotalStepsMessage(i));
  sender_.Close();
  WaitForDatagrams(kCount);
  ASSERT_EQ(static_cast<size_t>(kCount), observer_.calls().size());
  for (int i = 0; i < kCount; ++i)
    EXPECT_EQ("OnTotalSteps " + std::to_string(i), observer_.calls()[i]);
}

TEST_F(IpcChannelTest, ClosedReceiverLeavesNoHandleToItsMailslot) {
  // Closed at once: its thread still makes the mailslot, then deletes it.
  ASSERT_EQ(kConnected, receiver_.Connect(channel_));
  receiver_.Close();
  // Under Wine any handle left open would keep the name taken.
  ASSERT_FALSE(OpenForWriting(mailslot_path_).IsValid());
  // Closed while its thread waits in a read.
  ASSERT_EQ(kConnected, receiver_.Connect(channel_));
  WaitForMailslot(mailslot_path_);
  receiver_.Close();
  ASSERT_FALSE(OpenForWriting(mailslot_path_).IsValid());

  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  WaitForDatagrams(1);
  EXPECT_EQ(std::vector<std::string>{"OnStep"}, observer_.calls());
}

// The backend's last datagrams may still wait in the mailslot when its
// process has ended: a flush is answered only after they were delivered.
TEST_F(IpcChannelTest, FlushIsAnsweredAfterTheDatagramsWrittenBefore) {
  ASSERT_EQ(kConnected, receiver_.Connect(channel_));
  constexpr int kCount = 50;
  {
    base::win::ScopedHandle mailslot = OpenForWriting(mailslot_path_);
    ASSERT_TRUE(mailslot.IsValid());
    for (int i = 0; i < kCount; ++i) {
      const std::unique_ptr<InstallerMessage> message =
          MakeTotalStepsMessage(i);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(mailslot.Get(), message->data(),
                            static_cast<DWORD>(message->size()), &written,
                            nullptr));
    }
  }
  base::LoopRunner runner;
  int delivered_at_flush = -1;
  receiver_.Flush(base::Bind(
      [](int* delivered_at_flush, const int* received,
         base::LoopRunner* runner) {
        *delivered_at_flush = *received;
        runner->Quit();
      },
      &delivered_at_flush, &received_, &runner));
  runner.Run();
  EXPECT_EQ(kCount, delivered_at_flush);
  EXPECT_EQ(static_cast<size_t>(kCount), observer_.calls().size());
}

TEST_F(IpcChannelTest, FlushWithoutMailslotIsAnsweredToo) {
  base::LoopRunner runner;
  receiver_.Flush(runner.QuitClosure());
  runner.Run();
  // And a flush still waiting when the receiver closes.
  ASSERT_EQ(kConnected, receiver_.Connect(channel_));
  base::LoopRunner second_runner;
  receiver_.Flush(second_runner.QuitClosure());
  receiver_.Close();
  second_runner.Run();
}

// Another process that made the mailslot first would read the backend's
// reports, and a flush would wait for a marker that never comes back.
TEST_F(IpcChannelTest, MailslotMadeFirstElsewhereIsRefused) {
  base::win::ScopedHandle foreign(
      CreateMailslotW(mailslot_path_.c_str(), 0, 0, nullptr));
  ASSERT_TRUE(foreign.IsValid());

  EXPECT_EQ(IpcReceiver::ConnectResult::kMailslotExists,
            receiver_.Connect(channel_));
  base::LoopRunner runner;
  receiver_.Flush(runner.QuitClosure());
  runner.Run();
  DWORD next_size = 0;
  ASSERT_TRUE(
      GetMailslotInfo(foreign.Get(), nullptr, &next_size, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(MAILSLOT_NO_MESSAGE), next_size);

  // Gone, the name is free for a receiver of its own again.
  foreign.Close();
  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  WaitForDatagrams(1);
  EXPECT_EQ(std::vector<std::string>{"OnStep"}, observer_.calls());
}

}  // namespace
}  // namespace installer

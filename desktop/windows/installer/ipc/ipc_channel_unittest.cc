#include <windows.h>

#include <memory>
#include <string>
#include <vector>

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
#include "gtest/gtest.h"

namespace installer {
namespace {

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

// A datagram written by a peer of our own, not through an `IpcSender`.
void WriteDatagram(const std::wstring& mailslot_path,
                   const std::vector<uint8_t>& bytes) {
  base::win::ScopedHandle mailslot = OpenForWriting(mailslot_path);
  ASSERT_TRUE(mailslot.IsValid());
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(mailslot.Get(), bytes.data(),
                        static_cast<DWORD>(bytes.size()), &written, nullptr));
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
    ASSERT_TRUE(receiver_.Connect(channel_));
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

TEST_F(IpcChannelTest, MessagesArriveInOrderAndReplay) {
  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_CREATED));
  sender_.Send(MakeStartingNewMainProcessMessage(false));
  sender_.Send(
      MakeInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS));
  sender_.Send(MakeTotalStepsMessage(3));
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  sender_.Send(MakeErrorMessage(37059, L"C:\\Tarvo", "Could not create"));
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_SUCCESS));
  WaitForDatagrams(7);
  EXPECT_EQ((std::vector<std::string>{
                "OnInstallFolderCreated", "OnStartingNewMainProcess 0",
                "OnReturnedToPreviousMainProcess", "OnTotalSteps 3", "OnStep",
                "OnError 37059 C:\\Tarvo Could not create", "OnSuccess"}),
            observer_.calls());
}

TEST_F(IpcChannelTest, ForeignDatagramsAreDroppedAndReadingGoesOn) {
  ConnectBothEnds();
  // Wine reads an empty datagram as a broken pipe; reading must go on.
  WriteDatagram(mailslot_path_, {});
  WriteDatagram(mailslot_path_, {1, 2, 3});
  base::BinaryWriter unsigned_message;
  unsigned_message.WriteString("Installer message");
  unsigned_message.WriteUint32(IPC_MESSAGE_SUCCESS);
  WriteDatagram(
      mailslot_path_,
      std::vector<uint8_t>(unsigned_message.data(),
                           unsigned_message.data() + unsigned_message.size()));
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  // The empty datagram never reaches the delegate; the other two do.
  WaitForDatagrams(3);
  EXPECT_EQ(std::vector<std::string>{"OnStep"}, observer_.calls());
}

TEST_F(IpcChannelTest, OversizedMessageIsDroppedAndLaterOnesArrive) {
  ConnectBothEnds();
  std::unique_ptr<InstallerMessage> oversized =
      MakeInstallerMessage(IPC_MESSAGE_STEP);
  oversized->ClaimBytes(kMaxInstallerMessageSize);
  sender_.Send(std::move(oversized));
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_SUCCESS));
  // Had it been written, it would have come first (cut to 2048 bytes under
  // Wine, or refused by Windows and retried before everything else).
  WaitForDatagrams(1);
  EXPECT_EQ(std::vector<std::string>{"OnSuccess"}, observer_.calls());
}

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

TEST_F(IpcChannelTest, ReceiverClosedFirstLeavesTheSenderFree) {
  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  WaitForDatagrams(1);
  receiver_.Close();
  // More than Wine's mailslot buffer holds: later writes wait for a reader
  // that is gone, and closing must cancel them.
  for (int i = 0; i < 1000; ++i)
    sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  sender_.Close();
  EXPECT_EQ(1, received_);
}

TEST_F(IpcChannelTest, SenderClosedFirstLeavesTheReceiverFree) {
  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_SUCCESS));
  WaitForDatagrams(1);
  sender_.Close();
  // The receiver's thread now waits for a datagram that will never come.
  receiver_.Close();
  EXPECT_EQ(std::vector<std::string>{"OnSuccess"}, observer_.calls());
}

TEST_F(IpcChannelTest, ReceiverConnectsAgainAfterClose) {
  // Closed at once: before or after its thread made the mailslot.
  ASSERT_TRUE(receiver_.Connect(channel_));
  receiver_.Close();
  ASSERT_TRUE(receiver_.Connect(channel_));
  WaitForMailslot(mailslot_path_);
  receiver_.Close();
  // Nothing of the earlier runs may keep the name taken.
  ConnectBothEnds();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  WaitForDatagrams(1);
  EXPECT_EQ(std::vector<std::string>{"OnStep"}, observer_.calls());
}

TEST_F(IpcChannelTest, SenderWithoutAReceiverDropsItsMessages) {
  ASSERT_TRUE(sender_.Connect(channel_));
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  sender_.Close();
  sender_.Send(MakeInstallerMessage(IPC_MESSAGE_STEP));
  EXPECT_FALSE(OpenForWriting(mailslot_path_).IsValid());
}

}  // namespace
}  // namespace installer

// Drives the installer's mailslot channel for the end-to-end tests, as
// either of its ends or as a foreign peer. Hexadecimal stands for bytes
// ("-" for none); wide texts travel as their UTF-16LE bytes.
//
//   installer_ipc_tool receive FOLDER COUNT
//     Creates the channel of installation folder FOLDER and prints "ready"
//     once its mailslot exists, then for each datagram
//       "message <the datagram> <replayed call or dropped>"
//     e.g. "message 2C00...  OnError 37055 - 46..." (code, detail, text).
//     After COUNT datagrams prints "received", waits for a line or the end
//     of its input, closes the receiver and prints "closed".
//
//   installer_ipc_tool send FOLDER
//     Connects to the channel of FOLDER and sends, one command a line:
//       folder-created | new-process 0|1 | returned | total N | step |
//       success | error CODE DETAIL TEXT
//       sequence N   total 0 to total N-1
//       oversized N  a step message with N payload bytes more
//       raw BYTES    one datagram written straight to the mailslot, not
//                    through the sender (so unordered with its messages)
//       close        closes the sender
//     and answers each with "ok". The end of its input closes the sender
//     too; "closed" follows either.
//
//   installer_ipc_tool open PATH
//     Opens PATH for writing as a mailslot client: prints "opened", or
//     "failed <error>" and exits with 1.

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/binary_writer.h"
#include "base/files/file_path.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/observer_list.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/product/installer_object_names.h"

namespace {

using installer::InstallerMessage;

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Hex(const void* bytes, size_t count) {
  return count ? base::HexEncode(bytes, count) : "-";
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (hex != "-")
    base::HexStringToBytes(hex, &bytes);
  return bytes;
}

base::win::ScopedHandle OpenMailslot(const std::wstring& path) {
  return base::win::ScopedHandle(CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Prints the operation that a datagram replays, for the receiving end.
class CallPrinter : public installer::InstallerObserver {
 public:
  const std::string& call() const { return call_; }
  void Reset() { call_ = "dropped"; }

  void OnInstallFolderCreated() override { call_ = "OnInstallFolderCreated"; }
  void OnStartingNewMainProcess(bool flag) override {
    call_ = "OnStartingNewMainProcess " + std::to_string(flag);
  }
  void OnReturnedToPreviousMainProcess() override {
    call_ = "OnReturnedToPreviousMainProcess";
  }
  void OnTotalSteps(int count) override {
    call_ = "OnTotalSteps " + std::to_string(count);
  }
  void OnStep() override { call_ = "OnStep"; }
  void OnError(const installer::RunError& error) override {
    call_ = "OnError " + std::to_string(error.code) + " " +
            Hex(error.detail.data(), error.detail.size() * sizeof(wchar_t)) +
            " " + Hex(error.message.data(), error.message.size());
  }
  void OnSuccess() override { call_ = "OnSuccess"; }
  void OnInstallerTerminated(bool success) override {
    call_ = "OnInstallerTerminated " + std::to_string(success);
  }

 private:
  std::string call_;
};

class Receiver : public installer::IpcReceiver::Delegate {
 public:
  explicit Receiver(int count) : remaining_(count) {
    observers_.AddObserver(&printer_);
  }

  void RunUntilAllArrived() {
    if (remaining_ > 0)
      runner_.Run();
  }

  void OnMessageReceived(const InstallerMessage& message) override {
    printer_.Reset();
    installer::ReplayInstallerMessage(message, observers_);
    PrintLine("message " + Hex(message.data(), message.size()) + " " +
              printer_.call());
    if (--remaining_ == 0)
      runner_.Quit();
  }

 private:
  int remaining_;
  CallPrinter printer_;
  base::ObserverList<installer::InstallerObserver> observers_;
  base::LoopRunner runner_;
};

int Receive(const std::wstring& folder, int count) {
  base::MessageLoop loop;
  Receiver delegate(count);
  installer::IpcReceiver receiver(&delegate);
  const std::wstring channel =
      installer::MakeInstallerChannelName(base::FilePath(folder));
  if (receiver.Connect(channel) !=
      installer::IpcReceiver::ConnectResult::kConnected) {
    return 1;
  }
  // The mailslot is made on the receiver's own thread.
  while (!OpenMailslot(installer::GetMailslotPath(channel)).IsValid())
    Sleep(1);
  PrintLine("ready");
  delegate.RunUntilAllArrived();
  PrintLine("received");
  std::string line;
  std::getline(std::cin, line);
  receiver.Close();
  PrintLine("closed");
  return 0;
}

std::unique_ptr<InstallerMessage> MakeMessage(const std::string& command,
                                              std::istringstream& arguments) {
  using namespace installer;
  if (command == "folder-created")
    return MakeInstallerMessage(IPC_MESSAGE_INSTALL_FOLDER_CREATED);
  if (command == "returned")
    return MakeInstallerMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS);
  if (command == "step")
    return MakeInstallerMessage(IPC_MESSAGE_STEP);
  if (command == "success")
    return MakeInstallerMessage(IPC_MESSAGE_SUCCESS);
  int number = 0;
  if (command == "new-process" && arguments >> number)
    return MakeStartingNewMainProcessMessage(number != 0);
  if (command == "total" && arguments >> number)
    return MakeTotalStepsMessage(number);
  std::string detail;
  std::string text;
  if (command == "error" && arguments >> number >> detail >> text) {
    const std::vector<uint8_t> detail_bytes = Bytes(detail);
    const std::vector<uint8_t> text_bytes = Bytes(text);
    return MakeErrorMessage(
        number,
        std::wstring_view(reinterpret_cast<const wchar_t*>(detail_bytes.data()),
                          detail_bytes.size() / sizeof(wchar_t)),
        std::string_view(reinterpret_cast<const char*>(text_bytes.data()),
                         text_bytes.size()));
  }
  if (command == "oversized" && arguments >> number) {
    auto message = MakeInstallerMessage(IPC_MESSAGE_STEP);
    message->ClaimBytes(static_cast<size_t>(number));
    return message;
  }
  return nullptr;
}

bool WriteRaw(const std::wstring& mailslot_path, const std::string& hex) {
  const std::vector<uint8_t> bytes = Bytes(hex);
  base::win::ScopedHandle mailslot = OpenMailslot(mailslot_path);
  DWORD written = 0;
  return mailslot.IsValid() &&
         WriteFile(mailslot.Get(), bytes.data(),
                   static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One command of the sending end; false for one it does not know.
bool RunSendCommand(const std::string& line,
                    installer::IpcSender& sender,
                    const std::wstring& mailslot_path) {
  std::istringstream arguments(line);
  std::string command;
  arguments >> command;
  int count = 0;
  std::string hex;
  if (command == "close") {
    sender.Close();
  } else if (command == "sequence" && arguments >> count) {
    for (int i = 0; i < count; ++i)
      sender.Send(installer::MakeTotalStepsMessage(i));
  } else if (command == "raw" && arguments >> hex) {
    return WriteRaw(mailslot_path, hex);
  } else if (std::unique_ptr<InstallerMessage> message =
                 MakeMessage(command, arguments)) {
    sender.Send(std::move(message));
  } else {
    return false;
  }
  return true;
}

int Send(const std::wstring& folder) {
  base::MessageLoop loop;
  installer::IpcSender sender;
  const std::wstring channel =
      installer::MakeInstallerChannelName(base::FilePath(folder));
  if (!sender.Connect(channel))
    return 1;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!RunSendCommand(line, sender, installer::GetMailslotPath(channel))) {
      PrintLine("bad command: " + line);
      return 2;
    }
    PrintLine("ok");
  }
  sender.Close();
  PrintLine("closed");
  return 0;
}

int Open(const std::wstring& path) {
  if (OpenMailslot(path).IsValid()) {
    PrintLine("opened");
    return 0;
  }
  PrintLine("failed " + std::to_string(GetLastError()));
  return 1;
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  int count = 0;
  base::win::ScopedLocalAlloc<wchar_t*> argv(
      CommandLineToArgvW(GetCommandLineW(), &count));
  const std::wstring mode = count > 1 ? argv.Get()[1] : L"";
  int number = 0;
  if (mode == L"receive" && count == 4 &&
      base::StringToInt(base::WideToUtf8(argv.Get()[3]), &number)) {
    return Receive(argv.Get()[2], number);
  }
  if (mode == L"send" && count == 3)
    return Send(argv.Get()[2]);
  if (mode == L"open" && count == 3)
    return Open(argv.Get()[2]);
  PrintLine(
      "usage: installer_ipc_tool receive FOLDER COUNT | send FOLDER | "
      "open PATH");
  return 2;
}

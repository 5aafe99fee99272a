#include "desktop/windows/installer/ipc/ipc_sender.h"

#include <windows.h>

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/installer_message.h"
#include "desktop/windows/installer/ipc/mailslot_name.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"

namespace installer {

IpcSender::IpcSender() : thread_("Installer IPC thread") {}

IpcSender::~IpcSender() {
  Close();
}

bool IpcSender::Connect(const std::wstring& channel_name) {
  VLOG(1) << "Preparing to send IPC on " << base::WideToUtf8(channel_name);
  base::ThreadStartOptions options;
  options.loop_type = base::MessageLoop::Type::kIO;
  if (!thread_.StartWithOptions(options)) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  thread_.GetTaskRunner()->PostTask(
      FROM_HERE,
      base::Bind(&IpcSender::OpenWriter, this, GetMailslotPath(channel_name)));
  return true;
}

void IpcSender::Send(std::unique_ptr<InstallerMessage> message) {
  if (base::RefPtr<base::SequencedTaskRunner> runner =
          thread_.GetTaskRunner()) {
    runner->PostTask(FROM_HERE,
                     base::Bind(&IpcSender::Enqueue, this, std::move(message)));
  }
}

void IpcSender::Close() {
  VLOG(1) << "Stopping RPC sender";
  if (base::RefPtr<base::SequencedTaskRunner> runner = thread_.GetTaskRunner())
    runner->PostTask(FROM_HERE, base::Bind(&IpcSender::DeleteWriter, this));
  thread_.Stop();
}

void IpcSender::OpenWriter(const std::wstring& mailslot_path) {
  VLOG(1) << "Opening mailslot " << base::WideToUtf8(mailslot_path);
  base::win::ScopedHandle mailslot(
      CreateFileW(mailslot_path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot.IsValid()) {
    // The reader made the mailslot before it started this process: gone,
    // it has ended, and only its reports are lost.
    if (GetLastError() == ERROR_FILE_NOT_FOUND) {
      LOG(WARNING) << "No reader at " << base::WideToUtf8(mailslot_path)
                   << " any more: the reports go nowhere";
    } else {
      PLOG(ERROR) << "Failed opening " << base::WideToUtf8(mailslot_path);
    }
    return;
  }
  writer_ = std::make_unique<MailslotWriter>(std::move(mailslot));
  if (!writer_->RegisterWithLoop())
    writer_.reset();
}

void IpcSender::Enqueue(std::unique_ptr<InstallerMessage>& message) {
  if (writer_)
    writer_->Enqueue(std::move(message));
}

void IpcSender::DeleteWriter() {
  writer_.reset();
}

}  // namespace installer

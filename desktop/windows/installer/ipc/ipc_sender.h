#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_

#include <memory>
#include <string>

#include "base/threading/thread.h"

namespace installer {

class InstallerMessage;
class MailslotWriter;

// The backend's end of the installer channel: opens the mailslot that the
// front end created and writes the messages given to it, in order, on its
// own "Installer IPC thread". Connect, send and close it on one thread.
class IpcSender {
 public:
  IpcSender();
  IpcSender(const IpcSender&) = delete;
  IpcSender& operator=(const IpcSender&) = delete;
  ~IpcSender();

  // Starts the IPC thread, which then opens the mailslot of `channel_name`.
  // False (logged) when the thread cannot start; a mailslot that cannot be
  // opened is only logged, and every message is dropped then.
  bool Connect(const std::wstring& channel_name);
  // Never blocks. A message sent before `Connect` or after `Close` is
  // dropped.
  void Send(std::unique_ptr<InstallerMessage> message);
  // Writes out what the mailslot takes at once, closes it and ends the IPC
  // thread; safe to call more than once.
  void Close();

 private:
  // On the IPC thread.
  void OpenWriter(const std::wstring& mailslot_path);
  void Enqueue(std::unique_ptr<InstallerMessage>& message);
  void DeleteWriter();

  base::Thread thread_;
  // Only the IPC thread touches it while the thread runs.
  std::unique_ptr<MailslotWriter> writer_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_

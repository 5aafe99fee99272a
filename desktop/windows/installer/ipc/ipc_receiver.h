#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_

#include <deque>
#include <memory>
#include <string>

#include "base/closure.h"
#include "base/ref_counted.h"
#include "base/task_runner.h"
#include "base/threading/thread.h"
#include "base/weak_reference.h"
#include "desktop/windows/installer/ipc/mailslot_wake_up.h"

namespace base {
class BinaryWriter;
}

namespace installer {

class InstallerMessage;
class MailslotReader;

// The front end's end of the installer channel: creates the mailslot and
// hands every datagram, in arrival order, to its delegate on the thread that
// constructed it. The mailslot I/O runs on the receiver's own "Installer IPC
// thread". Construct, connect and close it on one thread with a message
// loop.
class IpcReceiver {
 public:
  class Delegate {
   public:
    // Once per datagram received, on the owner thread.
    virtual void OnMessageReceived(const InstallerMessage& message) = 0;

   protected:
    virtual ~Delegate() = default;
  };

  // What `Connect` came to. Only a mailslot this receiver made itself is
  // read: one that another process made first would take the backend's
  // reports, and the run would wait for ever for their end.
  enum class ConnectResult {
    kConnected,
    kThreadFailed,
    // Another process made the mailslot first.
    kMailslotExists,
    kMailslotFailed,
  };

  explicit IpcReceiver(Delegate* delegate);
  IpcReceiver(const IpcReceiver&) = delete;
  IpcReceiver& operator=(const IpcReceiver&) = delete;
  ~IpcReceiver();

  // Starts the IPC thread and has it create the mailslot of `channel_name`
  // before returning, so that a sender started afterwards finds it. Any
  // result but kConnected (logged) leaves the receiver closed, and nothing
  // is delivered then.
  [[nodiscard]] ConnectResult Connect(const std::wstring& channel_name);
  // Runs `done` on the owner thread once every datagram that the mailslot
  // holds now has reached the delegate: a sender that has ended may have
  // left datagrams that the IPC thread has not read yet. Without a mailslot
  // (not connected, closed, or not created) `done` only waits for the
  // datagrams already handed to the owner thread.
  void Flush(base::Closure done);
  // Closes the mailslot and ends the IPC thread; safe to call more than
  // once. Datagrams already handed to the owner thread are still delivered
  // while the receiver exists, and so are the pending flushes after them.
  void Close();

 private:
  // On the IPC thread.
  ConnectResult CreateReader(const std::wstring& mailslot_path);
  void DeleteReader();
  void OnDatagram(const base::BinaryWriter& datagram);

  // On the owner thread.
  void DeliverMessage(const std::unique_ptr<InstallerMessage>& message);
  bool WriteFlushMarker();
  void PostFlushMarkerArrived();
  void OnFlushMarkerArrived();
  void RunPendingFlushes();

  base::Thread thread_;
  base::RefPtr<base::SequencedTaskRunner> owner_task_runner_;
  // Only the IPC thread touches it while the thread runs.
  std::unique_ptr<MailslotReader> reader_;
  MailslotWakeUp wake_up_;
  Delegate* delegate_;
  // Owner thread only.
  std::wstring mailslot_path_;
  std::deque<base::Closure> pending_flushes_;
  base::WeakReferenceSource weak_source_;
  // Taken on the owner thread, copied by the IPC thread into its posts.
  base::WeakReference self_ref_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_

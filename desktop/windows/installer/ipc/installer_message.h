#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "base/binary_writer.h"
#include "base/observer_list.h"

namespace installer {

class InstallerObserver;

// The kinds of message, one per `InstallerObserver` operation that travels.
enum InstallerMessageType : uint32_t {
  IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS = 0,
  IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS = 1,
  IPC_MESSAGE_INSTALL_FOLDER_CREATED = 2,
  IPC_MESSAGE_TOTAL_STEPS = 3,
  IPC_MESSAGE_STEP = 4,
  IPC_MESSAGE_ERROR = 5,
  IPC_MESSAGE_SUCCESS = 6,
};

inline constexpr char kInstallerMessageSignature[] = ":Installer message:";
// One mailslot datagram at most: the mailslot's limit and the read buffer.
inline constexpr size_t kMaxInstallerMessageSize = 2048;

// One datagram of the mailslot channel: the signature, the type and the
// type's payload, in a `BinaryWriter` that travels whole, header included.
class InstallerMessage : public base::BinaryWriter {
 public:
  // The signature and `type`; the caller appends the payload.
  explicit InstallerMessage(InstallerMessageType type);
  // An owned copy of a received datagram (empty when its header was not
  // consistent with its length).
  explicit InstallerMessage(const base::BinaryWriter& received);
};

std::unique_ptr<InstallerMessage> MakeInstallerMessage(
    InstallerMessageType type);

// The messages that carry a payload. The texts of an error are cut, at
// character boundaries, so that the message fits one datagram; each keeps
// at least about half of the room when both are long. `cause` is the
// Windows error behind the failure (0: none known), after the texts so that
// older front ends, which stop reading there, still take the message.
std::unique_ptr<InstallerMessage> MakeStartingNewMainProcessMessage(bool flag);
std::unique_ptr<InstallerMessage> MakeTotalStepsMessage(int count);
std::unique_ptr<InstallerMessage> MakeErrorMessage(int code,
                                                   std::wstring_view detail,
                                                   std::string_view message,
                                                   uint32_t cause = 0);

// Whether a received message is, by its signature and type, a success
// report (its receiver may refuse to believe it).
bool IsSuccessMessage(const base::BinaryWriter& message);

// Checks a received message and calls its operation on every observer. A
// message without the signature, with an unknown type or with a short
// payload is dropped with a warning; false then.
bool ReplayInstallerMessage(const base::BinaryWriter& message,
                            base::ObserverList<InstallerObserver>& observers);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_H_

#include "desktop/windows/installer/ipc/installer_message.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "base/binary_reader.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/ipc/installer_observer.h"

namespace installer {

namespace {

// Header, signature, type, code and the two length fields; a known cause
// takes four bytes more.
constexpr size_t kErrorMessageFixedSize = 44;
constexpr size_t kErrorCauseSize = 4;
constexpr size_t kErrorTextsRoom =
    kMaxInstallerMessageSize - kErrorMessageFixedSize;

static_assert(kErrorTextsRoom % 4 == 0);

size_t Padded(size_t bytes) {
  return (bytes + 3) / 4 * 4;
}

std::string_view CutUtf8(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes)
    return text;
  size_t end = max_bytes;
  // Never keep half of a multi-byte sequence.
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

std::wstring_view CutUtf16(std::wstring_view text, size_t max_units) {
  if (text.size() <= max_units)
    return text;
  size_t end = max_units;
  // Never keep half of a surrogate pair.
  if (end > 0 && IS_HIGH_SURROGATE(text[end - 1]))
    --end;
  return text.substr(0, end);
}

// Shortens the texts of an error so that the message stays within one
// datagram: a longer one would be refused by the mailslot, or (under Wine)
// cut by the reader into a message that no longer parses.
void FitErrorTexts(size_t room,
                   std::wstring_view* detail,
                   std::string_view* message) {
  // What each text may keep when both are long; a multiple of 4, so that
  // the other text's padding cannot overflow the room.
  const size_t share = room / 2 / 4 * 4;
  const size_t message_claim = std::min(Padded(message->size()), share);
  *detail = CutUtf16(*detail, (room - message_claim) / 2);
  *message = CutUtf8(*message, room - Padded(detail->size() * 2));
}

// One received operation with its arguments.
struct ReceivedCall {
  uint32_t type = 0;
  bool flag = false;
  uint32_t number = 0;  // The step count or the error code.
  std::wstring detail;
  std::string message;
  uint32_t cause = 0;
};

// Reads the payload of `call->type`; false, with the warning, when it is
// short. Bytes after it are ignored.
bool ReadPayload(base::BinaryReader& reader, ReceivedCall* call) {
  switch (call->type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS:
      if (reader.ReadBool(&call->flag))
        return true;
      LOG(WARNING)
          << "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS message";
      return false;
    case IPC_MESSAGE_TOTAL_STEPS:
      if (reader.ReadUint32(&call->number))
        return true;
      LOG(WARNING) << "Received invalid IPC_MESSAGE_TOTAL_STEPS message";
      return false;
    case IPC_MESSAGE_ERROR:
      if (reader.ReadUint32(&call->number) &&
          reader.ReadWideString(&call->detail) &&
          reader.ReadString(&call->message)) {
        // Backends before the cause was sent end the message here.
        if (!reader.ReadUint32(&call->cause))
          call->cause = 0;
        return true;
      }
      LOG(WARNING) << "Received invalid IPC_MESSAGE_ERROR message";
      return false;
    default:
      return true;
  }
}

bool ReadCall(const base::BinaryWriter& message, ReceivedCall* call) {
  base::BinaryReader reader(message);
  std::string signature;
  if (!reader.ReadString(&signature) ||
      signature != kInstallerMessageSignature) {
    LOG(WARNING) << "Received a message without installer signature";
    return false;
  }
  if (!reader.ReadUint32(&call->type))
    return false;
  if (call->type > IPC_MESSAGE_SUCCESS) {
    LOG(WARNING) << "Received installer message with invalid type";
    return false;
  }
  return ReadPayload(reader, call);
}

void LogReceived(const ReceivedCall& call) {
  switch (call.type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS:
      VLOG(1) << "IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << call.flag
              << ") received";
      break;
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      VLOG(1) << "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS received";
      break;
    case IPC_MESSAGE_TOTAL_STEPS:
      VLOG(1) << "IPC_MESSAGE_TOTAL_STEPS(" << static_cast<int>(call.number)
              << ") received";
      break;
    case IPC_MESSAGE_STEP:
      VLOG(1) << "IPC_MESSAGE_STEP received";
      break;
    case IPC_MESSAGE_ERROR:
      VLOG(1) << "IPC_MESSAGE_ERROR(" << static_cast<int>(call.number) << ","
              << base::WideToUtf8(call.detail) << "," << call.message << ","
              << call.cause << ") received";
      break;
    case IPC_MESSAGE_SUCCESS:
      VLOG(1) << "IPC_MESSAGE_SUCCESS received";
      break;
    default:
      break;
  }
}

void Notify(const ReceivedCall& call, InstallerObserver& observer) {
  switch (call.type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS:
      observer.OnStartingNewMainProcess(call.flag);
      break;
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      observer.OnReturnedToPreviousMainProcess();
      break;
    case IPC_MESSAGE_INSTALL_FOLDER_CREATED:
      observer.OnInstallFolderCreated();
      break;
    case IPC_MESSAGE_TOTAL_STEPS:
      observer.OnTotalSteps(static_cast<int>(call.number));
      break;
    case IPC_MESSAGE_STEP:
      observer.OnStep();
      break;
    case IPC_MESSAGE_ERROR:
      observer.OnError({static_cast<int>(call.number), call.detail,
                        call.message, call.cause});
      break;
    case IPC_MESSAGE_SUCCESS:
      observer.OnSuccess();
      break;
    default:
      break;
  }
}

}  // namespace

InstallerMessage::InstallerMessage(InstallerMessageType type) {
  WriteString(kInstallerMessageSignature);
  WriteUint32(type);
}

InstallerMessage::InstallerMessage(const base::BinaryWriter& received)
    : base::BinaryWriter(received) {}

std::unique_ptr<InstallerMessage> MakeInstallerMessage(
    InstallerMessageType type) {
  return std::make_unique<InstallerMessage>(type);
}

std::unique_ptr<InstallerMessage> MakeStartingNewMainProcessMessage(bool flag) {
  auto message = MakeInstallerMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteUint32(flag ? 1 : 0);
  return message;
}

std::unique_ptr<InstallerMessage> MakeTotalStepsMessage(int count) {
  auto message = MakeInstallerMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteUint32(static_cast<uint32_t>(count));
  return message;
}

std::unique_ptr<InstallerMessage> MakeErrorMessage(int code,
                                                   std::wstring_view detail,
                                                   std::string_view message,
                                                   uint32_t cause) {
  FitErrorTexts(cause ? kErrorTextsRoom - kErrorCauseSize : kErrorTextsRoom,
                &detail, &message);
  auto error = MakeInstallerMessage(IPC_MESSAGE_ERROR);
  error->WriteUint32(static_cast<uint32_t>(code));
  error->WriteWideString(base::WideStringSlice(detail.data(), detail.size()));
  error->WriteString(base::StringSlice(message.data(), message.size()));
  // Only when known, and last: without one the message keeps the layout
  // every front end reads, and one that predates the cause reads no further
  // than the message.
  if (cause)
    error->WriteUint32(cause);
  return error;
}

bool IsSuccessMessage(const base::BinaryWriter& message) {
  base::BinaryReader reader(message);
  std::string signature;
  uint32_t type = 0;
  return reader.ReadString(&signature) &&
         signature == kInstallerMessageSignature && reader.ReadUint32(&type) &&
         type == IPC_MESSAGE_SUCCESS;
}

bool ReplayInstallerMessage(const base::BinaryWriter& message,
                            base::ObserverList<InstallerObserver>& observers) {
  ReceivedCall call;
  if (!ReadCall(message, &call))
    return false;
  LogReceived(call);
  for (InstallerObserver& observer : observers)
    Notify(call, observer);
  return true;
}

}  // namespace installer

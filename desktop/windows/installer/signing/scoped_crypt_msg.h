#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_MSG_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_MSG_H_

#include <windows.h>
#include <wincrypt.h>

namespace installer {

// Owns one cryptographic message handle, closed with CryptMsgClose. Taking or
// dropping a handle leaves the thread's last error as it was, so that a
// caller can still report the error of the call that failed before.
class ScopedCryptMsg {
 public:
  ScopedCryptMsg() = default;
  explicit ScopedCryptMsg(HCRYPTMSG message);
  ScopedCryptMsg(ScopedCryptMsg&& other) noexcept;
  ScopedCryptMsg& operator=(ScopedCryptMsg&& other) noexcept;
  ScopedCryptMsg(const ScopedCryptMsg&) = delete;
  ScopedCryptMsg& operator=(const ScopedCryptMsg&) = delete;
  ~ScopedCryptMsg();

  bool IsValid() const { return message_ != nullptr; }
  HCRYPTMSG Get() const { return message_; }

  // Closes the held message (unless it is `message` itself) and takes `message`.
  void Set(HCRYPTMSG message);
  // Closes the held message and returns the slot for an out-parameter.
  HCRYPTMSG* Receive();
  void Close() { Set(nullptr); }

 private:
  HCRYPTMSG message_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_MSG_H_

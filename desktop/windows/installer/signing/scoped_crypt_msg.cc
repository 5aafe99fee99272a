#include "desktop/windows/installer/signing/scoped_crypt_msg.h"

#include <utility>

namespace installer {

ScopedCryptMsg::ScopedCryptMsg(HCRYPTMSG message) {
  Set(message);
}

ScopedCryptMsg::ScopedCryptMsg(ScopedCryptMsg&& other) noexcept
    : message_(std::exchange(other.message_, nullptr)) {}

ScopedCryptMsg& ScopedCryptMsg::operator=(ScopedCryptMsg&& other) noexcept {
  if (this != &other)
    Set(std::exchange(other.message_, nullptr));
  return *this;
}

ScopedCryptMsg::~ScopedCryptMsg() {
  Close();
}

void ScopedCryptMsg::Set(HCRYPTMSG message) {
  if (message == message_)
    return;
  const DWORD last_error = ::GetLastError();
  if (message_)
    ::CryptMsgClose(message_);
  message_ = message;
  ::SetLastError(last_error);
}

HCRYPTMSG* ScopedCryptMsg::Receive() {
  Close();
  return &message_;
}

}  // namespace installer

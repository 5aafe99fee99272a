#include "desktop/windows/installer/signing/scoped_cert_store.h"

#include <utility>

namespace installer {

ScopedCertStore::ScopedCertStore(HCERTSTORE store) {
  Set(store);
}

ScopedCertStore::ScopedCertStore(ScopedCertStore&& other) noexcept
    : store_(std::exchange(other.store_, nullptr)) {}

ScopedCertStore& ScopedCertStore::operator=(ScopedCertStore&& other) noexcept {
  if (this != &other)
    Set(std::exchange(other.store_, nullptr));
  return *this;
}

ScopedCertStore::~ScopedCertStore() {
  Close();
}

void ScopedCertStore::Set(HCERTSTORE store) {
  if (store == store_)
    return;
  const DWORD last_error = ::GetLastError();
  if (store_)
    ::CertCloseStore(store_, 0);
  store_ = store;
  ::SetLastError(last_error);
}

HCERTSTORE* ScopedCertStore::Receive() {
  Close();
  return &store_;
}

}  // namespace installer

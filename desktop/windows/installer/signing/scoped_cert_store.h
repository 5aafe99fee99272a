#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CERT_STORE_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CERT_STORE_H_

#include <windows.h>
#include <wincrypt.h>

namespace installer {

// Owns one certificate store handle, closed with CertCloseStore. Taking or
// dropping a handle leaves the thread's last error as it was, so that a
// caller can still report the error of the call that failed before.
class ScopedCertStore {
 public:
  ScopedCertStore() = default;
  explicit ScopedCertStore(HCERTSTORE store);
  ScopedCertStore(ScopedCertStore&& other) noexcept;
  ScopedCertStore& operator=(ScopedCertStore&& other) noexcept;
  ScopedCertStore(const ScopedCertStore&) = delete;
  ScopedCertStore& operator=(const ScopedCertStore&) = delete;
  ~ScopedCertStore();

  bool IsValid() const { return store_ != nullptr; }
  HCERTSTORE Get() const { return store_; }

  // Closes the held store (unless it is `store` itself) and takes `store`.
  void Set(HCERTSTORE store);
  // Closes the held store and returns the slot for an out-parameter.
  HCERTSTORE* Receive();
  void Close() { Set(nullptr); }

 private:
  HCERTSTORE store_ = nullptr;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CERT_STORE_H_

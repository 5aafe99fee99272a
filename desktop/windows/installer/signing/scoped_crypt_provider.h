#ifndef DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_PROVIDER_H_
#define DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_PROVIDER_H_

#include <windows.h>
#include <wincrypt.h>

namespace installer {

// Owners of CryptoAPI's provider, hash and key handles. Releasing one leaves
// the thread's last error as it was, so that a caller can still report the
// error of the call that failed before. Header only, for the host
// executable too.

// A provider context acquired without keys of its own: for hashing and for
// checking signatures with an imported public key.
class ScopedCryptProvider {
 public:
  ScopedCryptProvider() = default;
  ScopedCryptProvider(const ScopedCryptProvider&) = delete;
  ScopedCryptProvider& operator=(const ScopedCryptProvider&) = delete;
  ~ScopedCryptProvider() {
    const DWORD last_error = ::GetLastError();
    if (provider_)
      ::CryptReleaseContext(provider_, 0);
    ::SetLastError(last_error);
  }

  bool Acquire() {
    // PROV_RSA_AES is the provider type that offers SHA-256 and above.
    return ::CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
  }
  HCRYPTPROV Get() const { return provider_; }

 private:
  HCRYPTPROV provider_ = 0;
};

class ScopedCryptHash {
 public:
  ScopedCryptHash() = default;
  ScopedCryptHash(const ScopedCryptHash&) = delete;
  ScopedCryptHash& operator=(const ScopedCryptHash&) = delete;
  ~ScopedCryptHash() {
    const DWORD last_error = ::GetLastError();
    if (hash_)
      ::CryptDestroyHash(hash_);
    ::SetLastError(last_error);
  }

  bool Create(HCRYPTPROV provider, ALG_ID algorithm) {
    return ::CryptCreateHash(provider, algorithm, 0, 0, &hash_);
  }
  HCRYPTHASH Get() const { return hash_; }

 private:
  HCRYPTHASH hash_ = 0;
};

class ScopedCryptKey {
 public:
  ScopedCryptKey() = default;
  ScopedCryptKey(const ScopedCryptKey&) = delete;
  ScopedCryptKey& operator=(const ScopedCryptKey&) = delete;
  ~ScopedCryptKey() {
    const DWORD last_error = ::GetLastError();
    if (key_)
      ::CryptDestroyKey(key_);
    ::SetLastError(last_error);
  }

  // The public key of a certificate.
  bool Import(HCRYPTPROV provider, const CERT_PUBLIC_KEY_INFO& info) {
    return ::CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING,
                                      const_cast<CERT_PUBLIC_KEY_INFO*>(&info),
                                      &key_);
  }
  HCRYPTKEY Get() const { return key_; }

 private:
  HCRYPTKEY key_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SIGNING_SCOPED_CRYPT_PROVIDER_H_

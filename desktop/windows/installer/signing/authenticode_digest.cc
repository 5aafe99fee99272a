#include "desktop/windows/installer/signing/authenticode_digest.h"

#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/sha256_digest.h"

namespace installer {

namespace {

// Owns a CryptoAPI provider context acquired for hashing only. Releasing it
// leaves the thread's last error as it was, so that a caller can still
// report the error of the call that failed before.
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
    // PROV_RSA_AES is the provider type that offers SHA-256.
    return ::CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
  }
  HCRYPTPROV Get() const { return provider_; }

 private:
  HCRYPTPROV provider_ = 0;
};

// Owns one CryptoAPI hash object; destroying it keeps the last error too.
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

bool HashPiece(HCRYPTHASH hash, std::span<const uint8_t> bytes) {
  // CryptHashData takes a DWORD length; views are below 2 GiB.
  return ::CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()),
                         0);
}

}  // namespace

bool ComputeDigest(ALG_ID algorithm,
                   std::span<const std::span<const uint8_t>> pieces,
                   std::vector<uint8_t>* digest) {
  // SHA-256 through the build's own code: CryptoAPI's under Wine hashes
  // about 160 MB/s, a tenth of it, and every signed start hashes the
  // library before it loads it.
  if (algorithm == CALG_SHA_256) {
    ComputeSha256(pieces, digest);
    return true;
  }
  ScopedCryptProvider provider;
  if (!provider.Acquire())
    return false;
  ScopedCryptHash hash;
  if (!hash.Create(provider.Get(), algorithm))
    return false;
  for (std::span<const uint8_t> piece : pieces) {
    if (!HashPiece(hash.Get(), piece))
      return false;
  }
  DWORD size = 0;
  DWORD size_length = sizeof(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHSIZE,
                           reinterpret_cast<BYTE*>(&size), &size_length, 0)) {
    return false;
  }
  digest->resize(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest->data(), &size, 0))
    return false;
  digest->resize(size);
  return true;
}

bool ComputeAuthenticodeDigest(const PeImage& image,
                               ALG_ID algorithm,
                               std::vector<uint8_t>* digest) {
  const std::vector<PeImage::Range> ranges = image.GetDigestedRanges();
  if (ranges.empty()) {
    // A layout the format does not hash: the certificate table among the
    // headers or sections or not last, or sections not back to back.
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  std::vector<std::span<const uint8_t>> pieces;
  for (const PeImage::Range& range : ranges)
    pieces.push_back(image.bytes().subspan(range.begin, range.end - range.begin));
  return ComputeDigest(algorithm, pieces, digest);
}

}  // namespace installer

#include "desktop/windows/installer/signing/authenticode_digest.h"

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/signing/pe_image.h"

namespace installer {

namespace {

// Owns a CryptoAPI provider context acquired for hashing only.
class ScopedCryptProvider {
 public:
  ScopedCryptProvider() = default;
  ScopedCryptProvider(const ScopedCryptProvider&) = delete;
  ScopedCryptProvider& operator=(const ScopedCryptProvider&) = delete;
  ~ScopedCryptProvider() {
    if (provider_)
      ::CryptReleaseContext(provider_, 0);
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

// Owns one CryptoAPI hash object.
class ScopedCryptHash {
 public:
  ScopedCryptHash() = default;
  ScopedCryptHash(const ScopedCryptHash&) = delete;
  ScopedCryptHash& operator=(const ScopedCryptHash&) = delete;
  ~ScopedCryptHash() {
    if (hash_)
      ::CryptDestroyHash(hash_);
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
  ScopedCryptProvider provider;
  if (!provider.Acquire()) {
    PLOG(ERROR) << "CryptAcquireContext";
    return false;
  }
  ScopedCryptHash hash;
  if (!hash.Create(provider.Get(), algorithm)) {
    PLOG(ERROR) << "CryptCreateHash " << algorithm;
    return false;
  }
  for (std::span<const uint8_t> piece : pieces) {
    if (!HashPiece(hash.Get(), piece)) {
      PLOG(ERROR) << "CryptHashData";
      return false;
    }
  }
  DWORD size = 0;
  DWORD size_length = sizeof(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHSIZE,
                           reinterpret_cast<BYTE*>(&size), &size_length, 0)) {
    PLOG(ERROR) << "CryptGetHashParam HP_HASHSIZE";
    return false;
  }
  digest->resize(size);
  if (!::CryptGetHashParam(hash.Get(), HP_HASHVAL, digest->data(), &size, 0)) {
    PLOG(ERROR) << "CryptGetHashParam HP_HASHVAL";
    return false;
  }
  digest->resize(size);
  return true;
}

bool ComputeAuthenticodeDigest(const PeImage& image,
                               ALG_ID algorithm,
                               std::vector<uint8_t>* digest) {
  const std::vector<PeImage::Range> ranges = image.GetDigestedRanges();
  if (ranges.empty()) {
    LOG(ERROR) << "The certificate table lies outside the image";
    return false;
  }
  std::vector<std::span<const uint8_t>> pieces;
  for (const PeImage::Range& range : ranges)
    pieces.push_back(image.bytes().subspan(range.begin, range.end - range.begin));
  return ComputeDigest(algorithm, pieces, digest);
}

}  // namespace installer

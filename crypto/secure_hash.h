#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <cstddef>
#include <memory>

namespace crypto {

// An incremental cryptographic hash. Not thread-safe; one owner at a time.
class SecureHash {
 public:
  enum Algorithm {
    kSha256 = 0,
  };

  virtual ~SecureHash() = default;

  virtual void Update(const void* input, size_t length) = 0;
  // Ends the hash and writes the first `length` bytes of the digest (all of it
  // when `length` is at least GetHashLength()).
  virtual void Finish(void* output, size_t length) = 0;
  virtual size_t GetHashLength() const = 0;
  // A copy of the current state that continues independently.
  virtual std::unique_ptr<SecureHash> Clone() const = 0;
};

// Null, with an error logged, for an algorithm that is not implemented.
std::unique_ptr<SecureHash> CreateSecureHash(SecureHash::Algorithm algorithm);

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_

#include "crypto/secure_hash.h"

#include <openssl/mem.h>
#include <openssl/sha.h>

#include <cstring>

#include "base/logging.h"

namespace crypto {
namespace {

class Sha256Hash : public SecureHash {
 public:
  Sha256Hash() { SHA256_Init(&context_); }
  Sha256Hash(const Sha256Hash& other) = default;
  Sha256Hash& operator=(const Sha256Hash&) = delete;
  // The context holds state derived from the data; it must not outlive us.
  ~Sha256Hash() override { OPENSSL_cleanse(&context_, sizeof(context_)); }

  void Update(const void* input, size_t length) override {
    SHA256_Update(&context_, input, length);
  }

  void Finish(void* output, size_t length) override {
    if (length >= SHA256_DIGEST_LENGTH) {
      SHA256_Final(static_cast<uint8_t*>(output), &context_);
      return;
    }
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256_Final(digest, &context_);
    std::memcpy(output, digest, length);
  }

  size_t GetHashLength() const override { return SHA256_DIGEST_LENGTH; }

  std::unique_ptr<SecureHash> Clone() const override {
    return std::make_unique<Sha256Hash>(*this);
  }

 private:
  SHA256_CTX context_;
};

}  // namespace

std::unique_ptr<SecureHash> CreateSecureHash(SecureHash::Algorithm algorithm) {
  if (algorithm == SecureHash::kSha256)
    return std::make_unique<Sha256Hash>();
  LOG(ERROR) << "NOT IMPLEMENTED";
  return nullptr;
}

}  // namespace crypto

#include "desktop/windows/installer/signing/sha256_digest.h"

#include <openssl/sha.h>

namespace installer {

bool ComputeSha256(const DigestFeed& feed, std::vector<uint8_t>* digest) {
  SHA256_CTX context;
  SHA256_Init(&context);
  if (!feed([&context](std::span<const uint8_t> piece) {
        SHA256_Update(&context, piece.data(), piece.size());
      })) {
    return false;
  }
  digest->resize(SHA256_DIGEST_LENGTH);
  SHA256_Final(digest->data(), &context);
  return true;
}

}  // namespace installer

#include "desktop/windows/installer/signing/sha256_digest.h"

#include <openssl/sha.h>

namespace installer {

void ComputeSha256(std::span<const std::span<const uint8_t>> pieces,
                   std::vector<uint8_t>* digest) {
  SHA256_CTX context;
  SHA256_Init(&context);
  for (std::span<const uint8_t> piece : pieces)
    SHA256_Update(&context, piece.data(), piece.size());
  digest->resize(SHA256_DIGEST_LENGTH);
  SHA256_Final(digest->data(), &context);
}

}  // namespace installer

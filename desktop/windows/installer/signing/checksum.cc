#include "desktop/windows/installer/signing/checksum.h"

#include <cstdint>
#include <memory>

#include "base/files/file.h"
#include "base/files/file_path.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "crypto/secure_hash.h"

namespace installer {
namespace {

constexpr size_t kSha256Length = 32;
constexpr char kHexDigits[] = "0123456789abcdef";

// Windows refuses to map a file of no bytes, so an empty file is told apart
// from an unreadable one by opening it.
bool IsReadableEmptyFile(const base::FilePath& path) {
  base::File file(path, base::File::kOpen | base::File::kRead);
  return file.IsValid() && file.GetLength() == 0;
}

}  // namespace

std::string ComputeChecksum(const void* data, size_t length) {
  std::unique_ptr<crypto::SecureHash> hash =
      crypto::CreateSecureHash(crypto::SecureHash::kSha256);
  CHECK(hash);
  if (length > 0)
    hash->Update(data, length);
  uint8_t digest[kSha256Length];
  hash->Finish(digest, sizeof(digest));

  std::string text;
  text.reserve(2 * kSha256Length);
  for (uint8_t byte : digest) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0xF]);
  }
  return text;
}

bool ChecksumMatches(const base::FilePath& path, const std::string& expected) {
  base::MappedFile mapped;
  if (mapped.Initialize(path, base::MappedFile::kReadOnly)) {
    return ComputeChecksum(mapped.data(),
                           static_cast<size_t>(mapped.length())) == expected;
  }
  if (IsReadableEmptyFile(path))
    return ComputeChecksum(nullptr, 0) == expected;
  LOG(ERROR) << "Unable to read " << path.AsUTF8();
  return false;
}

}  // namespace installer

// Lets the end-to-end tests compare our hashes, base64 decoder and GUIDs with
// Python's in one process per batch:
//   hash_tool hash <file>...  -> per file "<md5> <sha1> <sha256>" in hex
//   hash_tool base64          -> per stdin line of hex-encoded input (empty
//                                for none): "1 <decoded hex>" or "0"
//   hash_tool guid <count>    -> <count> GUID texts, one per line

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/hash/md5.h"
#include "base/hash/sha1.h"
#include "base/rand_util.h"
#include "base/strings/string_number_conversions.h"
#include "crypto/secure_hash.h"

namespace {

bool ReadFile(const char* path, std::string* contents) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
    return false;
  char buffer[1 << 16];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    contents->append(buffer, count);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

std::string Md5Hex(const std::string& data) {
  base::Md5Context context;
  base::Md5Init(&context);
  base::Md5Update(&context, data);
  uint8_t digest[base::kMd5DigestSize];
  base::Md5Final(digest, &context);
  return base::HexEncode(digest, sizeof(digest));
}

std::string Sha1Hex(const std::string& data) {
  uint8_t digest[base::kSha1Length];
  base::Sha1HashBytes(reinterpret_cast<const uint8_t*>(data.data()),
                      data.size(), digest);
  return base::HexEncode(digest, sizeof(digest));
}

std::string Sha256Hex(const std::string& data) {
  auto hash = crypto::CreateSecureHash(crypto::SecureHash::kSha256);
  hash->Update(data.data(), data.size());
  std::vector<uint8_t> digest(hash->GetHashLength());
  hash->Finish(digest.data(), digest.size());
  return base::HexEncode(digest.data(), digest.size());
}

int HashFiles(int count, char** paths) {
  for (int i = 0; i < count; ++i) {
    std::string data;
    if (!ReadFile(paths[i], &data)) {
      std::fprintf(stderr, "cannot read %s\n", paths[i]);
      return 1;
    }
    std::printf("%s %s %s\n", Md5Hex(data).c_str(), Sha1Hex(data).c_str(),
                Sha256Hex(data).c_str());
  }
  return 0;
}

int DecodeBase64Lines() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::vector<uint8_t> input;
    if (!line.empty() && !base::HexStringToBytes(line, &input)) {
      std::printf("bad request\n");
      continue;
    }
    std::string output = "untouched";
    const bool ok = base::Base64Decode(
        base::StringSlice(reinterpret_cast<const char*>(input.data()),
                          input.size()),
        &output);
    if (ok)
      std::printf("1 %s\n", base::HexEncode(output.data(), output.size()).c_str());
    else
      std::printf("0 %s\n", output.c_str());
  }
  return 0;
}

int PrintGuids(const char* count_text) {
  const int count = std::atoi(count_text);
  for (int i = 0; i < count; ++i)
    std::printf("%s\n", base::GenerateGuidText().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "hash")
    return HashFiles(argc - 2, argv + 2);
  if (command == "base64" && argc == 2)
    return DecodeBase64Lines();
  if (command == "guid" && argc == 3)
    return PrintGuids(argv[2]);
  std::fprintf(stderr, "usage: hash_tool hash <file>... | base64 | guid <count>\n");
  return 2;
}

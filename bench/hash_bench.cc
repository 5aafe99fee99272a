// Hash throughput in MB/s (10^6 bytes) over one 256 MB buffer, or over the
// contents of the file named by the first argument (so that a script can time
// other hashers on the very same bytes).

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/hash/md5.h"
#include "base/hash/sha1.h"
#include "bench/bench_harness.h"
#include "crypto/secure_hash.h"

namespace {

constexpr size_t kDefaultSize = 256u << 20;
constexpr size_t kSmokeSize = 1u << 20;
constexpr double kMegabyte = 1e6;

std::string RandomBuffer(size_t size) {
  std::mt19937_64 random(1127);
  std::string buffer(size, '\0');
  for (size_t i = 0; i + 8 <= size; i += 8) {
    const uint64_t word = random();
    for (int j = 0; j < 8; ++j)
      buffer[i + j] = static_cast<char>(word >> (8 * j));
  }
  return buffer;
}

bool ReadFile(const char* path, std::string* contents) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file)
    return false;
  std::string chunk(1 << 20, '\0');
  size_t count;
  while ((count = std::fread(chunk.data(), 1, chunk.size(), file)) > 0)
    contents->append(chunk.data(), count);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = bench::ReadArguments(argc, argv);
  std::string data;
  if (!arguments.empty()) {
    if (!ReadFile(arguments[0].c_str(), &data)) {
      std::fprintf(stderr, "cannot read %s\n", arguments[0].c_str());
      return 1;
    }
  } else {
    data = RandomBuffer(bench::SmokeOr(kDefaultSize, kSmokeSize));
  }
  const double megabytes = data.size() / kMegabyte;

  bench::Report("SHA-256 (Sha256Hash)",
                bench::MeasureRate(
                    [&] {
                      auto hash = crypto::CreateSecureHash(
                          crypto::SecureHash::kSha256);
                      hash->Update(data.data(), data.size());
                      uint8_t digest[32];
                      hash->Finish(digest, sizeof(digest));
                      bench::DoNotOptimize(digest);
                    },
                    megabytes),
                "MB/s");

  bench::Report("MD5", bench::MeasureRate(
                           [&] {
                             base::Md5Context context;
                             base::Md5Init(&context);
                             base::Md5Update(&context, data);
                             uint8_t digest[base::kMd5DigestSize];
                             base::Md5Final(digest, &context);
                             bench::DoNotOptimize(digest);
                           },
                           megabytes),
                "MB/s");

  bench::Report("SHA-1", bench::MeasureRate(
                             [&] {
                               uint8_t digest[base::kSha1Length];
                               base::Sha1HashBytes(
                                   reinterpret_cast<const uint8_t*>(data.data()),
                                   data.size(), digest);
                               bench::DoNotOptimize(digest);
                             },
                             megabytes),
                "MB/s");
  return 0;
}

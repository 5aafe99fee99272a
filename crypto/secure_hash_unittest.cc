#include "crypto/secure_hash.h"

#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

// SHA-256 of "abc" (FIPS 180-2 example).
constexpr char kAbcDigest[] =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

std::string FinishHex(SecureHash* hash, size_t length) {
  std::vector<uint8_t> output(length);
  hash->Finish(output.data(), output.size());
  return base::HexEncode(output.data(), output.size());
}

TEST(SecureHashTest, Sha256OfPiecesMatchesStandardExample) {
  auto hash = CreateSecureHash(SecureHash::kSha256);
  ASSERT_TRUE(hash);
  EXPECT_EQ(32u, hash->GetHashLength());
  hash->Update("a", 1);
  hash->Update("bc", 2);
  EXPECT_EQ(kAbcDigest, FinishHex(hash.get(), 32));
}

TEST(SecureHashTest, CloneContinuesIndependently) {
  auto original = CreateSecureHash(SecureHash::kSha256);
  original->Update("ab", 2);
  auto clone = original->Clone();
  original->Update("c", 1);
  clone->Update("x", 1);
  EXPECT_EQ(kAbcDigest, FinishHex(original.get(), 32));
  // SHA-256 of "abx".
  EXPECT_EQ("B2BDAB4230154046AD0B7DFA830A9260CAA5BD6AE230E582A2244AB4BF0B4CA5",
            FinishHex(clone.get(), 32));
}

TEST(SecureHashTest, ShortFinishWritesOnlyThePrefix) {
  auto hash = CreateSecureHash(SecureHash::kSha256);
  hash->Update("abc", 3);
  std::vector<uint8_t> output(32, 0xEE);
  hash->Finish(output.data(), 16);
  EXPECT_EQ(std::string(kAbcDigest, 32) + std::string(32, 'E'),
            base::HexEncode(output.data(), output.size()));
}

std::string* g_logged = nullptr;

bool CaptureLog(base::LogSeverity severity, const char*, int, size_t start,
                const std::string& text) {
  if (severity == base::LOG_ERROR)
    g_logged->append(text, start);
  return true;
}

TEST(SecureHashTest, UnknownAlgorithmGivesNullAndLogs) {
  std::string logged;
  g_logged = &logged;
  const auto previous = base::GetLogMessageHandler();
  base::SetLogMessageHandler(CaptureLog);
  auto hash = CreateSecureHash(static_cast<SecureHash::Algorithm>(1));
  base::SetLogMessageHandler(previous);
  g_logged = nullptr;
  EXPECT_FALSE(hash);
  EXPECT_NE(std::string::npos, logged.find("NOT IMPLEMENTED")) << logged;
}

}  // namespace
}  // namespace crypto

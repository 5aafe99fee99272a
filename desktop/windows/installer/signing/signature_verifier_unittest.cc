#include "desktop/windows/installer/signing/signature_verifier.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/signing/locked_file_view.h"
#include "desktop/windows/installer/signing/pe_image.h"
#include "desktop/windows/installer/signing/publisher_roots.h"
#include "desktop/windows/installer/signing/scoped_cert_store.h"
#include "desktop/windows/installer/signing/scoped_crypt_msg.h"
#include "desktop/windows/installer/signing/signer_report.h"
#include "desktop/windows/installer/test/signed_test_images.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr size_t kImageSize = 0x200;
// Where the certificate table's size lies, counted from the PE signature.
constexpr size_t kPe32TableSize = 156;
constexpr size_t kPe32PlusTableSize = 172;
constexpr size_t kOptionalHeader = kPeOffset + 24;

void Put32(std::string* image, size_t offset, uint32_t value) {
  std::memcpy(image->data() + offset, &value, sizeof(value));
}

// The headers of an image with 16 data directories; `table_size_at`, when
// not 0, is where a certificate-table size is written.
std::string Headers(uint16_t magic, size_t table_size_at) {
  std::string image(kImageSize, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPeOffset);
  std::memcpy(image.data() + kPeOffset, "PE\0\0", 4);
  std::memcpy(image.data() + kOptionalHeader, &magic, sizeof(magic));
  Put32(&image, kOptionalHeader + (magic == 0x10b ? 92 : 108), 16);
  if (table_size_at)
    Put32(&image, kPeOffset + table_size_at, 0x100);
  return image;
}

std::string WithNewHeaderAt(uint32_t offset) {
  std::string image = Headers(0x20b, kPe32PlusTableSize);
  Put32(&image, 0x3C, offset);
  return image;
}

std::string WithDirectoryCount(uint32_t count) {
  std::string image = Headers(0x20b, kPe32PlusTableSize);
  Put32(&image, kOptionalHeader + 108, count);
  return image;
}

std::string Replaced(std::string image, size_t offset, char value) {
  image[offset] = value;
  return image;
}

struct HeaderCase {
  const char* name;
  std::string bytes;
  bool portable_executable;
  bool has_certificate_table;
  // What Windows would load or run, well-formed or not.
  bool pe_signature;
};

TEST(IsPortableExecutableTest, ReadsCraftedHeadersWithinTheFile) {
  const std::string pe32_plus = Headers(0x20b, kPe32PlusTableSize);
  const HeaderCase cases[] = {
      {"pe32+ with table", pe32_plus, true, true, true},
      {"pe32+ without table", Headers(0x20b, 0), true, false, true},
      {"pe32 with table", Headers(0x10b, kPe32TableSize), true, true, true},
      {"pe32 reads its own place", Headers(0x10b, kPe32PlusTableSize), true,
       false, true},
      {"rom image magic", Headers(0x107, kPe32PlusTableSize), false, false, true},
      {"four directories", WithDirectoryCount(4), true, false, true},
      {"five directories", WithDirectoryCount(5), true, true, true},
      {"cut before the table entry",
       pe32_plus.substr(0, kPeOffset + kPe32PlusTableSize), false, false, true},
      {"cut inside the optional header",
       pe32_plus.substr(0, kOptionalHeader + 60), false, false, true},
      {"cut after the magic", pe32_plus.substr(0, kOptionalHeader + 2), false,
       false, true},
      {"e_lfanew beyond the end", WithNewHeaderAt(0xFFFFFFF0), false, false, false},
      {"e_lfanew at the last bytes", WithNewHeaderAt(kImageSize - 2), false,
       false, false},
      {"no pe signature", Replaced(pe32_plus, kPeOffset + 1, 'X'), false,
       false, false},
      {"no dos magic", Replaced(pe32_plus, 1, 'X'), false, false, false},
      {"shorter than the dos header", pe32_plus.substr(0, 0x3C), false, false, false},
      {"empty", std::string(), false, false, false},
  };
  base::ScopedTempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const base::FilePath path = folder.path().Append(L"image.exe");
  for (const HeaderCase& test : cases) {
    SCOPED_TRACE(test.name);
    ASSERT_EQ(base::WriteBufferToFile(path, test.bytes.data(),
                                      static_cast<int>(test.bytes.size())),
              static_cast<int>(test.bytes.size()));
    bool has_certificate_table = false;
    EXPECT_EQ(IsPortableExecutable(path, &has_certificate_table),
              test.portable_executable);
    EXPECT_EQ(has_certificate_table, test.has_certificate_table);
    EXPECT_EQ(PeImage::HasPeSignature(std::span<const uint8_t>(
                  reinterpret_cast<const uint8_t*>(test.bytes.data()),
                  test.bytes.size())),
              test.pe_signature);
  }
}

TEST(IsPortableExecutableTest, MissingFileIsNone) {
  base::ScopedTempFolder folder;
  bool has_certificate_table = false;
  EXPECT_FALSE(IsPortableExecutable(folder.path().Append(L"missing.exe"),
                                    &has_certificate_table));
}

TEST(VerifyFileSignatureTest, UnsignedImageReportsWhy) {
  base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"unsigned.exe");
  const std::string image = Headers(0x20b, 0);
  ASSERT_EQ(base::WriteBufferToFile(path, image.data(),
                                    static_cast<int>(image.size())),
            static_cast<int>(image.size()));
  std::string report;
  EXPECT_FALSE(VerifyFileSignature(path, &report));
  EXPECT_EQ(report.find("Cannot WinVerifyTrust: "), 0u) << report;
  EXPECT_NE(report.find("\nCannot CryptQueryObject:"), std::string::npos)
      << report;
  EXPECT_FALSE(VerifyFileSignature(path, nullptr));
}

// The platform's check runs beside ours on a handle of its own to the held
// file, held to be read or to be moved alike; either check refuses.
TEST(CheckHeldFileSignatureTest, BothChecksJudgeTheHeldFile) {
  if (!SignedTestImages::Available())
    GTEST_SKIP() << "no signed test images in a release's build";
  const std::vector<uint8_t> ca = SignedTestImages::Certificate(L"ca");
  const std::span<const uint8_t> publisher_root[] = {ca};
  const PublisherRoots roots = PublisherRoots::FromEncoded(publisher_root);
  base::ScopedTempFolder folder;
  std::string changed;
  ASSERT_TRUE(base::ReadFileToString(SignedTestImages::Image(L"good"),
                                     &changed));
  changed[kImageSize] ^= 1;
  const base::FilePath changed_path = folder.path().Append(L"changed.exe");
  ASSERT_EQ(base::WriteBufferToFile(changed_path, changed.data(),
                                    static_cast<int>(changed.size())),
            static_cast<int>(changed.size()));
  const struct {
    base::FilePath file;
    SignatureRefusal refusal;
  } kCases[] = {
      {SignedTestImages::Image(L"good"), SignatureRefusal::kNone},
      {SignedTestImages::Image(L"renewed"), SignatureRefusal::kNone},
      {changed_path, SignatureRefusal::kChanged},
      {SignedTestImages::Image(L"rogue"), SignatureRefusal::kUntrusted},
      {SignedTestImages::Image(L"unsigned"), SignatureRefusal::kNotSigned},
  };
  for (const auto& test_case : kCases) {
    for (const LockedFileView::Access access :
         {LockedFileView::Access::kRead, LockedFileView::Access::kReadAndMove}) {
      SCOPED_TRACE(test_case.file.AsUTF8() +
                   (access == LockedFileView::Access::kRead ? " read"
                                                            : " to be moved"));
      LockedFileView held;
      ASSERT_TRUE(held.Open(test_case.file, access));
      std::string report;
      EXPECT_EQ(CheckHeldFileSignature(held, test_case.file, &roots, &report),
                test_case.refusal)
          << report;
    }
  }
}

TEST(ScopedCryptoHandlesTest, KeepLastErrorWhenTakingAndDropping) {
  ScopedCertStore store;
  ScopedCryptMsg message;
  HCERTSTORE raw_store =
      ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  HCRYPTMSG raw_message = ::CryptMsgOpenToDecode(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
  ASSERT_TRUE(raw_store && raw_message);
  ::SetLastError(ERROR_INVALID_DATA);
  store.Set(raw_store);
  message.Set(raw_message);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  store.Close();
  message.Close();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(store.IsValid());
  EXPECT_FALSE(message.IsValid());
}

TEST(SignerReportTest, CollectingPrefixesEveryLineWithItsDepth) {
  CollectingSignerReport report;
  EXPECT_TRUE(report.WantsDetail());
  report.GetLineStream(0) << "Tried signer A\n";
  report.GetLineStream(1) << "Trust chain:\nChain trust status: " << 0 << "\n";
  report.GetLineStream(0) << "Cannot find any viable signers\n";
  EXPECT_EQ(report.GetText(),
            "Level 0: Tried signer A\n"
            "Level 1: Trust chain:\n"
            "Level 1: Chain trust status: 0\n"
            "Level 0: Cannot find any viable signers\n");
}

TEST(SignerReportTest, DiscardingKeepsNothing) {
  DiscardingSignerReport report;
  EXPECT_FALSE(report.WantsDetail());
  report.GetLineStream(2) << "Tried signer A\n";
  EXPECT_EQ(report.GetText(), "");
}

}  // namespace
}  // namespace installer

#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <cstdint>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_log_capture.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

// Files that installer.exe cannot be: what the reader makes of broken PE
// headers and of data given from outside. The end-to-end tests read the
// payloads of real, signed executables.

namespace installer {
namespace {

constexpr uint32_t kPeOffset = 0x40;

void PutUint32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

// The headers the reader looks at of a PE32+ image: "MZ", the PE offset,
// the signature, the machine and the certificate-table entry.
std::string PeHeaders(uint32_t certificate_offset, uint32_t certificate_size) {
  std::string bytes(kPeOffset + 176, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutUint32(&bytes, 0x3C, kPeOffset);
  bytes.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  bytes[kPeOffset + 4] = static_cast<char>(0x64);  // AMD64
  bytes[kPeOffset + 5] = static_cast<char>(0x86);
  PutUint32(&bytes, kPeOffset + 168, certificate_offset);
  PutUint32(&bytes, kPeOffset + 172, certificate_size);
  return bytes;
}

std::string Trailer(const std::string& payload) {
  std::string length(4, '\0');
  PutUint32(&length, 0, static_cast<uint32_t>(payload.size()));
  return "TRV" + payload + length;
}

class PayloadReaderTest : public testing::Test {
 protected:
  base::FilePath Write(const std::string& bytes) {
    const base::FilePath path =
        temp_.path().Append(L"file" + std::to_wstring(count_++) + L".exe");
    EXPECT_EQ(base::WriteBufferToFile(path, bytes.data(),
                                      static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    return path;
  }

  base::ScopedTempFolder temp_;
  int count_ = 0;
};

TEST_F(PayloadReaderTest, BrokenHeadersMakeTheFileCorrupted) {
  std::string truncated_pe = PeHeaders(0, 0);
  truncated_pe.resize(kPeOffset + 100);
  std::string pe_offset_past_end = PeHeaders(0, 0);
  PutUint32(&pe_offset_past_end, 0x3C, 0xFFFFFFF0);
  const std::string tracking = Trailer("tracking");
  for (const std::string& bytes :
       {"ZM" + PeHeaders(0, 0).substr(2) + tracking,
        std::string("MZ") + tracking, truncated_pe, pe_offset_past_end}) {
    PayloadReader reader(Write(bytes));
    EXPECT_EQ(reader.type(), PayloadReader::kCorrupted);
    EXPECT_EQ(reader.GetPayloadData(), "");
    EXPECT_FALSE(reader.WritePayloadToFile(temp_.path().Append(L"out")));
  }
}

TEST_F(PayloadReaderTest, CertificateTablePastTheEndIsCorrupted) {
  const std::string headers = PeHeaders(0, 0);
  const std::string bytes =
      PeHeaders(static_cast<uint32_t>(headers.size()) + 100, 8) +
      Trailer("tracking");
  base::ScopedLogCapture log;
  PayloadReader reader(Write(bytes));
  EXPECT_EQ(reader.type(), PayloadReader::kCorrupted);
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{
                "Reading Payload",
                "Security directory is located past the image file length"}));
}

TEST_F(PayloadReaderTest, ExternalTrackingDataReplacesTheFilesOwn) {
  const std::string own(500, 'x');
  PayloadReader reader(Write(PeHeaders(0, 0) + Trailer(own)));
  ASSERT_EQ(reader.type(), PayloadReader::kTrackingData);
  EXPECT_EQ(reader.GetPayloadData(), own);
  reader.SetExternalTrackingData("0123456789");
  EXPECT_EQ(reader.type(), PayloadReader::kExternalTrackingData);
  const base::FilePath out = temp_.path().Append(L"payload");
  ASSERT_TRUE(reader.WritePayloadToFile(out));
  std::string written;
  ASSERT_TRUE(base::ReadFileToString(out, &written));
  EXPECT_EQ(written, "0123456789");
}

TEST_F(PayloadReaderTest, TooLongLengthAtTheEndStillTriesBeforeTheTable) {
  const std::string inside = Trailer("tracking");
  std::string bytes = PeHeaders(0, 0) + inside;
  const uint32_t table = static_cast<uint32_t>(bytes.size());
  PutUint32(&bytes, kPeOffset + 168, table);
  PutUint32(&bytes, kPeOffset + 172, 8);
  bytes += std::string(4, '\0') + std::string("\xFF\xFF\xFF\x7F", 4);
  PayloadReader reader(Write(bytes));
  EXPECT_EQ(reader.type(), PayloadReader::kTrackingData);
  EXPECT_EQ(reader.GetPayloadData(), "tracking");
}

TEST(PayloadTypeToStringTest, NamesEveryTypeAndNothingElse) {
  const std::vector<std::string> names = {
      PayloadTypeToString(-1), PayloadTypeToString(0), PayloadTypeToString(1),
      PayloadTypeToString(2),  PayloadTypeToString(3), PayloadTypeToString(4),
      PayloadTypeToString(5)};
  EXPECT_EQ(names, (std::vector<std::string>{
                       "", "none", "tracking_data", "external_tracking_data",
                       "full_package", "corrupted", ""}));
}

}  // namespace
}  // namespace installer

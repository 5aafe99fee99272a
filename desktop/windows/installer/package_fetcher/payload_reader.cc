#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <windows.h>

#include <array>
#include <climits>
#include <cstring>
#include <iterator>

#include "base/files/file_util.h"
#include "base/logging.h"

namespace installer {

namespace {

constexpr char kPayloadToken[] = "TRV";
constexpr uint64_t kTokenSize = sizeof(kPayloadToken) - 1;
constexpr uint64_t kLengthSize = 4;
constexpr std::array<uint8_t, 6> kSevenZipSignature = {0x37, 0x7A, 0xBC,
                                                       0xAF, 0x27, 0x1C};

// Where the PE headers keep what the reader needs.
constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint64_t kMachineOffset = 4;
constexpr uint64_t kPe32CertificateEntry = 152;
constexpr uint64_t kPe32PlusCertificateEntry = 168;

constexpr const char* kPayloadTypeNames[] = {
    "none", "tracking_data", "external_tracking_data", "full_package",
    "corrupted",
};

uint32_t ReadUint32(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 |
         static_cast<uint32_t>(data[3]) << 24;
}

uint16_t ReadUint16(const uint8_t* data) {
  return static_cast<uint16_t>(data[0] | data[1] << 8);
}

struct CertificateTable {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// The certificate-table entry of a PE file's optional header; false when
// the file is not a PE file or too short for the fields.
bool ReadCertificateTable(const uint8_t* data,
                          uint64_t length,
                          CertificateTable* table) {
  if (length < kPeOffsetField + 4 || data[0] != 'M' || data[1] != 'Z')
    return false;
  const uint64_t pe = ReadUint32(data + kPeOffsetField);
  if (pe + kMachineOffset + 2 > length || std::memcmp(data + pe, "PE\0\0", 4))
    return false;
  const uint64_t entry = ReadUint16(data + pe + kMachineOffset) == kMachineI386
                             ? pe + kPe32CertificateEntry
                             : pe + kPe32PlusCertificateEntry;
  if (entry + 8 > length)
    return false;
  table->offset = ReadUint32(data + entry);
  table->size = ReadUint32(data + entry + 4);
  return true;
}

bool IsSevenZipSignature(const uint8_t* data, uint64_t length) {
  return length >= kSevenZipSignature.size() &&
         std::memcmp(data, kSevenZipSignature.data(),
                     kSevenZipSignature.size()) == 0;
}

}  // namespace

PayloadReader::PayloadReader(const base::FilePath& path) : path_(path) {
  type_ = ReadPayload();
}

PayloadReader::~PayloadReader() = default;

std::string PayloadReader::GetPayloadData() const {
  switch (type_) {
    case kNone:
    case kCorrupted:
      return std::string();
    case kExternalTrackingData:
      return external_tracking_data_;
    case kTrackingData:
    case kFullPackage:
      break;
  }
  return std::string(reinterpret_cast<const char*>(file_.data()) +
                         payload_offset_,
                     payload_length_);
}

void PayloadReader::SetExternalTrackingData(const std::string& data) {
  external_tracking_data_ = data;
  type_ = kExternalTrackingData;
}

bool PayloadReader::WritePayloadToFile(const base::FilePath& path) const {
  if (type_ == kNone || type_ == kCorrupted)
    return false;
  LOG(INFO) << "Writing payload to file" << path.value().c_str();
  if (type_ == kFullPackage) {
    CHECK(payload_length_ <= INT_MAX);
    const int size = static_cast<int>(payload_length_);
    return base::WriteBufferToFile(
               path,
               reinterpret_cast<const char*>(file_.data()) + payload_offset_,
               size) == size;
  }
  const std::string data = GetPayloadData();
  const int size = static_cast<int>(data.size());
  return base::WriteBufferToFile(path, data.data(), size) == size;
}

PayloadReader::PayloadType PayloadReader::ReadPayload() {
  LOG(INFO) << "Reading Payload";
  if (!file_.Initialize(path_, base::MappedFile::kReadOnly)) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    return kNone;
  }
  const uint64_t length = static_cast<uint64_t>(file_.length());
  CertificateTable table;
  if (!ReadCertificateTable(file_.data(), length, &table))
    return kCorrupted;
  if (table.offset > length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    return kCorrupted;
  }
  const bool signed_file = table.size != 0;
  const bool at_end = length >= kLengthSize && FindPayloadStart(length - kLengthSize);
  if (!at_end && !(signed_file && table.offset >= kLengthSize &&
                   FindPayloadStart(table.offset - kLengthSize))) {
    LOG(WARNING) << "No valid payload found";
    return kNone;
  }
  if (!IsSevenZipSignature(file_.data() + payload_offset_, payload_length_))
    return kTrackingData;
  // The signature does not vouch for what follows the certificate table.
  if (signed_file && at_end) {
    LOG(ERROR) << "Found full package that is not covered by the signature";
    return kNone;
  }
  return kFullPackage;
}

bool PayloadReader::FindPayloadStart(uint64_t position) {
  payload_length_ = ReadUint32(file_.data() + position);
  if (payload_length_ + kTokenSize > position) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t offset = position - payload_length_;
  if (std::memcmp(file_.data() + offset - kTokenSize, kPayloadToken,
                  kTokenSize) != 0) {
    VLOG(1) << "Payload data invalid";
    return false;
  }
  payload_offset_ = offset;
  return true;
}

std::string PayloadTypeToString(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(std::size(kPayloadTypeNames)))
    return std::string();
  return kPayloadTypeNames[type];
}

}  // namespace installer

#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "base/files/file.h"
#include "base/logging.h"
#include "desktop/windows/installer/system/write_whole_buffer.h"

namespace installer {
namespace {

constexpr char kPayloadToken[] = {'T', 'R', 'V'};
constexpr uint64_t kTokenSize = sizeof(kPayloadToken);
constexpr uint64_t kLengthFieldSize = 4;
constexpr uint8_t kSevenZipSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
// The head of a package's trailer: the token right before the 7z signature.
constexpr uint8_t kPackageTrailerHead[] = {'T',  'R',  'V',  0x37, 0x7A,
                                           0xBC, 0xAF, 0x27, 0x1C};
// Tracking data is a short text; anything longer, or holding bytes no text
// holds, is a damaged package, never something to send to a server.
constexpr uint64_t kMaxTrackingDataLength = 64 * 1024;

// PE headers, as far as the certificate table is concerned.
constexpr uint8_t kDosMagic[] = {'M', 'Z'};
constexpr uint64_t kPeOffsetField = 0x3C;
constexpr uint8_t kPeSignature[] = {'P', 'E', 0, 0};
constexpr uint64_t kMachineField = 4;  // From the PE signature.
constexpr uint64_t kSectionCountField = 6;
constexpr uint64_t kOptionalHeaderSizeField = 20;
constexpr uint64_t kOptionalHeaderOffset = 24;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint64_t kSectionRawSizeField = 16;
constexpr uint64_t kSectionRawOffsetField = 20;
constexpr uint16_t kMachineI386 = 0x014C;
// The certificate table's data-directory entry, from the PE signature.
constexpr uint64_t kPe32CertificateEntry = 152;
constexpr uint64_t kPe32PlusCertificateEntry = 168;
// Signing pads the signed part to a multiple of 8 bytes with zeros before
// it adds the certificate table.
constexpr uint64_t kMaxSigningPadding = 7;

constexpr const char* kPayloadTypeNames[] = {"none", "tracking_data",
                                             "external_tracking_data",
                                             "full_package", "corrupted"};

bool IsTextByte(uint8_t byte) {
  return byte >= 0x20 ? byte != 0x7F
                      : byte == '\t' || byte == '\r' || byte == '\n';
}

// Every offset is 64-bit: a 32-bit length near 2^32 must not wrap past the
// checks that keep reads inside the file.
class MappedBytes {
 public:
  MappedBytes(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}

  bool Contains(uint64_t offset, uint64_t count) const {
    return offset <= size_ && count <= size_ - offset;
  }
  bool Matches(uint64_t offset, const void* expected, uint64_t count) const {
    return Contains(offset, count) &&
           std::memcmp(data_ + offset, expected, count) == 0;
  }
  std::optional<uint64_t> ReadLittleEndian(uint64_t offset,
                                           uint64_t count) const {
    if (!Contains(offset, count))
      return std::nullopt;
    uint64_t value = 0;
    for (uint64_t i = count; i > 0; --i)
      value = (value << 8) | data_[offset + i - 1];
    return value;
  }

 private:
  const uint8_t* data_;
  uint64_t size_;
};

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
  return std::string(
      reinterpret_cast<const char*>(file_.data() + payload_offset_),
      payload_length_);
}

void PayloadReader::SetExternalTrackingData(const std::string& data) {
  external_tracking_data_ = data;
  type_ = kExternalTrackingData;
}

bool PayloadReader::WritePayloadToFile(const base::FilePath& path) const {
  if (type_ == kNone || type_ == kCorrupted)
    return false;
  LOG(INFO) << "Writing payload to file" << path.AsUTF8();
  base::File file(path, base::File::kCreateAlways | base::File::kWrite);
  if (!file.IsValid()) {
    PLOG(ERROR) << "Could not create the payload file";
    return false;
  }
  // A package is written straight from the mapped file; only tracking data
  // is small enough to copy.
  DWORD error = ERROR_SUCCESS;
  if (type_ == kFullPackage) {
    error = WriteWholeBuffer(file.GetPlatformFile(),
                             file_.data() + payload_offset_, payload_length_);
  } else {
    const std::string data = GetPayloadData();
    error = WriteWholeBuffer(file.GetPlatformFile(), data.data(), data.size());
  }
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "Could not write the payload: "
               << base::SystemErrorCodeToString(error);
    return false;
  }
  return true;
}

bool PayloadReader::GetPackageRange(uint64_t* offset, uint64_t* length) const {
  if (type_ != kFullPackage)
    return false;
  *offset = payload_offset_;
  *length = payload_length_;
  return true;
}

PayloadReader::PayloadType PayloadReader::ReadPayload() {
  LOG(INFO) << "Reading Payload";
  if (!file_.Initialize(path_, base::MappedFile::kReadOnly)) {
    LOG(ERROR) << "Could not initialize memory mapped file";
    return kNone;
  }
  uint64_t table_offset = 0;
  uint64_t table_size = 0;
  if (!ReadCertificateTableEntry(&table_offset, &table_size))
    return kCorrupted;
  const uint64_t file_length = static_cast<uint64_t>(file_.length());
  const bool has_table = table_size != 0;
  if (has_table && table_offset > file_length) {
    LOG(ERROR) << "Security directory is located past the image file length";
    return kCorrupted;
  }
  // A file cut inside its certificate table lost its signature and, with
  // it, whatever it carried.
  if (has_table && table_size > file_length - table_offset) {
    LOG(ERROR) << "Security directory runs past the image file length";
    return kCorrupted;
  }

  const bool found_at_end = FindPayloadStart(file_length - kLengthFieldSize);
  if (!found_at_end &&
      !(has_table && FindPayloadStartBeforeTable(table_offset))) {
    // A package whose length field was damaged leaves its trailer's head
    // behind; without this it would pass for an installer without payload.
    if (HasPackageTrailerHead()) {
      LOG(ERROR) << "Found a package whose trailer is damaged";
      return kCorrupted;
    }
    LOG(WARNING) << "No valid payload found";
    return kNone;
  }
  if (!IsSevenZipSignature()) {
    if (!IsTrackingText()) {
      LOG(ERROR) << "Payload is neither a package nor tracking data";
      return kCorrupted;
    }
    return kTrackingData;
  }
  if (has_table && found_at_end) {
    LOG(ERROR) << "Found full package that is not covered by the signature";
    return kCorrupted;
  }
  return kFullPackage;
}

bool PayloadReader::ReadCertificateTableEntry(uint64_t* offset,
                                              uint64_t* size) const {
  const MappedBytes bytes(file_.data(), file_.length());
  if (!bytes.Matches(0, kDosMagic, sizeof(kDosMagic)))
    return false;
  const std::optional<uint64_t> pe_offset =
      bytes.ReadLittleEndian(kPeOffsetField, 4);
  if (!pe_offset ||
      !bytes.Matches(*pe_offset, kPeSignature, sizeof(kPeSignature))) {
    return false;
  }
  const std::optional<uint64_t> machine =
      bytes.ReadLittleEndian(*pe_offset + kMachineField, 2);
  if (!machine)
    return false;
  const uint64_t entry =
      *pe_offset + (*machine == kMachineI386 ? kPe32CertificateEntry
                                             : kPe32PlusCertificateEntry);
  const std::optional<uint64_t> table_offset = bytes.ReadLittleEndian(entry, 4);
  const std::optional<uint64_t> table_size =
      bytes.ReadLittleEndian(entry + 4, 4);
  if (!table_offset || !table_size)
    return false;
  *offset = *table_offset;
  *size = *table_size;
  return true;
}

bool PayloadReader::FindPayloadStart(uint64_t position) {
  const MappedBytes bytes(file_.data(), file_.length());
  const std::optional<uint64_t> length =
      bytes.ReadLittleEndian(position, kLengthFieldSize);
  if (!length)
    return false;
  payload_length_ = *length;
  if (payload_length_ + kTokenSize > position) {
    VLOG(1) << "Could not find a valid starting position";
    return false;
  }
  const uint64_t start = position - payload_length_;
  if (!bytes.Matches(start - kTokenSize, kPayloadToken, kTokenSize)) {
    VLOG(1) << "Payload data invalid";
    return false;
  }
  payload_offset_ = start;
  return true;
}

bool PayloadReader::FindPayloadStartBeforeTable(uint64_t table_offset) {
  const MappedBytes bytes(file_.data(), file_.length());
  for (uint64_t padding = 0; padding <= kMaxSigningPadding; ++padding) {
    if (table_offset < kLengthFieldSize + padding)
      return false;
    const uint8_t zero = 0;
    if (padding > 0 && !bytes.Matches(table_offset - padding, &zero, 1))
      return false;
    if (FindPayloadStart(table_offset - padding - kLengthFieldSize))
      return true;
  }
  return false;
}

bool PayloadReader::IsSevenZipSignature() const {
  const MappedBytes payload(file_.data() + payload_offset_, payload_length_);
  return payload.Matches(0, kSevenZipSignature, sizeof(kSevenZipSignature));
}

bool PayloadReader::IsTrackingText() const {
  if (payload_length_ > kMaxTrackingDataLength)
    return false;
  const uint8_t* payload = file_.data() + payload_offset_;
  return std::all_of(payload, payload + payload_length_, IsTextByte);
}

uint64_t PayloadReader::GetImageEnd() const {
  const MappedBytes bytes(file_.data(), file_.length());
  const std::optional<uint64_t> pe_offset =
      bytes.ReadLittleEndian(kPeOffsetField, 4);
  if (!pe_offset)
    return 0;
  const std::optional<uint64_t> sections =
      bytes.ReadLittleEndian(*pe_offset + kSectionCountField, 2);
  const std::optional<uint64_t> optional_header_size =
      bytes.ReadLittleEndian(*pe_offset + kOptionalHeaderSizeField, 2);
  if (!sections || !optional_header_size)
    return 0;
  const uint64_t table =
      *pe_offset + kOptionalHeaderOffset + *optional_header_size;
  uint64_t end = table + *sections * kSectionHeaderSize;
  for (uint64_t i = 0; i < *sections; ++i) {
    const uint64_t header = table + i * kSectionHeaderSize;
    const std::optional<uint64_t> size =
        bytes.ReadLittleEndian(header + kSectionRawSizeField, 4);
    const std::optional<uint64_t> offset =
        bytes.ReadLittleEndian(header + kSectionRawOffsetField, 4);
    if (!size || !offset)
      break;
    end = std::max(end, *offset + *size);
  }
  return std::min<uint64_t>(end, file_.length());
}

bool PayloadReader::HasPackageTrailerHead() const {
  // Only the data after the image is searched: the code of a program that
  // reads payloads may hold the same bytes.
  const uint8_t* const appended = file_.data() + GetImageEnd();
  const uint8_t* const file_end = file_.data() + file_.length();
  const uint8_t* const found =
      std::search(appended, file_end, std::begin(kPackageTrailerHead),
                  std::end(kPackageTrailerHead));
  return found != file_end;
}

std::string PayloadTypeToString(int32_t type) {
  if (type < 0 || type >= static_cast<int32_t>(std::size(kPayloadTypeNames)))
    return std::string();
  return kPayloadTypeNames[type];
}

}  // namespace installer
